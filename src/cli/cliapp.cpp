#include "cliapp.h"

#include "outputguard.h"
#include "razuzezoz.h"
#include "runreport.h"
#include "streamsinks.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

namespace {

// One option of the command line: its names, the name of its value (null for a switch), its
// lines in the help text, and either the outcome it ends parsing with (help, version) or
// what its value does to the options. `apply` gets the last value given and returns why the
// value is refused, or a null string.
struct OptionEntry
{
    const char *shortName;
    const char *longName;
    const char *valueName;
    const char *help;
    ParsedArguments::Outcome outcome;
    QString (*apply)(CliOptions &options, const QString &value);
};

QString applyOutputDir(CliOptions &options, const QString &dir)
{
    options.outputDir = dir;
    if (dir.isEmpty())
        return QStringLiteral("option --output-dir needs a folder");
    if (!QFileInfo(dir).isDir())
        return QStringLiteral("not an existing folder: %1").arg(dir);
    return QString();
}

QString applyVerbose(CliOptions &options, const QString &)
{
    options.verbose = true;
    return QString();
}

QString applyLayout(CliOptions &options, const QString &name)
{
    const std::optional<Gradebook::Layout> layout = Gradebook::layoutNamed(name);
    if (!layout)
        return QStringLiteral("unknown layout: %1 (one of %2)")
            .arg(name, Gradebook::layoutNames().join(QLatin1String(", ")));
    options.gradebook.layout = *layout;
    return QString();
}

// The name heads the grade column; a text of blanks and commas only would leave the grade
// book a column it cannot tell from an empty one.
QString applyAssignment(CliOptions &options, const QString &text)
{
    QString rest = text;
    rest.remove(QLatin1Char(','));
    if (rest.trimmed().isEmpty())
        return QStringLiteral("option --assignment needs a name, not only blanks or commas");
    options.gradebook.assignment = text;
    return QString();
}

QString applyBom(CliOptions &options, const QString &)
{
    options.gradebook.byteOrderMark = true;
    return QString();
}

QString applySort(CliOptions &options, const QString &)
{
    options.gradebook.sort = true;
    return QString();
}

QString applyRequireId(CliOptions &options, const QString &)
{
    options.gradebook.requireId = true;
    return QString();
}

// Checked before anything is exported: a report that cannot be written would leave a batch
// without its account only at the very end.
QString applyReport(CliOptions &options, const QString &file)
{
    if (file.isEmpty())
        return QStringLiteral("option --report needs a file");
    const QFileInfo info(file);
    const QString folder = exportTargetFor(file).folder;
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("no such folder for the report: %1")
            .arg(QDir::toNativeSeparators(folder));
    if (info.isDir())
        return QStringLiteral("the report is a folder: %1").arg(file);
    options.reportFile = file;
    return QString();
}

// In the order of the help text.
const OptionEntry optionTable[] = {
    {nullptr, "output-dir", "DIR",
     "write the CSV files into DIR, an existing folder, instead of each\n"
     "document's own folder",
     ParsedArguments::Run, applyOutputDir},
    {nullptr, "layout", "NAME",
     "write the files for a grade book: plain (the default, as the main\n"
     "window writes them), header, moodle, canvas, blackboard or schoology",
     ParsedArguments::Run, applyLayout},
    {nullptr, "assignment", "TEXT",
     "name the grade column TEXT instead of after the document and file key", ParsedArguments::Run,
     applyAssignment},
    {nullptr, "bom", nullptr, "begin a layout's files with a UTF-8 byte-order mark",
     ParsedArguments::Run, applyBom},
    {nullptr, "sort", nullptr, "write the rows in order of the student key (layouts always do)",
     ParsedArguments::Run, applySort},
    {nullptr, "require-id", nullptr,
     "leave out students without a student id, name each on standard\n"
     "error and exit with status 1",
     ParsedArguments::Run, applyRequireId},
    {nullptr, "report", "FILE", "write a JSON account of the whole call to FILE",
     ParsedArguments::Run, applyReport},
    {nullptr, "verbose", nullptr,
     "also write the detailed progress of every export to standard error", ParsedArguments::Run,
     applyVerbose},
    {"h", "help", nullptr, "show this help and exit", ParsedArguments::Help, nullptr},
    {"V", "version", nullptr, "show the version and exit", ParsedArguments::Version, nullptr},
};

QCommandLineOption parserOption(const OptionEntry &option)
{
    QStringList names;
    if (option.shortName)
        names << QLatin1String(option.shortName);
    names << QLatin1String(option.longName);
    return QCommandLineOption(names, QString(), QLatin1String(option.valueName));
}

// "  -h, --help" or "  --output-dir DIR", then the help lines from the twentieth column on.
QString optionHelp(const OptionEntry &option)
{
    QString synopsis = QStringLiteral("  ");
    if (option.shortName)
        synopsis += QLatin1Char('-') + QLatin1String(option.shortName) + QLatin1String(", ");
    synopsis += QLatin1String("--") + QLatin1String(option.longName);
    if (option.valueName)
        synopsis += QLatin1Char(' ') + QLatin1String(option.valueName);
    const QString indent(20, QLatin1Char(' '));
    QString help = QString::fromLatin1(option.help);
    help.replace(QLatin1String("\n"), QLatin1Char('\n') + indent);
    return (synopsis + QLatin1String("  ")).leftJustified(indent.size()) + help + QLatin1Char('\n');
}

// The parser drops empty arguments, yet an empty document name must fail as any other name
// that opens nothing would, not vanish. No argument can hold a NUL, so one stands for it.
const QString emptyArgument(1, QChar(0));

QString restoreEmpty(const QString &argument)
{
    return argument == emptyArgument ? QString() : argument;
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
    QCommandLineParser parser;
    for (const OptionEntry &option : optionTable)
        parser.addOption(parserOption(option));
    QStringList line{QStringLiteral("scorlet-export")};
    for (const QString &argument : arguments)
        line << (argument.isEmpty() ? emptyArgument : argument);
    if (!parser.parse(line))
        return usageError(parser.errorText());

    ParsedArguments parsed;
    // Help or version, whichever came first, is shown whatever else the line holds, as long
    // as the parser understood all of it.
    for (const QString &name : parser.optionNames()) {
        for (const OptionEntry &option : optionTable) {
            const bool named = name == QLatin1String(option.longName) ||
                               (option.shortName && name == QLatin1String(option.shortName));
            if (named && option.outcome != ParsedArguments::Run) {
                parsed.outcome = option.outcome;
                return parsed;
            }
        }
    }
    for (const OptionEntry &option : optionTable) {
        if (!option.apply || !parser.isSet(QLatin1String(option.longName)))
            continue;
        const QString error = option.apply(
            parsed.options, restoreEmpty(parser.value(QLatin1String(option.longName))));
        if (!error.isNull())
            return usageError(error);
    }
    for (const QString &document : parser.positionalArguments())
        parsed.options.documents << restoreEmpty(document);
    if (parsed.options.documents.isEmpty())
        return usageError(QStringLiteral("no document given"));
    const CliOptions &options = parsed.options;
    if (!options.reportFile.isEmpty()) {
        const QString problem =
            reportPathProblem(options.reportFile, options.documents, options.outputDir);
        if (!problem.isNull())
            return usageError(problem);
    }
    return parsed;
}

QString usageLine()
{
    return QStringLiteral("Usage: scorlet-export [--verbose] [--output-dir DIR] DOCUMENT.plexa...");
}

QString helpText()
{
    static const char description[] = R"(

Grades every response in each Plexa document and writes its grade-book CSV files, one
document after another. The export log goes to standard output; notices and other messages
go to standard error.

Options:
)";
    static const char rest[] =
        R"(  --                end of the options; every later argument is a document

Environment:
  SCORLET_TIMINGS=1 also write the time that each phase of an export took to standard
                    error, as lines "timing: <phase> <ms> ms" (for benchmarks)

Exit status: 0 when every document was exported in full; 1 when a document could not be
opened, did not deliver all the pages or test instances it reported, a CSV file or the
report could not be written and flushed to disk, or students were left out for want of an
id; 2 for a usage error.)";
    QString text = usageLine() + QString::fromLatin1(description);
    for (const OptionEntry &option : optionTable)
        text += optionHelp(option);
    return text + QString::fromLatin1(rest);
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

