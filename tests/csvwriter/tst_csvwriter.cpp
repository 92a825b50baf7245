#include "diagnostics.h"
#include "exportdatabase.h"
#include "files.h"
#include "messagecapture.h"
#include "recording.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QLoggingCategory>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Gives the student `correct` right and `wrong` wrong answers to distinct questions.
void addStudent(exportDatabase &db, ExportFile &file, const QString &key, int correct, int wrong)
{
    const quint32 student = file.editStudents().findOrAdd(key);
    const auto answer = [&](const QString &id, bool right, int time) {
        if (!db.questions.contains(id))
            db.questions.insert(id, QuestionEntry{id, 0, &file});
        file.editStudents().keepAttempt(student, quint32(db.questions.indexOf(id)), right, time);
    };
    for (int i = 0; i < correct; ++i)
        answer(QStringLiteral("right%1").arg(i), true, i);
    for (int i = 0; i < wrong; ++i)
        answer(QStringLiteral("wrong%1").arg(i), false, i);
}

// The file's lines, each of which must end with CR LF, the last one too.
QSet<QByteArray> crlfLines(const QByteArray &bytes)
{
    QSet<QByteArray> lines;
    if (bytes.isEmpty())
        return lines;
    if (!bytes.endsWith("\r\n"))
        return {QByteArray("<no line end at the end>")};
    QList<QByteArray> parts = bytes.split('\n');
    parts.removeLast();
    for (QByteArray part : parts) {
        if (!part.endsWith('\r'))
            return {QByteArray("<bare LF>")};
        part.chop(1);
        if (part.contains('\r'))
            return {QByteArray("<bare CR>")};
        lines.insert(part);
    }
    return lines;
}

QStringList successLines(const QString &nativePath, const QString &shownName, const QString &folder)
{
    return {QString(),
            QStringLiteral("Creating export file ") + nativePath,
            QString(),
            QStringLiteral("Finished exporting to ") + shownName + QLatin1Char(' '),
            QStringLiteral("The CSV file is located in this folder ") + folder +
                QStringLiteral(". It is in the same location as your Plexa file."),
            QStringLiteral("Please locate the ") + shownName +
                QStringLiteral(" file and import it into your grade book."),
            QString()};
}

QStringList failureLines(const QString &nativePath)
{
    return {QString(), QStringLiteral("Creating export file ") + nativePath, QString(),
            QStringLiteral("FAILED to create CSV file."),
            QStringLiteral("The file could be locked or opened by another application.")};
}

// What a plain file whose keys the locale's encoding cannot hold begins with: UTF-8 has them all
// on Unix; on Windows the file turns to UTF-8 with a byte-order mark.
#ifdef Q_OS_WIN
const char plainUnicodeMark[] = "\xEF\xBB\xBF";
#else
const char plainUnicodeMark[] = "";
#endif

const QStringList closingLines = {QStringLiteral("All Export(s) completed."),
                                  QStringLiteral("-------------------------")};

} // namespace

class TestCsvWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void addExportFile_data();
    void addExportFile();
    void addExportFileKeepsExistingRecord();
    void clearEmptiesTables();

    void wholeLogWithFailingSecondFile_data();
    void wholeLogWithFailingSecondFile();
    void noExportFiles();
    void studentLine_data();
    void studentLine();
    void exactBytes();
    void layoutRows_data();
    void layoutRows();
    void fileWithoutStudentsIsEmpty();
    void longerOldFileReplaced();
#ifdef Q_OS_UNIX
    void readOnlyFolderKeepsOldFile();
#endif
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void sameStudentInTwoFiles();
    void shownNameStopsAtFirstDot();
    void longNameReplacedAgain_data();
    void longNameReplacedAgain();
    void unsafeKeys_data();
    void unsafeKeys();
    void deviceNames_data();
    void deviceNames();
    void tallyCountsOnlyCorrectStates();
    void failedFilesCountedPerCall();
    void reportEndIsLastDiagnostic();
    void manyFilesLoggedInTableOrder();
    void filesWrittenInKeyOrder();

private:
    QString stem() const
    {
        return dir->path() + QStringLiteral("/Lesson");
    }
    QString folder() const
    {
        return QDir::toNativeSeparators(dir->path());
    }
    QString nativeCsv(const QString &suffix) const
    {
        return QDir::toNativeSeparators(stem() + suffix + QStringLiteral(".csv"));
    }

    std::unique_ptr<QTemporaryDir> dir;
    RecordingLog log;
    exportDatabase db;
};

