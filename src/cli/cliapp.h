#pragma once

#include <QString>
#include <QStringList>

// What the command line asked for.
struct CliOptions
{
    bool verbose = false;
    QString outputDir;
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
