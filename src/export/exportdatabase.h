#pragma once

#include "gradebook.h"
#include "tables.h"

#include <QList>
#include <QString>

#include <map>

class LogSink;
class NoticeSink;

// One grade-book CSV file to write.
struct ExportFile
{
    QString key;
    QString filePath;
    QString baseName;
    int questionCount = 0;
    QList<int> pages;
    StudentTable students;
    // Who each student is, by student number, from the first response; kept only when the
    // files' layout asks for it.
    QList<Gradebook::Identity> identities;
    // The document's base name, which names a layout's grade column.
    QString documentName;

    // The latest writeCsvFiles: whether the file was written, its rows, and the students left
    // out for want of a student id (their names, else device labels).
    bool written = false;
    qsizetype rowsWritten = 0;
    QStringList withoutId;
};

// The tables of one export run, and the user-facing output seams.
class exportDatabase
{
public:
    QuestionCatalogue questions;
    // Node-based so that a record never moves once created: the page pass and every
    // catalogue entry point at records while more are added.
    std::map<QString, ExportFile> exportFiles;
    // The files' layout and what goes with it; the default writes the plain files.
    Gradebook::Options gradebook;
    LogSink *log = nullptr;
    NoticeSink *notices = nullptr;

    void clear();
    ExportFile &addExportFile(const QString &key, const QString &stem);
    void writeCsvFiles(const QString &folder);
    void tallyCorrect();

    void logLine(const QString &line);
    void logEmptyLine();
    void notice(const QString &title, const QString &text);

    // Number of export files that could not be written in the latest writeCsvFiles call.
    int failedFiles = 0;
};
