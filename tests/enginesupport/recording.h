#pragma once

// The engine's two seams, recording what reaches the user.

#include <seams.h>

#include <QList>
#include <QPair>
#include <QStringList>

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
