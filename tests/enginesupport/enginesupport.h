#pragma once

// Shared by the engine's test programs: recording seams, a diagnostic capture and small
// builders for Plexa documents written as JSON.

#include <plexa.h>
#include <razuzezoz.h>
#include <seams.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTest>

class RecordingLog : public LogSink
{
public:
    QStringList lines;
    int clears = 0;
    void appendLine(const QString &line) override { lines.append(line); }
    void clear() override
    {
        lines.clear();
        ++clears;
    }
};

class RecordingNotices : public NoticeSink
{
public:
    QList<QPair<QString, QString>> shown;
    void notice(const QString &title, const QString &text) override
    {
        shown.append(qMakePair(title, text));
    }
};

// Collects the debug messages written while it lives; other messages go on as before.
class DiagnosticCapture
{
public:
    DiagnosticCapture()
    {
        lines().clear();
        previous() = qInstallMessageHandler(&DiagnosticCapture::handle);
    }
    ~DiagnosticCapture() { qInstallMessageHandler(previous()); }
    DiagnosticCapture(const DiagnosticCapture &) = delete;
    DiagnosticCapture &operator=(const DiagnosticCapture &) = delete;

    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtDebugMsg)
            lines().append(message);
        else if (previous())
            previous()(type, context, message);
    }
};

namespace doc {

inline QJsonValue null()
{
    return QJsonValue(QJsonValue::Null);
}

inline QJsonObject response(const QString &text, const QString &studentId,
                            const QString &studentName = QString(),
                            const QString &label = QString(), int startTime = 0)
{
    return QJsonObject{{"text", text},
                       {"studentId", studentId},
                       {"studentName", studentName},
                       {"label", label},
                       {"startTime", startTime}};
}

// A numeric question whose one answer is `answer`, graded exactly.
inline QJsonObject numeric(const QString &id, const QString &answer = QStringLiteral("1"),
                           const QJsonArray &responses = {},
                           const QString &text = QStringLiteral("How many?"))
{
    return QJsonObject{{"id", id},
                       {"text", text},
                       {"type", 6},
                       {"answers", QJsonArray{answer}},
                       {"responses", responses}};
}

// A lettered choice question whose first option is right.
inline QJsonObject choice(const QString &id, const QJsonArray &responses = {},
                          const QString &text = QStringLiteral("Which one?"))
{
    return QJsonObject{{"id", id},
                       {"text", text},
                       {"type", 1},
                       {"options", QJsonArray{QJsonObject{{"label", "A"}, {"correct", true}},
                                              QJsonObject{{"label", "B"}}}},
                       {"responses", responses}};
}

inline QJsonObject test(int kind, const QJsonArray &questions,
                        const QString &title = QStringLiteral("Quiz"),
                        const QString &startedOn = QStringLiteral("2026-03-02 09:15"))
{
    return QJsonObject{
        {"kind", kind}, {"title", title}, {"startedOn", startedOn}, {"questions", questions}};
}

inline QJsonObject page(const QJsonValue &test, const QStringList &keywords = {})
{
    return QJsonObject{{"keywords", QJsonArray::fromStringList(keywords)}, {"test", test}};
}

inline QByteArray document(const QJsonArray &pages, const QJsonArray &testInstances = {})
{
    return QJsonDocument(
               QJsonObject{{"plexa", 1}, {"pages", pages}, {"testInstances", testInstances}})
        .toJson();
}

} // namespace doc

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
        auto found = engine.database.exportFiles.find(key);
        return found == engine.database.exportFiles.end() ? nullptr : &found->second;
    }
};
