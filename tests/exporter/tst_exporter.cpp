#include "childprocess.h"
#include "documents.h"
#include "files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(ChildStream)

// The program as a user meets it: arguments in, exit status and two streams out.
namespace {

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

Outcome
runExporter(const QStringList &arguments,
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
            const QString &standardOutputFile = QString())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!standardOutputFile.isEmpty())
        process.setStandardOutputFile(standardOutputFile);
    process.setProgram(QStringLiteral(SCORLET_EXPORT_PROGRAM));
    process.setArguments(arguments);
    process.start();
    Outcome outcome;
    // Only a guard against a hung program; no claim about its speed.
    if (!process.waitForStarted() || !process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        outcome.exitCode = process.exitCode();
    // The program writes in the locale's 8-bit encoding, with the system's line ends (a text
    // stream's CR LF on Windows); the test reads lines.
    outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
    outcome.out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    outcome.err.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return outcome;
}

// The lines of a CSV file, whatever their line ends, sorted: the writer keeps no order.
QStringList csvLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<missing>")};
    QStringList lines;
    for (QString line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!line.isEmpty())
            lines.append(line);
    }
    lines.sort();
    return lines;
}

QStringList csvFilesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
}

QString importingLine(const QString &document)
{
    return QStringLiteral("Importing file ") + native(document) + QLatin1Char('\n');
}

QString failedToOpen(const QString &document)
{
    return importingLine(document) + QStringLiteral("FAILED to open plexa \n");
}

QString writtenFileLines(const QString &csvPath, const QString &folder)
{
    const QString shown = QFileInfo(csvPath).baseName() + QStringLiteral(".csv");
    return QStringLiteral("\nCreating export file ") + native(csvPath) + QStringLiteral("\n\n") +
           QStringLiteral("Finished exporting to ") + shown + QStringLiteral(" \n") +
           QStringLiteral("The CSV file is located in this folder ") + native(folder) +
           QStringLiteral(". It is in the same location as your Plexa file.\n") +
           QStringLiteral("Please locate the ") + shown +
           QStringLiteral(" file and import it into your grade book.\n\n");
}

const QString closingLines =
    QStringLiteral("All Export(s) completed.\n-------------------------\n");

const QString sampleName = QStringLiteral("fractions-week3.plexa");
const QString period2 = QStringLiteral("fractions-week3_PERIOD 2.csv");
const QString period4 = QStringLiteral("fractions-week3_PERIOD 4.csv");

QString sampleLog(const QString &document, const QString &folder)
{
    return importingLine(document) + writtenFileLines(folder + QLatin1Char('/') + period2, folder) +
           writtenFileLines(folder + QLatin1Char('/') + period4, folder) + closingLines;
}

const QStringList period2Grades = {
    QStringLiteral("Emma Lindqvist,20"), QStringLiteral("S-20411,100"),
    QStringLiteral("S-20415,80"),        QStringLiteral("S-20422,40"),
    QStringLiteral("S-20430,80"),        QStringLiteral("S-20447,80"),
};
const QStringList period4Grades = {
    QStringLiteral("S-20502,100"), QStringLiteral("S-20508,60"), QStringLiteral("S-20513,60"),
    QStringLiteral("S-20519,80"),  QStringLiteral("S-20524,40"), QStringLiteral("S-20531,80"),
};

// One page in file A holding q1 and, in `secondPage`, whatever the row needs; one instance.
QByteArray smallDocument(const QByteArray &secondPage, const QByteArray &instances)
{
    return QByteArrayLiteral(R"({"plexa": 1, "pages": [
        {"keywords": ["CSV: A"], "test": {"kind": 1, "title": "Quiz", "questions": [
            {"id": "q1", "text": "Two plus two?", "type": 6, "answers": ["4"]}]}})") +
           secondPage + QByteArrayLiteral(R"(],
        "testInstances": [)") +
           instances + QByteArrayLiteral("]}");
}

// quiz.plexa in `folder`, made by smallDocument(); its path, or nothing when it could not be
// written.
QString writeQuiz(const QTemporaryDir &folder, const QByteArray &secondPage,
                  const QByteArray &instances)
{
    const QString document = folder.filePath(QStringLiteral("quiz.plexa"));
    return writeFile(document, smallDocument(secondPage, instances)) ? document : QString();
}

// Standard output of a complete run on `document` that writes quiz_A.csv only.
QString quizLog(const QTemporaryDir &folder, const QString &document)
{
    return importingLine(document) +
           writtenFileLines(folder.filePath(QStringLiteral("quiz_A.csv")), folder.path()) +
           closingLines;
}

const QByteArray answeredInstance = QByteArrayLiteral(
    R"({"kind": 1, "title": "Quiz", "questions": [
        {"id": "q1", "text": "Two plus two?", "type": 6, "answers": ["4"], "responses": [
            {"text": "4", "studentId": "S-1", "startTime": 5},
            {"text": "5", "studentId": "S-2", "startTime": 6}]}]})");

// One page with `keywords` holding q1, which `student` answered right.
QByteArray gradedQuiz(const QStringList &keywords, const QString &student)
{
    return doc::document(
        {doc::page(doc::test(1, {doc::numeric(QStringLiteral("q1"), QStringLiteral("4"))}),
                   keywords)},
        {doc::test(1, {doc::numeric(QStringLiteral("q1"), QStringLiteral("4"),
                                    {doc::response(QStringLiteral("4"), student)})})});
}

// Every line of every CSV file in `folder`, as "<file>: <line>", sorted.
QStringList gradesIn(const QString &folder)
{
    QStringList grades;
    for (const QString &file : csvFilesIn(folder)) {
        for (const QString &line : csvLines(folder + QLatin1Char('/') + file))
            grades << file + QLatin1String(": ") + line;
    }
    grades.sort();
    return grades;
}

QStringList gradesOf(const QString &file, const QStringList &lines)
{
    QStringList grades;
    for (const QString &line : lines)
        grades << file + QLatin1String(": ") + line;
    return grades;
}

} // namespace

class TestExporter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void information_data();
    void information();
    void usageError_data();
    void usageError();
    void documentNames_data();
    void documentNames();

    void unopenable_data();
    void unopenable();
    void sample_data();
    void sample();
    void severalDocuments_data();
    void severalDocuments();
    void clashingFiles_data();
    void clashingFiles();
    void failingStreams_data();
    void failingStreams();
    void codePage_data();
    void codePage();

    void diagnostics_data();
    void diagnostics();
    void diagnosticsInterleaveWithNotices();
    void notices_data();
    void notices();
    void controlCharacters_data();
    void controlCharacters();
    void incompleteRun_data();
    void incompleteRun();
    void phaseTimings_data();
    void phaseTimings();
    void layouts_data();
    void layouts();
    void report_data();
    void report();
    void reportPlace_data();
    void reportPlace();

private:
    QString copySample(const QString &folder) const;
    QString m_sample;
};

void TestExporter::initTestCase()
{
    m_sample = QStringLiteral(SCORLET_EXAMPLES) + QLatin1Char('/') + sampleName;
    QVERIFY2(QFileInfo::exists(m_sample), qPrintable(m_sample));
    QVERIFY2(QFileInfo(QStringLiteral(SCORLET_EXPORT_PROGRAM)).isExecutable(),
             SCORLET_EXPORT_PROGRAM);
}

