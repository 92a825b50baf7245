#include "cliapp.h"

#include "razuzezoz.h"
#include "streamsinks.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <utility>

namespace {

const QString outputDirOption = QStringLiteral("--output-dir");

QString checkOutputDir(const QString &dir)
{
    if (dir.isEmpty())
        return QStringLiteral("option --output-dir needs a folder");
    if (!QFileInfo(dir).isDir())
        return QStringLiteral("not an existing folder: %1").arg(dir);
    return QString();
}

ParsedArguments usageError(const QString &error)
{
    ParsedArguments parsed;
    parsed.outcome = ParsedArguments::UsageError;
    parsed.error = error;
    return parsed;
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments)
{
    ParsedArguments parsed;
    bool optionsEnded = false;
    bool outputDirGiven = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        // A lone "-" is a document name, as most tools take it.
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument.size() == 1) {
            parsed.options.documents.append(argument);
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("--help")) {
            parsed.outcome = ParsedArguments::Help;
            return parsed;
        } else if (argument == QLatin1String("--version")) {
            parsed.outcome = ParsedArguments::Version;
            return parsed;
        } else if (argument == QLatin1String("--verbose")) {
            parsed.options.verbose = true;
        } else if (argument == outputDirOption) {
            // Without a folder after it, the empty name is refused below.
            parsed.options.outputDir = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            outputDirGiven = true;
        } else if (argument.startsWith(outputDirOption + QLatin1Char('='))) {
            parsed.options.outputDir = argument.mid(outputDirOption.size() + 1);
            outputDirGiven = true;
        } else {
            return usageError(QStringLiteral("unknown option %1").arg(argument));
        }
    }
    if (outputDirGiven) {
        const QString error = checkOutputDir(parsed.options.outputDir);
        if (!error.isEmpty())
            return usageError(error);
    }
    if (parsed.options.documents.isEmpty())
        return usageError(QStringLiteral("no document given"));
    return parsed;
}

QString usageLine()
{
    return QStringLiteral("Usage: scorlet-export [--verbose] [--output-dir DIR] DOCUMENT.plexa...");
}

QString helpText()
{
    static const char text[] = R"(

Grades every response in each Plexa document and writes its grade-book CSV files, one
document after another. The export log goes to standard output; notices and other messages
go to standard error.

Options:
  --output-dir DIR  write the CSV files into DIR, an existing folder, instead of each
                    document's own folder
  --verbose         also write the detailed progress of every export to standard error
  --help            show this help and exit
  --version         show the version and exit
  --                end of the options; every later argument is a document

Environment:
  SCORLET_TIMINGS=1 also write the time that each phase of an export took to standard
                    error, as lines "timing: <phase> <ms> ms" (for benchmarks)

Exit status: 0 when every document was exported in full; 1 when a document could not be
opened, did not deliver all the pages or test instances it reported, or a CSV file could
not be written; 2 for a usage error.)";
    return usageLine() + QString::fromLatin1(text);
}

namespace {

// "timing: <phase> <ms> ms" on standard error for every phase the run went through.
void writeTimings(const raZuzezoz::PhaseTimings &timings)
{
    const std::pair<const char *, qint64> phases[] = {{"open", timings.open},
                                                      {"pages", timings.pages},
                                                      {"instances", timings.instances},
                                                      {"write", timings.write}};
    for (const auto &[name, nanoseconds] : phases) {
        if (nanoseconds < 0)
            continue;
        writeLine(stderr,
                  QStringLiteral("timing: %1 %2 ms")
                      .arg(QLatin1String(name), QString::number(nanoseconds / 1e6, 'f', 1)));
    }
}

// The CSV files written so far in this call, each with the document that wrote it. The paths
// are compared case-folded: on a USB stick or a Windows share, quiz_a.csv and quiz_A.csv are
// one file.
class WrittenFiles
{
public:
    // Whether `document` may write the files its page pass planned, which then become its
    // own; if not, says on standard error which file would be replaced, and whose it is. The
    // same document given again may write its own files again.
    bool claim(const QString &document, const exportDatabase &database)
    {
        const QString identity = documentIdentity(document);
        for (const auto &entry : database.exportFiles) {
            const QString &path = entry.second.filePath;
            const auto earlier = m_writers.constFind(fileIdentity(path));
            if (earlier != m_writers.constEnd() && earlier->identity != identity) {
                writeLine(stderr, QStringLiteral("scorlet-export: %1: not exported: its CSV file "
                                                 "%2 would replace the one written for %3")
                                      .arg(QDir::toNativeSeparators(document),
                                           QDir::toNativeSeparators(path),
                                           QDir::toNativeSeparators(earlier->document)));
                return false;
            }
        }
        for (const auto &entry : database.exportFiles)
            m_writers.insert(fileIdentity(entry.second.filePath), Writer{identity, document});
        return true;
    }

private:
    struct Writer
    {
        QString identity;
        QString document;
    };

