#pragma once

// Shared by the engine's test programs: recording seams, a diagnostic capture, builders for
// Plexa documents written as JSON and an engine wired to the seams.

#include "diagnosticcapture.h"
#include "documents.h"
#include "files.h"
#include "messagecapture.h"
#include "recording.h"

#include <razuzezoz.h>
#include <roruri1/plexa.h>

#include <QTest>

// An engine wired to recording seams.
struct EngineHarness
{
    raZuzezoz engine;
    RecordingLog log;
    RecordingNotices notices;

    EngineHarness()
    {
        engine.database.log = &log;
        engine.database.notices = &notices;
        engine.outputStem = QStringLiteral("/nowhere/lesson");
    }
    ~EngineHarness()
    {
        engine.database.log = nullptr;
        engine.database.notices = nullptr;
    }

    // Hands the document to the engine as a run would after opening it.
    bool load(const QByteArray &json)
    {
        QString error;
        delete engine.plexa;
        engine.plexa = Zazizi::Plexa::fromData(json, &error);
        if (!engine.plexa)
            qWarning("document rejected: %s", qPrintable(error));
        return engine.plexa != nullptr;
    }

    // Runs the export as the main window does: folder and stem from the document's path.
    bool exportDocument(const QString &path)
    {
        const ExportTarget target = exportTargetFor(path);
        engine.folder = target.nativeFolder;
        return engine.exportPlexa(path, target.stem);
    }

    bool catalogue()
    {
        engine.currentPage = -1;
        engine.questionPass = true;
        const bool complete = engine.dumpQuestions();
        engine.questionPass = false;
        engine.currentPage = -1;
        return complete;
    }

    const ExportFile *file(const QString &key) const
    {
        return std::as_const(engine.database.exportFiles).find(key);
    }
};
