#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <map>

class LogSink;
class NoticeSink;

// The kept verdict of one student's latest attempt at one question.
struct AnswerState
{
    bool correct = false;
    int time = 0;
};

// One student within one export file.
struct StudentRecord
{
    QString key;
    int correct = 0;
    QHash<QString, AnswerState> answers;
};

// One grade-book CSV file to write.
struct ExportFile
{
    QString key;
    QString filePath;
    QString baseName;
    int questionCount = 0;
    QList<int> pages;
    QHash<QString, StudentRecord> students;
};

// A catalogued gradable question and the export file its responses go to.
struct QuestionEntry
{
    QString id;
    int page = -1;
    ExportFile *file = nullptr;
};

// The tables of one export run, and the user-facing output seams.
class exportDatabase
{
public:
    QHash<QString, QuestionEntry> questions;
    // Node-based so that a record never moves once created: the page pass and every
    // catalogue entry point at records while more are added.
    std::map<QString, ExportFile> exportFiles;
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