QString TestExporter::copySample(const QString &folder) const
{
    QDir().mkpath(folder);
    const QString copy = folder + QLatin1Char('/') + sampleName;
    QFile::remove(copy);
    return QFile::copy(m_sample, copy) ? copy : QString();
}

void TestExporter::information_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("startOfOutput");

    const QString usage =
        QStringLiteral("Usage: scorlet-export [--verbose] [--output-dir DIR] DOCUMENT.plexa...\n");
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << usage;
    const QString version = QStringLiteral("scorlet-export 1.0.0.8\n");
    QTest::newRow("version") << QStringList{QStringLiteral("--version")} << version;
    QTest::newRow("short help") << QStringList{QStringLiteral("-h")} << usage;
    QTest::newRow("short version") << QStringList{QStringLiteral("-V")} << version;
    // The first of the two is answered.
    QTest::newRow("version before help")
        << QStringList{QStringLiteral("-V"), QStringLiteral("--help")} << version;
    // Asking for help exports nothing, even with documents on the line.
    QTest::newRow("help among documents")
        << QStringList{QStringLiteral("lesson.plexa"), QStringLiteral("--help")} << usage;
}

void TestExporter::information()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, startOfOutput);

    const Outcome outcome = runExporter(arguments);
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY2(outcome.out.startsWith(startOfOutput), qPrintable(outcome.out));
    QVERIFY(!outcome.out.contains(QLatin1String("Importing file")));
    QCOMPARE(outcome.err, QString());
}

void TestExporter::usageError_data()
{
    QTest::addColumn<QStringList>("arguments");

    // Every row also names the sample copy, which must then stay unexported.
    const QString missingFolder = QStringLiteral("@TMP@/no such folder");
    QTest::newRow("no document") << QStringList{};
    QTest::newRow("only options") << QStringList{QStringLiteral("--verbose")};
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--quiet"), QStringLiteral("@DOC@")};
    QTest::newRow("unknown option after document")
        << QStringList{QStringLiteral("@DOC@"), QStringLiteral("-v")};
    QTest::newRow("option with a value it does not take")
        << QStringList{QStringLiteral("--verbose=yes"), QStringLiteral("@DOC@")};
    QTest::newRow("output dir without value")
        << QStringList{QStringLiteral("@DOC@"), QStringLiteral("--output-dir")};
    QTest::newRow("output dir empty")
        << QStringList{QStringLiteral("--output-dir="), QStringLiteral("@DOC@")};
    QTest::newRow("output dir missing")
        << QStringList{QStringLiteral("--output-dir"), missingFolder, QStringLiteral("@DOC@")};
    QTest::newRow("output dir missing, joined form")
        << QStringList{QStringLiteral("--output-dir=") + missingFolder, QStringLiteral("@DOC@")};
    QTest::newRow("output dir is a file") << QStringList{
        QStringLiteral("--output-dir"), QStringLiteral("@DOC@"), QStringLiteral("@DOC@")};
    // Only a line understood whole gets the help.
    QTest::newRow("help with an unknown option")
        << QStringList{QStringLiteral("--help"), QStringLiteral("--quiet")};
    QTest::newRow("unknown short option after a known one")
        << QStringList{QStringLiteral("-Vx"), QStringLiteral("@DOC@")};
    QTest::newRow("unknown layout") << QStringList{
        QStringLiteral("--layout"), QStringLiteral("excel"), QStringLiteral("@DOC@")};
    QTest::newRow("layout in capitals")
        << QStringList{QStringLiteral("--layout=Moodle"), QStringLiteral("@DOC@")};
    QTest::newRow("assignment empty")
        << QStringList{QStringLiteral("--assignment="), QStringLiteral("@DOC@")};
    QTest::newRow("assignment of commas and blanks") << QStringList{
        QStringLiteral("--assignment"), QStringLiteral(" ,, "), QStringLiteral("@DOC@")};
    QTest::newRow("report in a folder that does not exist")
        << QStringList{QStringLiteral("--report"), missingFolder + QStringLiteral("/r.json"),
                       QStringLiteral("@DOC@")};
    QTest::newRow("report is a folder")
        << QStringList{QStringLiteral("--report=@TMP@"), QStringLiteral("@DOC@")};
    // The report is the call's own only where nothing else is.
    const QString report = QStringLiteral("--report");
    QTest::newRow("report names the document") << QStringList{report, "@DOC@", "@DOC@"};
    QTest::newRow("report names the document in other letter case")
        << QStringList{report, "@TMP@/Fractions-Week3.PLEXA", "@DOC@"};
    QTest::newRow("report names a later document")
        << QStringList{report, "@TMP@/other.plexa", "@DOC@", "@TMP@/other.plexa"};
    QTest::newRow("report names a keyword file of the call")
        << QStringList{report, "@TMP@/fractions-week3_PERIOD 2.csv", "@DOC@"};
    QTest::newRow("report names the default file in the output folder") << QStringList{
        "--output-dir", "@TMP@/out", report, "@TMP@/out/FRACTIONS-WEEK3.csv", "@DOC@"};
#ifdef Q_OS_UNIX
    // Links, pipes and the file of a stream, which Windows does not have as Unix does.
    QTest::newRow("report names the document through a linked folder")
        << QStringList{report, "@TMP@/alias/fractions-week3.plexa", "@DOC@"};
    QTest::newRow("report names the default file through a linked folder") << QStringList{
        "--output-dir", "@TMP@/out", report, "@TMP@/alias/out/FRACTIONS-WEEK3.csv", "@DOC@"};
    QTest::newRow("report is a named pipe") << QStringList{report, "@TMP@/pipe", "@DOC@"};
    // As /dev/stdout is a link to wherever standard output goes. (A link to a pipe of the
    // test's own: a regression must not replace a device of the machine's.)
    QTest::newRow("report links to a pipe") << QStringList{report, "@TMP@/to-pipe", "@DOC@"};
    QTest::newRow("report is where standard output goes")
        << QStringList{report, "@TMP@/run.log", "@DOC@"};
#endif
}

void TestExporter::usageError()
{
    QFETCH(QStringList, arguments);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = copySample(tmp.path());
    QVERIFY(!document.isEmpty());
    QVERIFY(QFile::copy(document, tmp.filePath(QStringLiteral("other.plexa"))));
    QVERIFY(QDir().mkdir(tmp.filePath(QStringLiteral("out"))));
#ifdef Q_OS_UNIX
    // What a report may be mistaken for: a linked folder, a pipe, a link to one, the file
    // standard output goes to.
    QVERIFY(QFile::link(tmp.path(), tmp.filePath(QStringLiteral("alias"))));
    QCOMPARE(mkfifo(QFile::encodeName(tmp.filePath(QStringLiteral("pipe"))).constData(), 0644), 0);
    QVERIFY(
        QFile::link(tmp.filePath(QStringLiteral("pipe")), tmp.filePath(QStringLiteral("to-pipe"))));
#endif
    const QString log = tmp.filePath(QStringLiteral("run.log"));
    arguments.replaceInStrings(QStringLiteral("@DOC@"), document);
    arguments.replaceInStrings(QStringLiteral("@TMP@"), tmp.path());
    const auto before = snapshot(tmp.path());

    const Outcome outcome = runExporter(arguments, QProcessEnvironment::systemEnvironment(),
                                        arguments.contains(log) ? log : QString());
    QCOMPARE(outcome.exitCode, 2);
    QCOMPARE(outcome.out, QString());
    const QStringList lines = outcome.errLines();
    QVERIFY2(lines.size() == 2, qPrintable(outcome.err));
    QVERIFY(lines.at(0).startsWith(QLatin1String("scorlet-export: ")));
    QVERIFY(lines.at(1).startsWith(QLatin1String("Usage: scorlet-export ")));
    // Nothing exported, nothing replaced.
    auto after = snapshot(tmp.path());
    after.remove(QStringLiteral("run.log"));
    QCOMPARE(after, before);
}

