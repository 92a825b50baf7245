#include "runreport.h"

#include "razuzezoz.h"

#include <QDir>

#include <utility>

namespace {

// A JSON string: UTF-8, with the quote, the backslash and the control characters escaped.
QByteArray jsonString(const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    QByteArray json;
    json.reserve(utf8.size() + 2);
    json += '"';
    for (const char c : utf8) {
        const uchar u = uchar(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\r') {
            json += "\\r";
        } else if (c == '\t') {
            json += "\\t";
        } else if (u < 0x20) {
            json += "\\u00";
            json += hex[u >> 4];
            json += hex[u & 0xF];
        } else {
            json += c;
        }
    }
    json += '"';
    return json;
}

QByteArray jsonBool(bool value)
{
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

// Lines of an object's members at one depth, each "name": value, separated by commas.
class Members
{
public:
    explicit Members(int depth) : m_indent(4 * depth, ' ') {}
    Members &add(const char *name, const QByteArray &value)
    {
        m_text += (m_text.isEmpty() ? "\n" : ",\n") + m_indent + '"' + name + "\": " + value;
        return *this;
    }
    QByteArray take() { return std::move(m_text); }

private:
    QByteArray m_indent;
    QByteArray m_text;
};

} // namespace

RunReport::RunReport(const QString &file) : m_out(file) {}

bool RunReport::open()
{
    if (!m_out.open())
        return false;
    append(QByteArrayLiteral("{\n    \"documents\": ["));
    return true;
}

void RunReport::append(const QByteArray &bytes)
{
    if (!m_gaveUp.isNull())
        return;
    m_pending += bytes;
    flush(false);
}

void RunReport::flush(bool last)
{
    // Pieces of 64 KiB: few writes, and little held.
    if (m_pending.size() < 64 * 1024 && !last)
        return;
    m_out.write(m_pending);
    m_pending.clear();
}

void RunReport::addRun(const QString &document, const raZuzezoz &engine)
{
    const raZuzezoz::RunReport &run = engine.lastRun;
    QString reason;
    if (!run.opened)
        reason = run.openFailure;
    else if (run.leftOut)
        reason = QStringLiteral("a CSV file would replace one written earlier in this call");
    else if (run.outOfMemory)
        reason = QStringLiteral("not enough memory");

    // The tables of a run that was left out or never opened describe nothing written.
    const bool anyFiles = run.opened && !run.leftOut;
    qsizetype withoutId = 0;
    bool allSynced = true;
    if (anyFiles) {
        for (const ExportFile &file : engine.database.exportFiles) {
            withoutId += file.withoutIdCount();
            allSynced = allSynced && (!file.written || file.synced);
        }
    }

    Members members(3);
    members.add("path", jsonString(QDir::toNativeSeparators(document)))
        .add("opened", jsonBool(run.opened));
    if (!reason.isEmpty())
        members.add("reason", jsonString(reason));
    members.add("leftOut", jsonBool(run.leftOut))
        .add("pagesComplete", jsonBool(run.pagesComplete))
        .add("instancesComplete", jsonBool(run.instancesComplete))
        .add("complete", jsonBool(run.complete() && withoutId == 0 && allSynced))
        .add("studentsWithoutId", QByteArray::number(withoutId));
    append((m_anyDocument ? ",\n        {" : "\n        {") + members.take() +
           ",\n            \"files\": [");
    m_anyDocument = true;

    bool firstFile = true;
    if (anyFiles) {
        for (const ExportFile &file : engine.database.exportFiles) {
            Members csv(5);
            csv.add("path", jsonString(QDir::toNativeSeparators(file.filePath())))
                .add("written", jsonBool(file.written))
                .add("synced", jsonBool(file.written && file.synced))
                .add("students", QByteArray::number(file.rowsWritten))
                .add("questions", QByteArray::number(file.questionCount));
            append((firstFile ? "\n                {" : ",\n                {") + csv.take() +
                   ",\n                    \"withoutId\": [");
            firstFile = false;
            bool firstName = true;
            file.forEachWithoutId([&](const QString &name) {
                append((firstName ? "\n" : ",\n") + QByteArray(24, ' ') + jsonString(name));
                firstName = false;
            });
            append(file.withoutIdCount() == 0 ? "]\n                }"
                                              : "\n                    ]\n                }");
        }
    }
    append(firstFile ? "]\n        }" : "\n            ]\n        }");
}

void RunReport::giveUp(const QString &why)
{
    m_gaveUp = why;
    m_pending = QByteArray();
}

bool RunReport::finish(int exitStatus, bool logWhole)
{
    if (!m_gaveUp.isNull())
        return false;
    append((m_anyDocument ? "\n    ],\n    \"exitStatus\": " : "],\n    \"exitStatus\": ") +
           QByteArray::number(exitStatus) + ",\n    \"logWhole\": " + jsonBool(logWhole) + "\n}\n");
    flush(true);
    return m_out.commit();
}

QString RunReport::errorString() const
{
    return m_gaveUp.isNull() ? m_out.errorString() : m_gaveUp;
}
