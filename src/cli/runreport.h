#pragma once

#include <QList>
#include <QString>

class raZuzezoz;

// The JSON account of one call of scorlet-export, for scripts and school IT: what each
// document gave and which CSV files were written.
class RunReport
{
public:
    // After the engine's run of `document`.
    void addRun(const QString &document, const raZuzezoz &engine);

    // Written in one piece through a temporary file, so that a reader never sees half of it.
    // Returns an error text, or a null string.
    QString write(const QString &file, int exitStatus) const;

private:
    struct CsvFile
    {
        QString path;
        bool written = false;
        qsizetype students = 0;
        int questions = 0;
    };
    struct Document
    {
        QString path;
        bool opened = false;
        QString reason;
        bool leftOut = false;
        bool pagesComplete = false;
        bool instancesComplete = false;
        bool complete = false;
        QList<CsvFile> files;
    };
    QList<Document> m_documents;
};
