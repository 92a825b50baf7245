#pragma once

#include "gradebook.h"

#include <QString>
#include <QStringList>

// What the command line asked for.
struct CliOptions
{
    bool verbose = false;
    QString outputDir;
    // The files' layout and what goes with it; the default writes the plain files.
    Gradebook::Options gradebook;
    // Where the JSON account of the whole call goes; empty for none.
    QString reportFile;
    QStringList documents;
};

struct ParsedArguments
{
    enum Outcome { Run, Help, Version, UsageError };
    Outcome outcome = Run;
    CliOptions options;
    // Why the arguments were refused, for UsageError.
    QString error;
};

// `arguments` without the program name. Options and documents may be mixed; "--" ends the
// options.
ParsedArguments parseArguments(const QStringList &arguments);

QString usageLine();
QString helpText();

// One export run per document, in order, with one engine; the exit status.
int runExports(const CliOptions &options);

// The whole program after the application object exists: parse, then help, version, usage
// error or the exports. Returns the exit status.
int runCli(const QStringList &arguments);
