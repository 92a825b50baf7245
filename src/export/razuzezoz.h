#pragma once

#include "exportdatabase.h"

#include <QObject>
#include <QString>

#include <functional>

namespace Zazizi {
class Plexa;
class Test;
class SelfPacedTest;
class InstructorPacedTest;
class Question;
class Response;
} // namespace Zazizi

// The export engine: one run reads one Plexa document and writes its grade-book CSV files.
class raZuzezoz : public QObject
{
public:
    raZuzezoz();
    ~raZuzezoz() override;

    exportDatabase database;
    QString folder;
    Zazizi::Plexa *plexa = nullptr;
    bool questionPass = false;
    int currentPage = -1;
    ExportFile *currentFile = nullptr;
    QString plexaPath;
    QString outputStem;

    bool exportPlexa(const QString &path, const QString &stem);

    // Asked once per run, after the page pass has planned the export files and before any
    // response is collected; when it answers false the run ends there and touches no file.
    // Unset, every run goes on.
    std::function<bool(const exportDatabase &)> acceptExportFiles;

    bool dumpQuestions();
    bool dumpResponses();
    void dumpTest(Zazizi::Test *test);
    void dumpSelfPacedTest(Zazizi::SelfPacedTest *test);
    void dumpInstructorPacedTest(Zazizi::InstructorPacedTest *test);
    void dumpQuestion(Zazizi::Question *question);

    QString studentKey(Zazizi::Response *response) const;
    QString questionTypeName(Zazizi::Question *question) const;
    bool gradeResponse(Zazizi::Question *question, Zazizi::Response *response,
                       const QString &typeName) const;

    // What the latest run achieved, for callers that report it (scorlet-export's exit status).
    struct RunReport
    {
        bool opened = false;
        // Why the document did not open, as the document library gives it.
        QString openFailure;
        // Refused by acceptExportFiles: nothing was collected or written.
        bool leftOut = false;
        bool pagesComplete = false;
        bool instancesComplete = false;
        int filesFailed = 0;
        // The run was given up for want of memory.
        bool outOfMemory = false;
        bool complete() const
        {
            return opened && !leftOut && pagesComplete && instancesComplete && filesFailed == 0 &&
                   !outOfMemory;
        }
    };
    RunReport lastRun;

    // Wall time of each phase of a run, in nanoseconds; -1 for a phase that did not run.
    struct PhaseTimings
    {
        qint64 open = -1;
        qint64 pages = -1;
        qint64 instances = -1;
        qint64 write = -1;
    };
    // Set by a caller that wants the phases timed (scorlet-export with SCORLET_TIMINGS=1);
    // null, the default, times nothing.
    PhaseTimings *timings = nullptr;

private:
    bool runExport(const QString &path, const QString &stem);

    Q_DISABLE_COPY_MOVE(raZuzezoz)
};

// Where an export of the document at `path` goes: the document's absolute folder (with "/"
// separators and in native form) and the output stem, the folder and the document's base
// name up to its first dot.
struct ExportTarget
{
    QString folder;
    QString nativeFolder;
    QString stem;
};
ExportTarget exportTargetFor(const QString &path);
// The same with the CSV files going to `outputFolder` instead of the document's folder.
ExportTarget exportTargetFor(const QString &path, const QString &outputFolder);
