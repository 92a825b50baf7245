#pragma once

#include <QString>

// Where the engine's user-facing output goes. The main window plugs in its log view and
// message boxes, scorlet-export its standard streams, tests their recorders.

class LogSink
{
public:
    virtual ~LogSink();
    // One whole line; an empty string is an empty line.
    virtual void appendLine(const QString &line) = 0;
    virtual void clear() = 0;
};

class NoticeSink
{
public:
    virtual ~NoticeSink();
    // An information box with a single Ok button; returns once the user has closed it.
    virtual void notice(const QString &title, const QString &text) = 0;
};