void TestCsvWriter::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    db.exportFiles.clear();
    db.questions.clear();
    db.failedFiles = 0;
    db.gradebook = Gradebook::Options();
    log.lines.clear();
    log.clears = 0;
    db.log = &log;
}

void TestCsvWriter::addExportFile_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("baseName");

    QTest::newRow("default file") << "NULL"
                                  << "Lesson.csv"
                                  << "Lesson";
    QTest::newRow("keyword file") << "PERIOD 2"
                                  << "Lesson_PERIOD 2.csv"
                                  << "Lesson_PERIOD 2";
    QTest::newRow("empty key keeps its separator") << ""
                                                   << "Lesson_.csv"
                                                   << "Lesson_";
    // Only the exact key NULL is the default file.
    QTest::newRow("lower-case null") << "null"
                                     << "Lesson_null.csv"
                                     << "Lesson_null";
    QTest::newRow("dot in key") << "P1.A"
                                << "Lesson_P1.A.csv"
                                << "Lesson_P1";
}

void TestCsvWriter::addExportFile()
{
    QFETCH(QString, key);
    QFETCH(QString, fileName);
    QFETCH(QString, baseName);

    ExportFile &file = db.addExportFile(key, stem());
    QCOMPARE(file.key(), key);
    QCOMPARE(file.filePath(), dir->path() + QLatin1Char('/') + fileName);
    QCOMPARE(file.baseName(), baseName);
    QCOMPARE(file.questionCount, 0);
    QVERIFY(file.pages().isEmpty());
    QVERIFY(file.students().isEmpty());
    QCOMPARE(db.exportFiles.size(), size_t(1));
}

void TestCsvWriter::addExportFileKeepsExistingRecord()
{
    ExportFile &first = db.addExportFile(QStringLiteral("A"), stem());
    first.questionCount = 3;
    first.addPage(2);
    // Records already handed out must stay where they are while others are added.
    for (int i = 0; i < 50; ++i)
        db.addExportFile(QStringLiteral("K%1").arg(i), stem());
    ExportFile &again = db.addExportFile(QStringLiteral("A"), QStringLiteral("/elsewhere/X"));
    QCOMPARE(&again, &first);
    QCOMPARE(again.questionCount, 3);
    QCOMPARE(again.pages(), QList<int>{2});
    QCOMPARE(again.filePath(), stem() + QStringLiteral("_A.csv"));
}

void TestCsvWriter::clearEmptiesTables()
{
    ExportFile &file = db.addExportFile(QStringLiteral("NULL"), stem());
    db.questions.insert(QStringLiteral("q1"), QuestionEntry{QStringLiteral("q1"), 0, &file});
    log.lines << QStringLiteral("old line");

    db.clear();
    QVERIFY(db.questions.isEmpty());
    QVERIFY(db.exportFiles.empty());
    QVERIFY(log.lines.isEmpty());
    QCOMPARE(log.clears, 1);

    db.log = nullptr;
    db.addExportFile(QStringLiteral("NULL"), stem());
    db.clear();
    QVERIFY(db.exportFiles.empty());
}

void TestCsvWriter::wholeLogWithFailingSecondFile_data()
{
    QTest::addColumn<QString>("secondKey");
    QTest::addColumn<bool>("folderInTheWay");

    // The second file in key order fails, once through its key and once through a folder
    // standing where the file would go.
    QTest::newRow("unsafe key") << "Z/1" << false;
    QTest::newRow("folder at the file's path") << "Z" << true;
}