void TestExporter::documentNames_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("documents");

    const QString nothing = QStringLiteral("@TMP@/nothing.plexa");
    QTest::newRow("lone dash") << QStringList{QStringLiteral("-")} << QStringList{"-"};
    // An empty name fails like any other name that opens nothing; it does not vanish.
    QTest::newRow("empty name") << QStringList{QString(), nothing}
                                << QStringList{QString(), nothing};
    QTest::newRow("option names after --")
        << QStringList{QStringLiteral("--"), QStringLiteral("--help"), QStringLiteral("-V")}
        << QStringList{QStringLiteral("--help"), QStringLiteral("-V")};
    QTest::newRow("second --") << QStringList{QStringLiteral("--"), nothing, QStringLiteral("--")}
                               << QStringList{nothing, QStringLiteral("--")};
    QTest::newRow("options after documents")
        << QStringList{nothing, QStringLiteral("--output-dir"), QStringLiteral("@TMP@")}
        << QStringList{nothing};
}

// Names that no file answers to, so every document fails to open in the order given.
void TestExporter::documentNames()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, documents);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    arguments.replaceInStrings(QStringLiteral("@TMP@"), tmp.path());
    documents.replaceInStrings(QStringLiteral("@TMP@"), tmp.path());

    const Outcome outcome = runExporter(arguments);
    QString expected;
    for (const QString &document : documents)
        expected += failedToOpen(document);
    QCOMPARE(outcome.out, expected);
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.errLines().size(), documents.size());
}

void TestExporter::unopenable_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("missing file") << QStringLiteral("absent.plexa") << QByteArray();
    QTest::newRow("not JSON") << QStringLiteral("broken.plexa")
                              << QByteArrayLiteral(R"({"plexa": 1, "pages": [)");
    QTest::newRow("wrong member type")
        << QStringLiteral("wrongtype.plexa")
        << QByteArrayLiteral(R"({"plexa": 1, "pages": [{"test": {"kind": "1"}}]})");
    QTest::newRow("unknown format version")
        << QStringLiteral("future.plexa") << QByteArrayLiteral(R"({"plexa": 2})");
    QTest::newRow("folder named like a document") << QStringLiteral("folder.plexa") << QByteArray();
}

void TestExporter::unopenable()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = tmp.filePath(fileName);
    if (fileName == QLatin1String("folder.plexa"))
        QVERIFY(QDir().mkdir(document));
    else if (!content.isEmpty())
        QVERIFY(writeFile(document, content));

    const Outcome outcome = runExporter({document});
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.out, failedToOpen(document));
    const QStringList lines = outcome.errLines();
    QVERIFY2(lines.size() == 1, qPrintable(outcome.err));
    QVERIFY(lines.at(0).startsWith(QLatin1String("scorlet-export: ")));
    QVERIFY2(lines.at(0).contains(fileName), qPrintable(lines.at(0)));
    QCOMPARE(csvFilesIn(tmp.path()), QStringList());
}

void TestExporter::sample_data()
{
    QTest::addColumn<QString>("documentFolder");
    QTest::addColumn<bool>("toOutputDir");
    QTest::addColumn<bool>("joinedOption");

    QTest::newRow("beside the document") << QStringLiteral("lessons") << false << false;
    QTest::newRow("into the output folder") << QStringLiteral("lessons") << true << false;
    QTest::newRow("output folder, joined form") << QStringLiteral("lessons") << true << true;
    // Blanks and letters beyond ASCII reach the log and the file names unchanged.
    QTest::newRow("folder with blank and accent")
        << QStringLiteral("Classe de Mme Lefèvre") << false << false;
}

void TestExporter::sample()
{
    QFETCH(QString, documentFolder);
    QFETCH(bool, toOutputDir);
    QFETCH(bool, joinedOption);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = copySample(tmp.filePath(documentFolder));
    QVERIFY(!document.isEmpty());
    QString folder = QFileInfo(document).absolutePath();
    QStringList arguments;
    if (toOutputDir) {
        folder = tmp.filePath(QStringLiteral("grades"));
        QVERIFY(QDir().mkpath(folder));
        arguments = joinedOption ? QStringList{QStringLiteral("--output-dir=") + folder}
                                 : QStringList{QStringLiteral("--output-dir"), folder};
    }
    arguments << document;

    const Outcome outcome = runExporter(arguments);
    QCOMPARE(outcome.err, QString());
    QCOMPARE(outcome.out, sampleLog(document, folder));
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(csvFilesIn(folder), (QStringList{period2, period4}));
    QCOMPARE(csvLines(folder + QLatin1Char('/') + period2), period2Grades);
    QCOMPARE(csvLines(folder + QLatin1Char('/') + period4), period4Grades);
    if (toOutputDir)
        QCOMPARE(csvFilesIn(QFileInfo(document).absolutePath()), QStringList());
}

void TestExporter::severalDocuments_data()
{
    QTest::addColumn<QStringList>("documents");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("two lessons") << QStringList{QStringLiteral("a"), QStringLiteral("b")} << 0;
    QTest::newRow("failure first") << QStringList{QStringLiteral("-"), QStringLiteral("b")} << 1;
    QTest::newRow("failure last") << QStringList{QStringLiteral("a"), QStringLiteral("-")} << 1;
    QTest::newRow("the same lesson twice")
        << QStringList{QStringLiteral("a"), QStringLiteral("a")} << 0;
}

// Each name is a folder holding a copy of the sample; "-" stands for a missing document.
void TestExporter::severalDocuments()
{
    QFETCH(QStringList, documents);
    QFETCH(int, exitCode);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QStringList paths;
    QString expected;
    for (const QString &name : documents) {
        if (name == QLatin1String("-")) {
            paths << tmp.filePath(QStringLiteral("missing.plexa"));
            expected += failedToOpen(paths.last());
            continue;
        }
        const QString folder = tmp.filePath(name);
        paths << (QFileInfo::exists(folder) ? folder + QLatin1Char('/') + sampleName
                                            : copySample(folder));
        expected += sampleLog(paths.last(), folder);
    }
    // A document on a line of its own after "--" even when its name looks like an option.
    paths.prepend(QStringLiteral("--"));

    const Outcome outcome = runExporter(paths);
    QCOMPARE(outcome.out, expected);
    QCOMPARE(outcome.exitCode, exitCode);
    for (const QString &name : documents) {
        if (name == QLatin1String("-"))
            continue;
        const QString folder = tmp.filePath(name);
        QCOMPARE(csvLines(folder + QLatin1Char('/') + period2), period2Grades);
        QCOMPARE(csvLines(folder + QLatin1Char('/') + period4), period4Grades);
    }
}

