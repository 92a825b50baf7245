#pragma once

#include "seams.h"

#include <QString>

#include <cstdio>

// One whole line to a C stream, in the locale's encoding, flushed at once: the export log
// goes to standard output and everything else to standard error, and flushing every line
// keeps the two in order when they share a terminal or a file. Returns whether the line got
// through; otherwise `error`, when given, receives the error number. A stream that failed
// once is not written again: what follows would only leave holes in what it shows.
//
// On standard error, control characters (C0, DEL and C1) show escaped, as \n, \r, \t or \xHH:
// see withControlsEscaped().
bool writeLine(FILE *stream, const QString &line, int *error = nullptr);

// The text with each control character written out, so that a terminal shows it instead of
// acting on it: \n, \r and \t, the others as \x and two hex digits ("\x1b", "\x9b").
QString withControlsEscaped(const QString &text);

// Run first in main(): a standard stream that the caller closed would hand its number to
// the next file opened, and lines meant for the terminal would land in a grade book. Each
// closed one is held by the null device instead, and standard output or error held so
// counts as failed for writeLine.
void holdClosedStandardStreams();

// Makes a write to a pipe whose reader has gone fail with an error instead of ending the
// program: the grade books are the job, the log only reports on it.
void ignoreBrokenPipes();

// The export log as lines on a stream. A stream cannot be taken back, so clear() keeps
// what earlier runs wrote and the runs simply follow one another.
class StreamLogSink : public LogSink
{
public:
    explicit StreamLogSink(FILE *stream) : m_stream(stream) {}
    void appendLine(const QString &line) override;
    void clear() override {}

    // Whether every line got through, and if not the error number of the first loss.
    bool wroteWhole() const { return m_error == 0; }
    int error() const { return m_error; }

private:
    FILE *m_stream;
    int m_error = 0;
};

// An information box as one line "<title>: <text>"; nobody has to close it, so the run goes
// straight on.
class StreamNoticeSink : public NoticeSink
{
public:
    explicit StreamNoticeSink(FILE *stream) : m_stream(stream) {}
    void notice(const QString &title, const QString &text) override;

private:
    FILE *m_stream;
};

// Routes the program's messages to standard error: diagnostic lines (debug output of the
// diagnostics category) as they are, and only while verbose; every other message prefixed
// with the program's name.
void installMessageHandler();
// Switches the diagnostic lines on or off for good, whatever logging rules the environment
// sets. Until the first call the message handler drops them.
void setVerboseDiagnostics(bool verbose);