void TestCsvWriter::wholeLogWithFailingSecondFile()
{
    QFETCH(QString, secondKey);
    QFETCH(bool, folderInTheWay);

    ExportFile &first = db.addExportFile(QStringLiteral("NULL"), stem());
    first.questionCount = 2;
    addStudent(db, first, QStringLiteral("Ann"), 1, 1);
    ExportFile &second = db.addExportFile(secondKey, stem());
    second.questionCount = 1;
    addStudent(db, second, QStringLiteral("Ben"), 1, 0);
    if (folderInTheWay)
        QVERIFY(QDir().mkpath(second.filePath()));

    db.logLine(QStringLiteral("Importing file X"));
    db.writeCsvFiles(folder());

    const QStringList expected =
        QStringList{QStringLiteral("Importing file X")} +
        successLines(nativeCsv(QString()), QStringLiteral("Lesson.csv"), folder()) +
        failureLines(nativeCsv(QLatin1Char('_') + secondKey)) + closingLines;
    QCOMPARE(log.lines.size(), 15);
    QCOMPARE(log.lines, expected);
    QCOMPARE(db.failedFiles, 1);
    QCOMPARE(readFile(first.filePath()), QByteArray("Ann,50\r\n"));

    const QStringList expectedEntries =
        folderInTheWay ? QStringList{"Lesson.csv", "Lesson_Z.csv"} : QStringList{"Lesson.csv"};
    QCOMPARE(folderEntries(dir->path()), expectedEntries);
    if (folderInTheWay)
        QVERIFY(folderEntries(second.filePath()).isEmpty());
}

void TestCsvWriter::noExportFiles()
{
    db.writeCsvFiles(folder());
    QCOMPARE(log.lines, closingLines);
    QCOMPARE(db.failedFiles, 0);
    QVERIFY(folderEntries(dir->path()).isEmpty());
}

void TestCsvWriter::studentLine_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("correct");
    QTest::addColumn<int>("wrong");
    QTest::addColumn<int>("questionCount");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("grade, none right") << "S" << 0 << 10 << 10 << QByteArray("S,0");
    QTest::newRow("grade, no answers at all") << "S" << 0 << 0 << 10 << QByteArray("S,0");
    QTest::newRow("grade, 1 of 3 truncated") << "S" << 1 << 2 << 3 << QByteArray("S,33");
    QTest::newRow("grade, 2 of 3 truncated, not rounded")
        << "S" << 2 << 1 << 3 << QByteArray("S,66");
    QTest::newRow("grade, 7 of 10") << "S" << 7 << 3 << 10 << QByteArray("S,70");
    // A floating-point quotient gives 28.999999999999996 here.
    QTest::newRow("grade, 29 of 100") << "S" << 29 << 71 << 100 << QByteArray("S,29");
    QTest::newRow("grade, 57 of 100") << "S" << 57 << 0 << 100 << QByteArray("S,57");
    QTest::newRow("grade, all right") << "S" << 10 << 0 << 10 << QByteArray("S,100");
    QTest::newRow("grade, no questions") << "S" << 2 << 0 << 0 << QByteArray("S,0");

    // Keys are quoted only where RFC 4180 asks for it.
    QTest::newRow("key, plain") << "Ann" << 0 << 1 << 1 << QByteArray("Ann,0");
    QTest::newRow("key, blanks kept") << " Ann Lee " << 0 << 1 << 1 << QByteArray(" Ann Lee ,0");
    QTest::newRow("key, semicolon needs nothing")
        << "Ann;Lee" << 0 << 1 << 1 << QByteArray("Ann;Lee,0");
    QTest::newRow("key, empty key") << "" << 0 << 1 << 1 << QByteArray(",0");
    QTest::newRow("key, comma") << "Lee, Ann" << 0 << 1 << 1 << QByteArray("\"Lee, Ann\",0");
    QTest::newRow("key, quotes doubled")
        << "Ann \"A\" Lee" << 0 << 1 << 1 << QByteArray("\"Ann \"\"A\"\" Lee\",0");
    QTest::newRow("key, lone quote") << "\"" << 0 << 1 << 1 << QByteArray("\"\"\"\",0");
    QTest::newRow("key, line feed") << "Ann\nLee" << 0 << 1 << 1 << QByteArray("\"Ann\nLee\",0");
    QTest::newRow("key, carriage return")
        << "Ann\rLee" << 0 << 1 << 1 << QByteArray("\"Ann\rLee\",0");
}

// One student's line: the key as RFC 4180 writes it and the whole percentage, truncated.
void TestCsvWriter::studentLine()
{
    QFETCH(QString, key);
    QFETCH(int, correct);
    QFETCH(int, wrong);
    QFETCH(int, questionCount);
    QFETCH(QByteArray, line);

    ExportFile &file = db.addExportFile(QStringLiteral("NULL"), stem());
    file.questionCount = questionCount;
    addStudent(db, file, key, correct, wrong);
    db.writeCsvFiles(folder());
    QCOMPARE(readFile(file.filePath()), line + "\r\n");
}