void TestExporter::clashingFiles_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QByteArray>("firstContent");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QByteArray>("secondContent");
    QTest::addColumn<bool>("intoOutputFolder");
    // The file the second document would replace, or empty when both are exported.
    QTest::addColumn<QString>("clash");
    QTest::addColumn<QStringList>("grades");

    // No content stands for a copy of the sample.
    const QStringList sampleGrades =
        gradesOf(period2, period2Grades) + gradesOf(period4, period4Grades);
    QTest::newRow("two folders into one output folder")
        << QStringLiteral("a/") + sampleName << QByteArray() << QStringLiteral("b/") + sampleName
        << QByteArray() << true << period2 << sampleGrades;
    QTest::newRow("base name up to the first dot")
        << QStringLiteral("a/fractions-week3.x.plexa") << QByteArray()
        << QStringLiteral("a/fractions-week3.y.plexa") << QByteArray() << false << period2
        << sampleGrades;
    QTest::newRow("keyword file and the document of its name")
        << QStringLiteral("a/quiz.plexa") << gradedQuiz({QStringLiteral("CSV: A")}, "S-1")
        << QStringLiteral("a/quiz_A.plexa") << gradedQuiz({}, "S-2") << false
        << QStringLiteral("quiz_A.csv") << QStringList{QStringLiteral("quiz_A.csv: S-1,100")};
    // A USB stick or a Windows share folds case, so these would be one file there.
    QTest::newRow("names that differ in letter case")
        << QStringLiteral("a/Quiz.plexa") << gradedQuiz({}, "S-1") << QStringLiteral("b/quiz.plexa")
        << gradedQuiz({}, "S-2") << true << QStringLiteral("quiz.csv")
        << QStringList{QStringLiteral("Quiz.csv: S-1,100")};
#ifdef Q_OS_UNIX
    // One folder under two names: the CSV file of the second is the first's.
    QTest::newRow("one folder reached through a link")
        << QStringLiteral("real/quiz.plexa") << gradedQuiz({}, "S-1")
        << QStringLiteral("alias/quiz.retake.plexa") << gradedQuiz({}, "S-2") << false
        << QStringLiteral("quiz.csv") << QStringList{QStringLiteral("quiz.csv: S-1,100")};
#endif
    QTest::newRow("one base name, other keyword files")
        << QStringLiteral("a/quiz.x.plexa") << gradedQuiz({QStringLiteral("CSV: A")}, "S-1")
        << QStringLiteral("a/quiz.y.plexa") << gradedQuiz({QStringLiteral("CSV: B")}, "S-2")
        << false << QString()
        << QStringList{QStringLiteral("quiz_A.csv: S-1,100"),
                       QStringLiteral("quiz_B.csv: S-2,100")};
}

// A second document whose CSV files would replace those of the first is left out whole, so
// the grades of the first are not silently replaced.
void TestExporter::clashingFiles()
{
    QFETCH(QString, first);
    QFETCH(QByteArray, firstContent);
    QFETCH(QString, second);
    QFETCH(QByteArray, secondContent);
    QFETCH(bool, intoOutputFolder);
    QFETCH(QString, clash);
    QFETCH(QStringList, grades);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString firstPath = tmp.filePath(first);
    const QString secondPath = tmp.filePath(second);
    if (second.startsWith(QLatin1String("alias/"))) {
        QVERIFY(QDir().mkpath(QFileInfo(firstPath).absolutePath()));
        QVERIFY(QFile::link(QFileInfo(firstPath).absolutePath(), tmp.filePath("alias")));
    }
    for (const auto &[path, content] :
         {std::pair(firstPath, firstContent), std::pair(secondPath, secondContent)}) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(content.isEmpty() ? QFile::copy(m_sample, path) : writeFile(path, content));
    }
    const QString out = intoOutputFolder ? tmp.filePath(QStringLiteral("out"))
                                         : QFileInfo(firstPath).absolutePath();
    QVERIFY(QDir().mkpath(out));

    QStringList arguments;
    if (intoOutputFolder)
        arguments << QStringLiteral("--output-dir") << out;
    arguments << firstPath << secondPath;
    const Outcome outcome = runExporter(arguments);

    QCOMPARE(gradesIn(out), grades);
    QVERIFY(outcome.out.startsWith(importingLine(firstPath)));
    QVERIFY(outcome.out.contains(importingLine(secondPath)));
    // The second run ends right after the page pass: nothing of it is written.
    QCOMPARE(outcome.out.count(closingLines), clash.isEmpty() ? 2 : 1);
    QVERIFY(outcome.out.endsWith(clash.isEmpty() ? closingLines : importingLine(secondPath)));
    if (clash.isEmpty()) {
        QCOMPARE(outcome.err, QString());
        QCOMPARE(outcome.exitCode, 0);
        return;
    }
    QCOMPARE(outcome.exitCode, 1);
    const QStringList lines = outcome.errLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first().startsWith(QStringLiteral("scorlet-export: ")));
    // The second document's own path to the file, which may differ from the first's.
    const QString clashPath =
        (intoOutputFolder ? out : QFileInfo(secondPath).absolutePath()) + QLatin1Char('/') + clash;
    for (const QString &named : {native(firstPath), native(secondPath), native(clashPath)})
        QVERIFY2(lines.first().contains(named), qPrintable(lines.first()));
}

void TestExporter::failingStreams_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<ChildStream>("standardOutput");
    QTest::addColumn<ChildStream>("standardError");
    QTest::addColumn<QString>("reason");

    const QStringList three{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QTest::newRow("output a pipe without reader")
        << three << ChildStream::ClosedPipe << ChildStream::Captured
        << QStringLiteral("Broken pipe");
#ifdef Q_OS_UNIX
    // Else the number would go to a file opened later, maybe a grade book.
    QTest::newRow("output closed") << three << ChildStream::Closed << ChildStream::Captured
                                   << QStringLiteral("Bad file descriptor");
#endif
    // Nowhere to say it: the files are still written and the status tells.
    QTest::newRow("both pipes without reader")
        << (QStringList{QStringLiteral("--verbose")} + three) << ChildStream::ClosedPipe
        << ChildStream::ClosedPipe << QString();
#ifdef Q_OS_UNIX
    QTest::newRow("output on a full disk")
        << three << ChildStream::FullDisk << ChildStream::Captured
        << QStringLiteral("No space left on device");
    QTest::newRow("both on a full disk")
        << (QStringList{QStringLiteral("--verbose")} + three) << ChildStream::FullDisk
        << ChildStream::FullDisk << QString();
    QTest::newRow("help on a full disk")
        << QStringList{QStringLiteral("--help")} << ChildStream::FullDisk << ChildStream::Captured
        << QStringLiteral("No space left on device");
#endif
}