    // One document reached by two spellings or through a link is still one document.
    static QString documentIdentity(const QString &document)
    {
        const QFileInfo info(document);
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
    }

    static QString fileIdentity(const QString &path)
    {
        return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toCaseFolded();
    }

    QHash<QString, Writer> m_writers;
};

// One line on standard error when something meant for standard output did not get through
// whole; said once, whatever was lost after it.
void reportLostOutput(const char *what, int error)
{
    writeLine(stderr, QStringLiteral("scorlet-export: %1 could not be written whole to standard "
                                     "output: %2")
                          .arg(QLatin1String(what), qt_error_string(error)));
}

bool writeOutput(const char *what, const QString &text)
{
    int error = 0;
    if (writeLine(stdout, text, &error))
        return true;
    reportLostOutput(what, error);
    return false;
}

} // namespace

int runExports(const CliOptions &options)
{
    StreamLogSink log(stdout);
    StreamNoticeSink notices(stderr);
    raZuzezoz engine;
    engine.database.log = &log;
    engine.database.notices = &notices;
    // Phase times for benchmarks, only when asked for through the environment.
    raZuzezoz::PhaseTimings timings;
    if (qEnvironmentVariableIntValue("SCORLET_TIMINGS") == 1)
        engine.timings = &timings;

    bool allComplete = true;
    WrittenFiles written;
    for (const QString &document : options.documents) {
        // Folder and stem exactly as the main window derives them for its own export.
        const ExportTarget target = options.outputDir.isEmpty()
                                        ? exportTargetFor(document)
                                        : exportTargetFor(document, options.outputDir);
        // Decided from the files the pages plan, since names alone miss quiz.plexa's keyword
        // file quiz_A.csv meeting quiz_A.plexa's own.
        engine.acceptExportFiles = [&written, &document](const exportDatabase &database) {
            return written.claim(document, database);
        };
        engine.folder = target.nativeFolder;
        engine.exportPlexa(document, target.stem);
        if (engine.timings)
            writeTimings(timings);
        if (!engine.lastRun.complete())
            allComplete = false;
    }
    // Every document was still exported when the log went missing, but whoever reads the log
    // must not take it for the whole story.
    if (!log.wroteWhole()) {
        reportLostOutput("the export log", log.error());
        return 1;
    }
    return allComplete ? 0 : 1;
}

int runCli(const QStringList &arguments)
{
    const ParsedArguments parsed = parseArguments(arguments);
    switch (parsed.outcome) {
    case ParsedArguments::Help:
        return writeOutput("the help", helpText()) ? 0 : 1;
    case ParsedArguments::Version:
        return writeOutput("the version", QStringLiteral("scorlet-export " SCORLET_VERSION)) ? 0
                                                                                             : 1;
    case ParsedArguments::UsageError:
        writeLine(stderr, QStringLiteral("scorlet-export: ") + parsed.error);
        writeLine(stderr, usageLine());
        return 2;
    case ParsedArguments::Run:
        break;
    }

    // Decided before the first run: the engine asks whether diagnostics are on before it
    // builds a line, so without --verbose it does not build them at all.
    setVerboseDiagnostics(parsed.options.verbose);
    return runExports(parsed.options);
}