void TestCsvWriter::exactBytes()
{
    ExportFile &file = db.addExportFile(QStringLiteral("NULL"), stem());
    file.questionCount = 10;
    addStudent(db, file, QStringLiteral("Ann"), 7, 3);
    addStudent(db, file, QStringLiteral("S-0141"), 10, 0);
    addStudent(db, file, QStringLiteral("Device 4"), 0, 1);
    db.writeCsvFiles(folder());

    const QByteArray bytes = readFile(file.filePath());
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    // Rows follow the student table's own order, so they are compared as a set.
    const QSet<QByteArray> expected = {"Ann,70", "S-0141,100", "Device 4,0"};
    QCOMPARE(crlfLines(bytes), expected);
    QCOMPARE(bytes.size(), qsizetype(QByteArray("Ann,70\r\nS-0141,100\r\nDevice 4,0\r\n").size()));
}

void TestCsvWriter::layoutRows_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<bool>("requireId");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("withoutId");

    using Gradebook::Layout;
    // Keys in table order: U+FFFD, then U+1F600 (a surrogate pair, which UTF-16 order would put
    // first), then a key with a comma whose student gave a name only.
    // No ANSI code page holds these keys: on Windows the file is UTF-8 with a mark.
    QTest::newRow("plain, sorted by code point")
        << int(Layout::Plain) << false
        << QByteArray(plainUnicodeMark) +
               QByteArray("\"Lee, Ann\",0\r\n\xEF\xBF\xBD,100\r\n\xF0\x9F\x98\x80,70\r\n")
        << QStringList();
    QTest::newRow("canvas, name column falls back to the label")
        << int(Layout::Canvas) << false
        << QByteArray("Student,ID,SIS User ID,SIS Login ID,Section,Lesson\r\n"
                      "\"Lee, Ann\",,,,,0\r\nDevice 1,,\xEF\xBF\xBD,,,100\r\n"
                      "Device 2,,\xF0\x9F\x98\x80,,,70\r\n")
        << QStringList();
    QTest::newRow("blackboard, student id required")
        << int(Layout::Blackboard) << true
        << QByteArray("\"Last Name\",\"First Name\",\"Username\",\"Lesson\"\r\n"
                      "\"Device 1\",\"\",\"\xEF\xBF\xBD\",\"100\"\r\n"
                      "\"Device 2\",\"\",\"\xF0\x9F\x98\x80\",\"70\"\r\n")
        << QStringList{QStringLiteral("Lee, Ann")};
}

// The rows of a layout come in code-point order of the key, each field quoted as RFC 4180
// asks, from each student's identity.
void TestCsvWriter::layoutRows()
{
    QFETCH(int, layout);
    QFETCH(bool, requireId);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, withoutId);

    db.gradebook.layout = Gradebook::Layout(layout);
    db.gradebook.sort = true;
    db.gradebook.requireId = requireId;
    ExportFile &file = db.addExportFile(QStringLiteral("NULL"), stem());
    file.questionCount = 10;
    const QString replacement(QChar(0xFFFD));
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    addStudent(db, file, replacement, 10, 0);
    addStudent(db, file, emoji, 7, 3);
    addStudent(db, file, QStringLiteral("Lee, Ann"), 0, 1);
    file.noteIdentity(0, replacement, QString(), QStringLiteral("Device 1"));
    file.noteIdentity(1, emoji, QString(), QStringLiteral("Device 2"));
    file.noteIdentity(2, QString(), QStringLiteral("Lee, Ann"), QStringLiteral("Device 3"));
    db.writeCsvFiles(folder());

    QCOMPARE(readFile(file.filePath()), bytes);
    QCOMPARE(file.withoutId(), withoutId);
    QCOMPARE(file.rowsWritten, int(3 - withoutId.size()));
}

void TestCsvWriter::fileWithoutStudentsIsEmpty()
{
    ExportFile &file = db.addExportFile(QStringLiteral("A"), stem());
    file.questionCount = 4;
    QVERIFY(writeFile(file.filePath(), "Old,10\r\n"));
    db.writeCsvFiles(folder());

    QVERIFY(QFileInfo::exists(file.filePath()));
    QCOMPARE(QFileInfo(file.filePath()).size(), qint64(0));
    QCOMPARE(log.lines, successLines(nativeCsv(QStringLiteral("_A")),
                                     QStringLiteral("Lesson_A.csv"), folder()) +
                            closingLines);
    QCOMPARE(db.failedFiles, 0);
    QCOMPARE(folderEntries(dir->path()), QStringList{"Lesson_A.csv"});
}