// The log only reports on the job: every document is still exported when standard output
// fails, and the status and one line on standard error say that the log is not whole.
void TestExporter::failingStreams()
{
    QFETCH(QStringList, arguments);
    QFETCH(ChildStream, standardOutput);
    QFETCH(ChildStream, standardError);
    QFETCH(QString, reason);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QStringList folders;
    for (QString &argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')))
            continue;
        folders << tmp.filePath(argument);
        argument = copySample(folders.last());
        QVERIFY(!argument.isEmpty());
    }
    ChildLimits limits;
    limits.standardOutput = standardOutput;
    limits.standardError = standardError;

    const ChildOutcome outcome =
        runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), arguments, limits);
    QVERIFY(outcome.started && !outcome.timedOut);
    QCOMPARE(outcome.signal, 0);
    QCOMPARE(outcome.exitCode, 1);
    for (const QString &folder : folders)
        QCOMPARE(gradesIn(folder),
                 gradesOf(period2, period2Grades) + gradesOf(period4, period4Grades));
    if (standardError == ChildStream::Captured) {
        const QStringList lines = outcome.errLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().startsWith(QStringLiteral("scorlet-export: ")));
        QVERIFY2(lines.first().endsWith(reason), qPrintable(lines.first()));
    }
}

void TestExporter::codePage_data()
{
    // The ANSI code page the rows are for. Windows takes it from the locale a program starts
    // in (Wine from LC_ALL), so CTest runs this function once per locale (1252 by default,
    // 1251 and 932) and each run takes the rows of its own code page.
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QStringList>("keys");
    // The file's bytes on Windows; elsewhere the 8-bit encoding is UTF-8, without a mark.
    QTest::addColumn<QByteArray>("windowsBytes");

    const QByteArray mark("\xEF\xBB\xBF");
    QTest::newRow("1252 holds every key")
        << 1252 << QStringList{"Zoë", "Ann"} << QByteArray("Zo\xEB,100\r\nAnn,100\r\n");
    // One key it cannot hold makes the whole file UTF-8, so no two students become "????".
    QTest::newRow("1252 lacks one key")
        << 1252 << QStringList{"Zoë", "Олег", "Ann"}
        << mark +
               QByteArray("Zo\xC3\xAB,100\r\n\xD0\x9E\xD0\xBB\xD0\xB5\xD0\xB3,100\r\nAnn,100\r\n");
    QTest::newRow("1251 holds every key")
        << 1251 << QStringList{"Олег"} << QByteArray("\xCE\xEB\xE5\xE3,100\r\n");
    // A look-alike ("e" for "ë") would be as wrong as a question mark.
    QTest::newRow("1251 lacks one key")
        << 1251 << QStringList{"Zoë"} << mark + QByteArray("Zo\xC3\xAB,100\r\n");
    QTest::newRow("932, two bytes a character")
        << 932 << QStringList{"山田"} << QByteArray("\x8E\x52\x93\x63,100\r\n");
}

// The default file is in the system's 8-bit code page, as a spreadsheet on that machine reads
// it, unless a key would be lost in it.
void TestExporter::codePage()
{
    QFETCH(int, codePage);
    QFETCH(QStringList, keys);
    QFETCH(QByteArray, windowsBytes);
#ifdef Q_OS_WIN
    if (GetACP() != UINT(codePage))
        QSKIP("a row for another code page; its own CTest entry runs it");
#else
    Q_UNUSED(codePage);
#endif

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QJsonArray responses;
    for (const QString &key : keys)
        responses.append(doc::response(QStringLiteral("1"), key));
    const QString document = tmp.filePath(QStringLiteral("lesson.plexa"));
    QVERIFY(
        writeFile(document, doc::document({doc::page(doc::test(1, {doc::numeric("q")}))},
                                          {doc::test(1, {doc::numeric("q", "1", responses)})})));

    const Outcome outcome = runExporter({document});
    QCOMPARE(outcome.exitCode, 0);
#ifdef Q_OS_WIN
    QCOMPARE(readFile(tmp.filePath(QStringLiteral("lesson.csv"))), windowsBytes);
#else
    QByteArray utf8;
    for (const QString &key : keys)
        utf8 += key.toUtf8() + ",100\r\n";
    QCOMPARE(readFile(tmp.filePath(QStringLiteral("lesson.csv"))), utf8);
#endif
}

void TestExporter::diagnostics_data()
{
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<QString>("loggingRules");
    QTest::addColumn<QStringList>("expectedLines");

    const QStringList sampleDiagnostics = {
        QStringLiteral("[ Dump Questions ] - Dumping questions on page (2)."),
        QStringLiteral("[ Dump Responses ] - Found Self Paced Test with title (Fractions warm-up) "
                       "started on (2026-03-02 09:15)."),
        QStringLiteral("[ Dump Responses ] - Found Question of type (9) with text (Shade 3/4 of "
                       "the circle on your device.)."),
        QStringLiteral("[ Dump Questions ] - Dumping questions on page (3)."),
        QStringLiteral("[ Dump Responses ] - Found Instructor Paced Test started on (2026-03-03 "
                       "13:40)."),
        QStringLiteral("[ Dump Responses ] - Dumping test instance (1)."),
        QStringLiteral("[ Dump Responses ] - Found response (DENOMINATOR) from user (S-20422) "
                       "with id (Chloé Martin) and device label (Clicker 03)."),
        QStringLiteral("[ Dump Responses ] - Found EMPTY response () from user () with id (Emma "
                       "Lindqvist) and device label (Clicker 05)."),
        QStringLiteral("[ Dump Responses ] - Dumping test instance (2)."),
        QStringLiteral("report end...."),
    };
    QTest::newRow("verbose") << true << QString() << sampleDiagnostics;
    QTest::newRow("quiet") << false << QString() << QStringList();
    // Rules from the environment switch debug output back on, yet the lines stay away.
    QTest::newRow("quiet despite logging rules")
        << false << QStringLiteral("*.debug=true") << QStringList();
    // Rules that switch debug output off do not silence --verbose.
    QTest::newRow("verbose despite logging rules")
        << true << QStringLiteral("default.debug=false") << sampleDiagnostics;
    QTest::newRow("quiet despite the diagnostics rule")
        << false << QStringLiteral("scorlet.diagnostics.debug=true") << QStringList();
    QTest::newRow("verbose despite the diagnostics rule")
        << true << QStringLiteral("scorlet.diagnostics.debug=false") << sampleDiagnostics;
}

void TestExporter::diagnostics()
{
    QFETCH(bool, verbose);
    QFETCH(QString, loggingRules);
    QFETCH(QStringList, expectedLines);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = copySample(tmp.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!loggingRules.isEmpty())
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), loggingRules);
    QStringList arguments{document};
    if (verbose)
        arguments.prepend(QStringLiteral("--verbose"));

    const Outcome outcome = runExporter(arguments, environment);
    QCOMPARE(outcome.exitCode, 0);
    // Diagnostics never reach the export log.
    QCOMPARE(outcome.out, sampleLog(document, tmp.path()));
    const QStringList lines = outcome.errLines();
    if (expectedLines.isEmpty()) {
        QCOMPARE(outcome.err, QString());
        return;
    }
    // The expected lines appear in this order, with others between them.
    qsizetype at = 0;
    for (const QString &expected : expectedLines) {
        while (at < lines.size() && lines.at(at) != expected)
            ++at;
        QVERIFY2(at < lines.size(),
                 qPrintable(QStringLiteral("missing or out of order: ") + expected));
    }
    QCOMPARE(lines.last(), QStringLiteral("report end...."));
    for (const QString &line : lines)
        QVERIFY2(!line.startsWith(QLatin1String("scorlet-export: ")), qPrintable(line));
}