// One line on standard error when something meant for standard output did not get through
// whole; said once, whatever was lost after it.
void reportLostOutput(const char *what, int error)
{
    writeLine(stderr, QStringLiteral("scorlet-export: %1 could not be written whole to standard "
                                     "output: %2")
                          .arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error))));
}

// One line per student left out of a file for want of a student id, and one per file that
// stands at its name but whose folder could not be flushed after it; whether there was none.
bool reportFileDoubts(const exportDatabase &database)
{
    bool none = true;
    for (const ExportFile &file : database.exportFiles) {
        const QString path = QDir::toNativeSeparators(file.filePath());
        file.forEachWithoutId([&path](const QString &name) {
            writeLine(stderr,
                      QStringLiteral("scorlet-export: %1: no student id for %2").arg(path, name));
        });
        if (file.withoutIdCount() > 0)
            none = false;
        if (file.written && !file.synced) {
            writeLine(stderr, QStringLiteral("scorlet-export: %1: written, but its folder could "
                                             "not be flushed to disk (%2): after a power cut it "
                                             "may be lost or the old file back")
                                  .arg(path, qt_error_string(file.error)));
            none = false;
        }
    }
    return none;
}

// What to say when memory ran out outside the engine's own runs, where nothing more can be
// built to say it with.
void reportNoMemory(const QString &document)
{
    try {
        writeLine(stderr, QStringLiteral("scorlet-export: Not enough memory to export %1")
                              .arg(QDir::toNativeSeparators(document)));
    } catch (const std::bad_alloc &) {
        std::fputs("scorlet-export: Not enough memory to export a document\n", stderr);
    }
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
    // Made before anything is exported: a report that cannot be written would leave a batch
    // without its account only at the very end.
    std::optional<RunReport> report;
    if (!options.reportFile.isEmpty()) {
        report.emplace(options.reportFile);
        if (!report->open()) {
            writeLine(stderr, QStringLiteral("scorlet-export: %1: the report cannot be written: %2")
                                  .arg(QDir::toNativeSeparators(options.reportFile),
                                       report->errorString()));
            return 2;
        }
    }

    StreamLogSink log(stdout);
    StreamNoticeSink notices(stderr);
    raZuzezoz engine;
    engine.database.log = &log;
    engine.database.notices = &notices;
    // Phase times for benchmarks, only when asked for through the environment.
    raZuzezoz::PhaseTimings timings;
    if (qEnvironmentVariableIntValue("SCORLET_TIMINGS") == 1)
        engine.timings = &timings;

    engine.database.gradebook = options.gradebook;

    bool allComplete = true;
    WrittenFiles written;
    for (qsizetype at = 0; at < options.documents.size(); ++at) {
        const QString &document = options.documents.at(at);
        const bool laterDocuments = at + 1 < options.documents.size();
        // The engine turns running out of memory into a refusal of the document; what is
        // built here around its run (the lines, the report's part) may run out too, and then
        // ends the same way.
        bool refusedByEngine = false;
        try {
            // Folder and stem exactly as the main window derives them for its own export.
            const ExportTarget target = options.outputDir.isEmpty()
                                            ? exportTargetFor(document)
                                            : exportTargetFor(document, options.outputDir);
            // Decided from the files the pages plan, since names alone miss quiz.plexa's
            // keyword file quiz_A.csv meeting quiz_A.plexa's own.
            engine.acceptExportFiles = [&](const exportDatabase &database) {
                return written.claim(document, database, laterDocuments);
            };
            engine.folder = target.nativeFolder;
            engine.exportPlexa(document, target.stem);
            refusedByEngine = engine.lastRun.outOfMemory;
            if (engine.timings)
                writeTimings(timings);
            if (!engine.lastRun.complete())
                allComplete = false;
            if (!reportFileDoubts(engine.database))
                allComplete = false;
            if (report)
                report->addRun(document, engine);
        } catch (const std::bad_alloc &) {
            allComplete = false;
            if (report)
                report->giveUp(QStringLiteral("not enough memory"));
            if (!refusedByEngine)
                reportNoMemory(document);
        }
    }
    int status = allComplete ? 0 : 1;
    // Every document was still exported when the log went missing, but whoever reads the log
    // must not take it for the whole story.
    if (!log.wroteWhole()) {
        reportLostOutput("the export log", log.error());
        status = 1;
    }
    if (report) {
        const QString shown = QDir::toNativeSeparators(options.reportFile);
        bool whole = false;
        try {
            whole = report->finish(status, log.wroteWhole());
        } catch (const std::bad_alloc &) {
            report->giveUp(QStringLiteral("not enough memory"));
        }
        if (!whole) {
            writeLine(stderr, QStringLiteral("scorlet-export: %1: report not written: %2")
                                  .arg(shown, report->errorString()));
            status = 1;
        } else if (!report->synced()) {
            writeLine(stderr, QStringLiteral("scorlet-export: %1: report written, but its folder "
                                             "could not be flushed to disk (%2): after a power "
                                             "cut it may be lost or the old report back")
                                  .arg(shown, report->errorString()));
            status = 1;
        }
    }
    return status;
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
    try {
        return runExports(parsed.options);
    } catch (const std::bad_alloc &) {
        std::fputs("scorlet-export: not enough memory\n", stderr);
        return 1;
    }
}