void TestCsvWriter::longerOldFileReplaced()
{
    ExportFile &file = db.addExportFile(QStringLiteral("NULL"), stem());
    QVERIFY(writeFile(file.filePath(), "Zed,10\r\nYan,20\r\nXia,30\r\nWu,40\r\nVal,50\r\n"));
    file.questionCount = 2;
    addStudent(db, file, QStringLiteral("Ann"), 2, 0);
    db.writeCsvFiles(folder());
    QCOMPARE(readFile(file.filePath()), QByteArray("Ann,100\r\n"));
    QCOMPARE(folderEntries(dir->path()), QStringList{"Lesson.csv"});
}

#ifdef Q_OS_UNIX
void TestCsvWriter::readOnlyFolderKeepsOldFile()
{
    ExportFile &file = db.addExportFile(QStringLiteral("NULL"), stem());
    const QByteArray old("Old,10\r\n");
    QVERIFY(writeFile(file.filePath(), old));
    addStudent(db, file, QStringLiteral("Ann"), 1, 0);
    file.questionCount = 1;

    const QFileDevice::Permissions writable = QFile::permissions(dir->path());
    QVERIFY(QFile::setPermissions(dir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(dir->path(), writable); });
    {
        QFile probe(dir->path() + QStringLiteral("/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.close();
            probe.remove();
            QSKIP("This user can still write into a read-only folder");
        }
    }

    db.writeCsvFiles(folder());
    QCOMPARE(log.lines, failureLines(nativeCsv(QString())) + closingLines);
    QCOMPARE(db.failedFiles, 1);
    QCOMPARE(readFile(file.filePath()), old);
    QCOMPARE(folderEntries(dir->path()), QStringList{"Lesson.csv"});
}
#endif

void TestCsvWriter::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("subFolder");

    // Such names can exist on this platform, so the old file is there to be harmed.
    QTest::newRow("colon") << "A:B"
                           << "";
#ifdef Q_OS_UNIX
    QTest::newRow("question mark") << "A?"
                                   << "";
#endif
    QTest::newRow("separator into a sub-folder") << "sub/x"
                                                 << "Lesson_sub";
}

void TestCsvWriter::failedWriteKeepsOldFile()
{
    QFETCH(QString, key);
    QFETCH(QString, subFolder);

    ExportFile &file = db.addExportFile(key, stem());
    if (!subFolder.isEmpty())
        QVERIFY(QDir(dir->path()).mkdir(subFolder));
    const QByteArray old("Old,10\r\nOlder,20\r\n");
    QVERIFY(writeFile(file.filePath(), old));
    file.questionCount = 1;
    addStudent(db, file, QStringLiteral("Ann"), 1, 0);
    const QStringList before = folderEntries(QFileInfo(file.filePath()).path());

    db.writeCsvFiles(folder());
    QCOMPARE(log.lines, failureLines(QDir::toNativeSeparators(file.filePath())) + closingLines);
    QCOMPARE(readFile(file.filePath()), old);
    QCOMPARE(folderEntries(QFileInfo(file.filePath()).path()), before);
}

void TestCsvWriter::sameStudentInTwoFiles()
{
    ExportFile &a = db.addExportFile(QStringLiteral("A"), stem());
    a.questionCount = 4;
    addStudent(db, a, QStringLiteral("Ann"), 1, 1);
    addStudent(db, a, QStringLiteral("Ben"), 4, 0);
    ExportFile &b = db.addExportFile(QStringLiteral("B"), stem());
    b.questionCount = 3;
    addStudent(db, b, QStringLiteral("Ann"), 2, 0);
    db.writeCsvFiles(folder());

    QCOMPARE(crlfLines(readFile(a.filePath())), (QSet<QByteArray>{"Ann,25", "Ben,100"}));
    QCOMPARE(readFile(b.filePath()), QByteArray("Ann,66\r\n"));
    QCOMPARE(log.lines, successLines(nativeCsv(QStringLiteral("_A")),
                                     QStringLiteral("Lesson_A.csv"), folder()) +
                            successLines(nativeCsv(QStringLiteral("_B")),
                                         QStringLiteral("Lesson_B.csv"), folder()) +
                            closingLines);
}