// A notice shows up right where the walk met its cause among the diagnostic lines.
void TestExporter::diagnosticsInterleaveWithNotices()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = tmp.filePath(QStringLiteral("dup.plexa"));
    QVERIFY(writeFile(document, smallDocument(QByteArrayLiteral(R"(,
        {"keywords": ["CSV: A"], "test": {"kind": 1, "title": "Again", "questions": [
            {"id": "q1", "text": "Two plus two, again?", "type": 6, "answers": ["4"]},
            {"id": "q2", "text": "Three plus three?", "type": 6, "answers": ["6"]}]}})"),
                                              answeredInstance)));

    const Outcome outcome = runExporter({QStringLiteral("--verbose"), document});
    QCOMPARE(outcome.exitCode, 0);
    const QStringList lines = outcome.errLines();
    const qsizetype notice =
        lines.indexOf(QStringLiteral("error duplicate question?: Two plus two, again?"));
    QVERIFY2(notice > 0 && notice + 1 < lines.size(), qPrintable(outcome.err));
    QCOMPARE(lines.at(notice - 1),
             QStringLiteral("[ Dump Responses ] - Found Question of type (6) with text (Two plus "
                            "two, again?)."));
    QCOMPARE(lines.at(notice + 1),
             QStringLiteral("[ Dump Responses ] - Found Question of type (6) with text (Three plus "
                            "three?)."));
}

void TestExporter::notices_data()
{
    QTest::addColumn<QByteArray>("secondPage");
    QTest::addColumn<QByteArray>("instances");
    QTest::addColumn<QStringList>("expectedErr");

    QTest::newRow("duplicate question id")
        << QByteArrayLiteral(R"(, {"keywords": ["CSV: A"], "test": {"kind": 0, "questions": [
               {"id": "q1", "text": "Copied question", "type": 6, "answers": ["4"]}]}})")
        << answeredInstance
        << QStringList{QStringLiteral("error duplicate question?: Copied question")};
    // One notice per response to a question that no page holds.
    QTest::newRow("question on no page")
        << QByteArray() << (answeredInstance + QByteArrayLiteral(R"(, {"kind": 1, "questions": [
               {"id": "q9", "text": "Where from?", "type": 7, "answers": ["x"], "responses": [
                   {"text": "x", "studentId": "S-1"}, {"text": "y", "studentId": "S-2"}]}]})"))
        << QStringList{QStringLiteral("error cannot find this question in database: Where from?"),
                       QStringLiteral("error cannot find this question in database: Where from?")};
    // A text from the document cannot act on the terminal: control characters show escaped.
    QTest::newRow("escape sequences in a question text")
        << QByteArrayLiteral(R"(, {"keywords": ["CSV: A"], "test": {"kind": 1, "questions": [
               {"id": "q1", "text": "\u001b[2JGone\u0007\u009b", "type": 6, "answers": ["4"]}]}})")
        << answeredInstance
        << QStringList{QStringLiteral("error duplicate question?: \\x1b[2JGone\\x07\\x9b")};
    // A question text over several lines still makes one line of notice.
    QTest::newRow("text over two lines")
        << QByteArrayLiteral(R"(, {"keywords": ["CSV: A"], "test": {"kind": 1, "questions": [
               {"id": "q1", "text": "Line one\nline two", "type": 6, "answers": ["4"]}]}})")
        << answeredInstance
        << QStringList{QStringLiteral("error duplicate question?: Line one line two")};
}

// Notices do not stop the run: the files are written and the run counts as complete.
void TestExporter::notices()
{
    QFETCH(QByteArray, secondPage);
    QFETCH(QByteArray, instances);
    QFETCH(QStringList, expectedErr);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = writeQuiz(tmp, secondPage, instances);
    QVERIFY(!document.isEmpty());

    const Outcome outcome = runExporter({document});
    QCOMPARE(outcome.errLines(), expectedErr);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, quizLog(tmp, document));
    QCOMPARE(csvLines(tmp.filePath(QStringLiteral("quiz_A.csv"))),
             (QStringList{QStringLiteral("S-1,100"), QStringLiteral("S-2,0")}));
}

void TestExporter::controlCharacters_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("line");

    // A name that would clear the screen and forge a line of its own.
    QTest::newRow("name of a student without an id")
        << "name"
        << "scorlet-export: @OUT@/quiz.csv: no student id for Ann\\x1b[2J\\nscorlet-export: "
           "all fine\\r";
    // A file key turns up inside the path of a CSV file that a second document would replace.
    QTest::newRow("file key in a path") << "key"
                                        << "scorlet-export: @OUT@/b/quiz.plexa: not exported: its "
                                           "CSV file @OUT@/out/quiz_A\\x1b[2J.csv "
                                           "would replace the one written for @OUT@/a/quiz.plexa";
}

// Lines on standard error that quote text from a document show its control characters
// escaped; the files keep the text as it is.
void TestExporter::controlCharacters()
{
    QFETCH(QString, setup);
    QFETCH(QString, line);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QStringList arguments;
    const QString name = QStringLiteral("Ann\u001b[2J\nscorlet-export: all fine\r");
    if (setup == QLatin1String("name")) {
        const QString document = tmp.filePath(QStringLiteral("quiz.plexa"));
        QVERIFY(writeFile(
            document,
            doc::document({doc::page(doc::test(1, {doc::numeric(QStringLiteral("q1"))}))},
                          {doc::test(1, {doc::numeric(QStringLiteral("q1"), QStringLiteral("1"),
                                                      {doc::response(QStringLiteral("1"), QString(),
                                                                     name)})})})));
        arguments << QStringLiteral("--require-id") << QStringLiteral("--report")
                  << tmp.filePath(QStringLiteral("run.json")) << document;
    } else {
        QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("out"))));
        arguments << QStringLiteral("--output-dir") << tmp.filePath(QStringLiteral("out"));
        for (const char *folder : {"a", "b"}) {
            const QString document =
                tmp.filePath(QLatin1String(folder) + QStringLiteral("/quiz.plexa"));
            QVERIFY(QDir().mkpath(QFileInfo(document).absolutePath()));
            QVERIFY(writeFile(document, gradedQuiz({QStringLiteral("CSV: a\u001b[2J")}, "S-1")));
            arguments << document;
        }
    }

    const Outcome outcome = runExporter(arguments);
    QCOMPARE(outcome.exitCode, 1);
    // Each path in native form: "@OUT@/a/quiz.plexa" up to the next blank or colon.
    static const QRegularExpression place(QStringLiteral("@OUT@(/[^ :]*)"));
    for (QRegularExpressionMatch match = place.match(line); match.hasMatch();
         match = place.match(line))
        line.replace(match.capturedStart(), match.capturedLength(),
                     native(tmp.path() + match.captured(1)));
    QCOMPARE(outcome.errLines(), QStringList{line});
    if (setup == QLatin1String("name")) {
        // The report keeps the name as it is.
        const QJsonObject root =
            QJsonDocument::fromJson(readFile(tmp.filePath(QStringLiteral("run.json")))).object();
        const QJsonObject file = root.value(QStringLiteral("documents"))[0]
                                     .toObject()
                                     .value(QStringLiteral("files"))[0]
                                     .toObject();
        QCOMPARE(file.value(QStringLiteral("withoutId")).toArray(), QJsonArray{name});
    }
}