void TestCsvWriter::shownNameStopsAtFirstDot()
{
    ExportFile &file = db.addExportFile(QStringLiteral("P1.A"), stem());
    file.questionCount = 1;
    addStudent(db, file, QStringLiteral("Ann"), 1, 0);
    db.writeCsvFiles(folder());

    QCOMPARE(folderEntries(dir->path()), QStringList{"Lesson_P1.A.csv"});
    QCOMPARE(log.lines, successLines(nativeCsv(QStringLiteral("_P1.A")),
                                     QStringLiteral("Lesson_P1.csv"), folder()) +
                            closingLines);
}

void TestCsvWriter::longNameReplacedAgain_data()
{
    QTest::addColumn<QString>("key");

    // "Lesson_" + key + ".csv": names of 249 to 255 bytes, the longest a folder takes.
    for (int bytes = 249; bytes <= 255; ++bytes)
        QTest::addRow("%d bytes", bytes) << QString(bytes - 11, QLatin1Char('k'));
    QTest::newRow("255 bytes of two-byte letters") << QString(122, QChar(0xDC));
}

// The temporary file beside the CSV must have a name short enough for the folder whatever the
// CSV's name, or only a first export would succeed.
void TestCsvWriter::longNameReplacedAgain()
{
    QFETCH(QString, key);

    ExportFile &file = db.addExportFile(key, stem());
    file.questionCount = 1;
    addStudent(db, file, QStringLiteral("Ann"), 1, 0);
    const QString name = QFileInfo(file.filePath()).fileName();
    for (int run = 0; run < 2; ++run) {
        db.writeCsvFiles(folder());
        QCOMPARE(db.failedFiles, 0);
        QCOMPARE(readFile(file.filePath()), QByteArray("Ann,100\r\n"));
        QCOMPARE(folderEntries(dir->path()), QStringList{name});
    }
}

void TestCsvWriter::unsafeKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("written");

    QTest::newRow("slash") << "A/B" << false;
    QTest::newRow("leading slash") << "/tmp" << false;
    QTest::newRow("backslash") << "A\\B" << false;
    QTest::newRow("colon") << "A:B" << false;
    QTest::newRow("star") << "A*" << false;
    QTest::newRow("question mark") << "A?" << false;
    QTest::newRow("double quote") << "A\"B" << false;
    QTest::newRow("less than") << "A<B" << false;
    QTest::newRow("greater than") << "A>B" << false;
    QTest::newRow("bar") << "A|B" << false;
    QTest::newRow("tab") << "A\tB" << false;
    QTest::newRow("line feed") << "A\nB" << false;
    QTest::newRow("escape") << QString(QChar(0x1b)) << false;
    QTest::newRow("delete") << QStringLiteral("A\u007FB") << false;
    QTest::newRow("C1 next line") << QStringLiteral("A\u0085B") << false;
    QTest::newRow("C1 first") << QString(QChar(0x80)) << false;
    QTest::newRow("C1 last") << QStringLiteral("A\u009F") << false;
    QTest::newRow("no-break space") << QStringLiteral("A\u00A0B") << true;
    QTest::newRow("parent folder") << "../A" << false;
    // Two dots alone are part of the name Lesson_...csv and lead nowhere else.
    QTest::newRow("two dots alone") << ".." << true;
    QTest::newRow("blank and hyphen") << "GROUP B-2" << true;
    QTest::newRow("accented") << "GRUPPE Ü" << true;
}

void TestCsvWriter::unsafeKeys()
{
    QFETCH(QString, key);
    QFETCH(bool, written);

    ExportFile &other = db.addExportFile(QStringLiteral("NULL"), stem());
    other.questionCount = 1;
    addStudent(db, other, QStringLiteral("Ann"), 1, 0);
    ExportFile &file = db.addExportFile(key, stem());
    file.questionCount = 1;
    addStudent(db, file, QStringLiteral("Ben"), 0, 1);
    db.writeCsvFiles(folder());

    QCOMPARE(db.failedFiles, written ? 0 : 1);
    QCOMPARE(readFile(other.filePath()), QByteArray("Ann,100\r\n"));
    QCOMPARE(QFileInfo::exists(file.filePath()), written);
    if (written)
        QCOMPARE(readFile(file.filePath()), QByteArray("Ben,0\r\n"));
    const QStringList expectedEntries =
        written ? QStringList{"Lesson.csv", "Lesson_" + key + ".csv"} : QStringList{"Lesson.csv"};
    const QStringList actualEntries = folderEntries(dir->path());
    QCOMPARE(QSet<QString>(actualEntries.begin(), actualEntries.end()),
             QSet<QString>(expectedEntries.begin(), expectedEntries.end()));
    QCOMPARE(log.lines.contains(QStringLiteral("FAILED to create CSV file.")), !written);
}

void TestCsvWriter::deviceNames_data()
{
    QTest::addColumn<QString>("baseName");
    // Whether Windows takes the name for a device.
    QTest::addColumn<bool>("device");

    QTest::newRow("con") << "con" << true;
    QTest::newRow("upper case") << "CON" << true;
    QTest::newRow("mixed case") << "Aux" << true;
    QTest::newRow("nul") << "nul" << true;
    QTest::newRow("prn") << "prn" << true;
    QTest::newRow("com1") << "com1" << true;
    QTest::newRow("LPT9") << "LPT9" << true;
    QTest::newRow("trailing blank") << "con " << true;
    QTest::newRow("com0") << "com0" << false;
    QTest::newRow("lpt10") << "lpt10" << false;
    QTest::newRow("console") << "console" << false;
}

// A document whose base name Windows takes for a device would have its default file written to
// the device: there that file fails as an unsafe key does. Other systems have no such names.
void TestCsvWriter::deviceNames()
{
    QFETCH(QString, baseName);
    QFETCH(bool, device);
#ifdef Q_OS_WIN
    const bool refused = device;
#else
    Q_UNUSED(device);
    const bool refused = false;
#endif

    const QString stem = dir->path() + u'/' + baseName;
    ExportFile &file = db.addExportFile(QStringLiteral("NULL"), stem);
    file.questionCount = 1;
    addStudent(db, file, QStringLiteral("Ann"), 1, 0);
    ExportFile &keyed = db.addExportFile(QStringLiteral("A"), stem);
    keyed.questionCount = 1;
    addStudent(db, keyed, QStringLiteral("Ben"), 1, 0);
    db.writeCsvFiles(folder());

    QCOMPARE(db.failedFiles, refused ? 1 : 0);
    const QStringList expected =
        refused ? failureLines(QDir::toNativeSeparators(file.filePath())) : QStringList();
    if (refused)
        QVERIFY(log.lines.join(u'\n').contains(expected.join(u'\n')));
    QCOMPARE(readFile(keyed.filePath()), QByteArray("Ben,100\r\n"));
    QCOMPARE(folderEntries(dir->path()).size(), refused ? 1 : 2);
}

void TestCsvWriter::tallyCountsOnlyCorrectStates()
{
    ExportFile &a = db.addExportFile(QStringLiteral("A"), stem());
    addStudent(db, a, QStringLiteral("Ann"), 3, 4);
    addStudent(db, a, QStringLiteral("Ben"), 0, 2);
    addStudent(db, a, QStringLiteral("Cy"), 0, 0);
    ExportFile &b = db.addExportFile(QStringLiteral("B"), stem());
    addStudent(db, b, QStringLiteral("Ann"), 1, 0);

    db.tallyCorrect();
    QCOMPARE(a.students().value(QStringLiteral("Ann")).correct, 3);
    QCOMPARE(a.students().value(QStringLiteral("Ben")).correct, 0);
    QCOMPARE(a.students().value(QStringLiteral("Cy")).correct, 0);
    QCOMPARE(b.students().value(QStringLiteral("Ann")).correct, 1);

    // Writing the same tables again gives the same grades.
    a.questionCount = 10;
    db.writeCsvFiles(folder());
    db.writeCsvFiles(folder());
    QCOMPARE(a.students().value(QStringLiteral("Ann")).correct, 3);
    QCOMPARE(crlfLines(readFile(a.filePath())), (QSet<QByteArray>{"Ann,30", "Ben,0", "Cy,0"}));
}