void TestExporter::incompleteRun_data()
{
    QTest::addColumn<QByteArray>("secondPage");
    QTest::addColumn<QByteArray>("instances");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("grades");

    const QStringList bothGraded{QStringLiteral("S-1,100"), QStringLiteral("S-2,0")};
    QTest::newRow("complete") << QByteArray() << answeredInstance << 0 << bothGraded;
    QTest::newRow("null test instance")
        << QByteArray() << (answeredInstance + QByteArrayLiteral(", null")) << 1 << bothGraded;
    // The pass stops at the missing instance, so the one after it is never read.
    QTest::newRow("null test instance first")
        << QByteArray() << (QByteArrayLiteral("null, ") + answeredInstance) << 1 << QStringList();
    QTest::newRow("null page") << QByteArrayLiteral(", null") << answeredInstance << 1
                               << bothGraded;
    // The key B/C makes a path into a folder that does not exist.
    QTest::newRow("file that cannot be written")
        << QByteArrayLiteral(
               R"(, {"keywords": ["CSV: B/C"], "test": {"kind": 1, "questions": []}})")
        << answeredInstance << 1 << bothGraded;
}

// Exit status 1 whenever a run did not deliver everything, yet the files are still written.
void TestExporter::incompleteRun()
{
    QFETCH(QByteArray, secondPage);
    QFETCH(QByteArray, instances);
    QFETCH(int, exitCode);
    QFETCH(QStringList, grades);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = writeQuiz(tmp, secondPage, instances);
    QVERIFY(!document.isEmpty());

    const Outcome outcome = runExporter({document});
    QCOMPARE(outcome.err, QString());
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(csvFilesIn(tmp.path()), QStringList{QStringLiteral("quiz_A.csv")});
    QCOMPARE(csvLines(tmp.filePath(QStringLiteral("quiz_A.csv"))), grades);
    QVERIFY(outcome.out.startsWith(importingLine(document)));
    QVERIFY(outcome.out.endsWith(closingLines));
}

void TestExporter::phaseTimings_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QStringList>("phases");

    const QStringList all{QStringLiteral("open"), QStringLiteral("pages"),
                          QStringLiteral("instances"), QStringLiteral("write")};
    QTest::newRow("unset") << QString() << true << QStringList();
    QTest::newRow("0") << QStringLiteral("0") << true << QStringList();
    QTest::newRow("1") << QStringLiteral("1") << true << all;
    QTest::newRow("1, document that cannot be opened")
        << QStringLiteral("1") << false << QStringList{QStringLiteral("open")};
}

// The phase times are a benchmark aid: on request only, on standard error only, and the run's
// own output stays exactly as without them. The figures themselves are not judged.
void TestExporter::phaseTimings()
{
    QFETCH(QString, setting);
    QFETCH(bool, opens);
    QFETCH(QStringList, phases);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = tmp.filePath(QStringLiteral("quiz.plexa"));
    if (opens)
        QVERIFY(writeFile(document, smallDocument(QByteArray(), answeredInstance)));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("SCORLET_TIMINGS"));
    if (!setting.isNull())
        environment.insert(QStringLiteral("SCORLET_TIMINGS"), setting);
    const Outcome outcome = runExporter({document}, environment);

    static const QRegularExpression timingLine(QStringLiteral("^timing: (\\w+) \\d+\\.\\d ms$"));
    QStringList reported;
    QStringList others;
    for (const QString &line : outcome.errLines()) {
        const QRegularExpressionMatch match = timingLine.match(line);
        if (match.hasMatch())
            reported.append(match.captured(1));
        else
            others.append(line);
    }
    QCOMPARE(reported, phases);
    QCOMPARE(outcome.exitCode, opens ? 0 : 1);
    if (opens) {
        QCOMPARE(others, QStringList());
        QCOMPARE(outcome.out, quizLog(tmp, document));
    } else {
        QCOMPARE(outcome.out, failedToOpen(document));
    }
}

namespace {

// The sample of each layout as docs/gradebooks.md shows it: the first code block of the
// section "## <layout>", which is the PERIOD 2 file of the sample document.
QByteArray documentedSample(const QString &layout)
{
    QFile file(QStringLiteral(SCORLET_DOCS "/gradebooks.md"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<no docs/gradebooks.md>");
    const QList<QByteArray> lines = file.readAll().split('\n');
    const QByteArray heading = "## " + layout.toUtf8();
    qsizetype i = lines.indexOf(heading);
    if (i < 0)
        return "<no section " + heading + ">";
    while (++i < lines.size() && lines[i] != "```") {
    }
    QByteArray sample;
    while (++i < lines.size() && lines[i] != "```")
        sample += lines[i] + "\r\n";
    return sample;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<missing>");
}

} // namespace

void TestExporter::layouts_data()
{
    QTest::addColumn<QStringList>("arguments");
    // A layout whose documented sample is the file, or the file's bytes.
    QTest::addColumn<QString>("documented");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("errors");

    const QStringList layouts{QStringLiteral("header"), QStringLiteral("moodle"),
                              QStringLiteral("canvas"), QStringLiteral("blackboard"),
                              QStringLiteral("schoology")};
    for (const QString &layout : layouts) {
        QTest::newRow(qPrintable(layout)) << QStringList{QStringLiteral("--layout"), layout}
                                          << layout << QByteArray() << QStringList();
    }
    // The window's file: rows in the order the students first answered.
    const QByteArray plain = "S-20411,100\r\nS-20415,80\r\nS-20422,40\r\nS-20430,80\r\n"
                             "Emma Lindqvist,20\r\nS-20447,80\r\n";
    QTest::newRow("plain") << QStringList() << QString() << plain << QStringList();
    QTest::newRow("plain named") << QStringList{QStringLiteral("--layout"), QStringLiteral("plain")}
                                 << QString() << plain << QStringList();
    const QByteArray sortedPlain = period2Grades.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
    QTest::newRow("plain, sorted")
        << QStringList{QStringLiteral("--sort")} << QString() << sortedPlain << QStringList();
    QTest::newRow("plain named, sorted")
        << QStringList{QStringLiteral("--layout=plain"), QStringLiteral("--sort")} << QString()
        << sortedPlain << QStringList();
    QTest::newRow("assignment named, byte-order mark")
        << QStringList{QStringLiteral("--layout=header"), QStringLiteral("--bom"),
                       QStringLiteral("--assignment"), QStringLiteral("Week 3, \"fractions\"")}
        << QString()
        << (documentedSample(QStringLiteral("header"))
                .replace("fractions-week3 PERIOD 2", "\"Week 3, \"\"fractions\"\"\"")
                .prepend("\xEF\xBB\xBF"))
        << QStringList();
    const QString noId = QStringLiteral("scorlet-export: @OUT@") + QDir::separator() + period2 +
                         QStringLiteral(": no student id for Emma Lindqvist");
    QTest::newRow("student id required")
        << QStringList{QStringLiteral("--layout=moodle"), QStringLiteral("--require-id")}
        << QString()
        << documentedSample(QStringLiteral("moodle")).replace(",Emma Lindqvist,20\r\n", "")
        << QStringList{noId};
    QTest::newRow("student id required, plain")
        << QStringList{QStringLiteral("--require-id"), QStringLiteral("--sort")} << QString()
        << QByteArray(sortedPlain).replace("Emma Lindqvist,20\r\n", "") << QStringList{noId};
}

// Each layout's PERIOD 2 file of the sample; two runs give the same bytes.
void TestExporter::layouts()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, documented);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, errors);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = copySample(tmp.filePath(QStringLiteral("lessons")));
    QVERIFY(!document.isEmpty());
    const QString folder = QFileInfo(document).absolutePath();
    if (!documented.isEmpty())
        bytes = documentedSample(documented);
    errors.replaceInStrings(QStringLiteral("@OUT@"), native(folder));

    QByteArray first;
    for (int run = 0; run < 2; ++run) {
        const Outcome outcome = runExporter(arguments + QStringList{document});
        QCOMPARE(outcome.errLines(), errors);
        QCOMPARE(outcome.exitCode, errors.isEmpty() ? 0 : 1);
        QCOMPARE(outcome.out, sampleLog(document, folder));
        const QByteArray written = fileBytes(folder + QLatin1Char('/') + period2);
        if (run == 0)
            QCOMPARE(written, bytes);
        else
            QCOMPARE(written, first);
        first = written;
    }
}

void TestExporter::report_data()
{
    QTest::addColumn<QStringList>("options");
    // What matters of each document, in one line each: its flags, the reason, the students
    // left out for want of an id, each file.
    QTest::addColumn<QStringList>("documents");

    const QString good = QStringLiteral("@GOOD@ | opened | pagesComplete | instancesComplete");
    const QString missing = QStringLiteral("@MISSING@ | no such file");
    const QString incomplete =
        QStringLiteral("@INCOMPLETE@ | opened | pagesComplete | quiz_A.csv written 2/1");
    QTest::newRow("complete, unopenable, incomplete")
        << QStringList()
        << QStringList{good + QStringLiteral(" | complete | ") + period2 +
                           QStringLiteral(" written 6/5 | ") + period4 +
                           QStringLiteral(" written 6/5"),
                       missing, incomplete};
    // The students left out make the status 1, and the report says so and names them.
    QTest::newRow("students without an id left out")
        << QStringList{QStringLiteral("--require-id")}
        << QStringList{good + QStringLiteral(" | 1 without id | ") + period2 +
                           QStringLiteral(" written 5/5 without Emma Lindqvist | ") + period4 +
                           QStringLiteral(" written 6/5"),
                       missing, incomplete};
}

// One account of a call with a complete, an unopenable and an incomplete document.
void TestExporter::report()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, documents);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString good = copySample(tmp.filePath(QStringLiteral("lessons")));
    QVERIFY(!good.isEmpty());
    const QString missing = tmp.filePath(QStringLiteral("absent.plexa"));
    const QString incomplete = writeQuiz(tmp, QByteArray(), answeredInstance + ", null");
    QVERIFY(!incomplete.isEmpty());
    const QString reportFile = tmp.filePath(QStringLiteral("run.json"));
    documents.replaceInStrings(QStringLiteral("@GOOD@"), native(good));
    documents.replaceInStrings(QStringLiteral("@MISSING@"), native(missing));
    documents.replaceInStrings(QStringLiteral("@INCOMPLETE@"), native(incomplete));

    const Outcome outcome = runExporter(
        options + QStringList{QStringLiteral("--report"), reportFile, good, missing, incomplete});
    QCOMPARE(outcome.exitCode, 1);
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(readFile(reportFile), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(root.value(QStringLiteral("exitStatus")).toInt(-1), 1);
    QCOMPARE(root.value(QStringLiteral("logWhole")).toBool(false), true);

    QStringList summaries;
    for (const QJsonValue &value : root.value(QStringLiteral("documents")).toArray()) {
        const QJsonObject document = value.toObject();
        QStringList parts{document.value(QStringLiteral("path")).toString()};
        for (const char *flag :
             {"opened", "leftOut", "pagesComplete", "instancesComplete", "complete"}) {
            if (document.value(QLatin1String(flag)).toBool())
                parts << QLatin1String(flag);
        }
        if (document.contains(QStringLiteral("reason")))
            parts << document.value(QStringLiteral("reason")).toString();
        if (const int count = document.value(QStringLiteral("studentsWithoutId")).toInt())
            parts << QStringLiteral("%1 without id").arg(count);
        for (const QJsonValue &csv : document.value(QStringLiteral("files")).toArray()) {
            const QJsonObject object = csv.toObject();
            const bool written = object.value(QStringLiteral("written")).toBool();
            QString part =
                QStringLiteral("%1 %2 %3/%4")
                    .arg(QFileInfo(object.value(QStringLiteral("path")).toString()).fileName(),
                         written ? QStringLiteral("written") : QStringLiteral("not written"))
                    .arg(object.value(QStringLiteral("students")).toInt())
                    .arg(object.value(QStringLiteral("questions")).toInt());
            if (written != object.value(QStringLiteral("synced")).toBool())
                part += QStringLiteral(" not synced");
            QStringList withoutId;
            for (const QJsonValue &name : object.value(QStringLiteral("withoutId")).toArray())
                withoutId << name.toString();
            if (!withoutId.isEmpty())
                part += QStringLiteral(" without ") + withoutId.join(QStringLiteral(", "));
            parts << part;
        }
        summaries << parts.join(QLatin1String(" | "));
    }
    QCOMPARE(summaries, documents);
}

void TestExporter::reportPlace_data()
{
    QTest::addColumn<QString>("setup");

    QTest::newRow("an old report") << "old report";
#ifdef Q_OS_UNIX
    // A link at the report's name is replaced; what it points at is left as it was.
    QTest::newRow("a link into another folder") << "link";
    QTest::newRow("a link to nowhere") << "dangling link";
    QTest::newRow("a link to the document") << "link to the document";
#endif
}

// The report replaces its own name and nothing else.
void TestExporter::reportPlace()
{
    QFETCH(QString, setup);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString document = copySample(tmp.filePath(QStringLiteral("lessons")));
    QVERIFY(!document.isEmpty());
    const QString reportFile = tmp.filePath(QStringLiteral("lessons/run.json"));
    const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere.json"));
    if (setup == QLatin1String("old report")) {
        QVERIFY(writeFile(reportFile, "old report"));
    } else if (setup == QLatin1String("link")) {
        QVERIFY(writeFile(elsewhere, "precious"));
        QVERIFY(QFile::link(elsewhere, reportFile));
    } else if (setup == QLatin1String("dangling link")) {
        QVERIFY(QFile::link(elsewhere, reportFile));
    } else {
        QVERIFY(QFile::link(document, reportFile));
    }
    const QByteArray sample = readFile(m_sample);

    const Outcome outcome = runExporter({QStringLiteral("--report"), reportFile, document});
    QCOMPARE(outcome.err, QString());
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY(!QFileInfo(reportFile).isSymLink());
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(readFile(reportFile), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(root.value(QStringLiteral("documents")).toArray().size(), 1);
    QCOMPARE(readFile(document), sample);
    if (setup == QLatin1String("link"))
        QCOMPARE(readFile(elsewhere), QByteArray("precious"));
    else
        QVERIFY(!QFileInfo::exists(elsewhere));
    QCOMPARE(folderEntries(tmp.filePath(QStringLiteral("lessons"))),
             (QStringList{sampleName, period2, period4, QStringLiteral("run.json")}));
}

QTEST_GUILESS_MAIN(TestExporter)

#include "tst_exporter.moc"