void TestCsvWriter::failedFilesCountedPerCall()
{
    db.addExportFile(QStringLiteral("A|B"), stem());
    const ExportFile &blocked = db.addExportFile(QStringLiteral("C"), stem());
    db.addExportFile(QStringLiteral("NULL"), stem());
    QVERIFY(QDir().mkpath(blocked.filePath()));
    db.writeCsvFiles(folder());
    QCOMPARE(db.failedFiles, 2);

    QVERIFY(QDir().rmdir(blocked.filePath()));
    db.writeCsvFiles(folder());
    QCOMPARE(db.failedFiles, 1);
}

void TestCsvWriter::reportEndIsLastDiagnostic()
{
    QLoggingCategory *category = &diagnosticsCategory();
    const bool wasEnabled = category->isDebugEnabled();
    category->setEnabled(QtDebugMsg, true);
    MessageCapture capture({QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg, QtFatalMsg},
                           MessageCapture::Drop);
    const QStringList &capturedMessages = capture.lines();
    const auto restore = qScopeGuard([&] { category->setEnabled(QtDebugMsg, wasEnabled); });

    db.addExportFile(QStringLiteral("NULL"), stem());
    db.addExportFile(QStringLiteral("A/B"), stem());
    db.writeCsvFiles(folder());
    QVERIFY(!capturedMessages.isEmpty());
    QCOMPARE(capturedMessages.last(), QStringLiteral("report end...."));
    QCOMPARE(capturedMessages.count(QStringLiteral("report end....")), 1);

    // Nothing is built or written when diagnostics are off.
    capture.lines().clear();
    category->setEnabled(QtDebugMsg, false);
    db.writeCsvFiles(folder());
    QVERIFY(capturedMessages.isEmpty());
}

// More files than are written at once, some of which fail: the log reads as if the files had
// been written one by one, and each file holds its own rows.
void TestCsvWriter::manyFilesLoggedInTableOrder()
{
    QStringList expected;
    QStringList expectedEntries;
    int expectedFailures = 0;
    for (int i = 0; i < 30; ++i) {
        const QString key = QStringLiteral("F%1").arg(i, 2, 10, QLatin1Char('0'));
        ExportFile &file = db.addExportFile(key, stem());
        file.questionCount = 30;
        addStudent(db, file, QStringLiteral("S%1").arg(i), i, 30 - i);
        const QString suffix = QLatin1Char('_') + key;
        if (i % 7 == 3) {
            // A folder of that name stands in the way.
            QVERIFY(QDir().mkpath(file.filePath()));
            expected += failureLines(nativeCsv(suffix));
            ++expectedFailures;
        } else {
            expected +=
                successLines(nativeCsv(suffix), file.baseName() + QStringLiteral(".csv"), folder());
        }
        expectedEntries.append(QStringLiteral("Lesson") + suffix + QStringLiteral(".csv"));
    }
    db.writeCsvFiles(folder());

    QCOMPARE(log.lines, expected + closingLines);
    QCOMPARE(db.failedFiles, expectedFailures);
    QCOMPARE(folderEntries(dir->path()), expectedEntries);
    for (int i = 0; i < 30; ++i) {
        if (i % 7 == 3)
            continue;
        const ExportFile &file =
            *db.exportFiles.find(QStringLiteral("F%1").arg(i, 2, 10, QLatin1Char('0')));
        QCOMPARE(readFile(file.filePath()),
                 QStringLiteral("S%1,%2\r\n").arg(i).arg(100 * i / 30).toLatin1());
    }
}

// Files are written and logged in key order, whatever order the pages created them in.
void TestCsvWriter::filesWrittenInKeyOrder()
{
    const QStringList keys{"NULL", "B", "a", "A", "Z 2", "Z 10", "\u00C9", "_"};
    for (const QString &key : keys)
        db.addExportFile(key, stem());
    db.writeCsvFiles(folder());

    QStringList sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    QStringList expected;
    for (const QString &key : sorted) {
        const QString suffix = key == QLatin1String("NULL") ? QString() : QLatin1Char('_') + key;
        expected +=
            successLines(nativeCsv(suffix),
                         db.exportFiles.find(key)->baseName() + QStringLiteral(".csv"), folder());
    }
    QCOMPARE(log.lines, expected + closingLines);
    QStringList iterated;
    for (const ExportFile &file : std::as_const(db.exportFiles))
        iterated << file.key();
    QCOMPARE(iterated, sorted);
}

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
