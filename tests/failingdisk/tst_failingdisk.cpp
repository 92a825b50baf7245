#include "childprocess.h"
#include "documents.h"
#include "files.h"
#include "rfc4180.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// A run whose CSV files cannot all be written: each such file gets the two failure lines and
// keeps what was there before, no temporary file stays behind, nothing lands outside the
// document's folder, and the other files are written all the same.

namespace {

// A page whose test asks `questionId`, filed under `keyword` when there is one.
QJsonObject pageAsking(const QString &questionId, const QString &keyword = QString())
{
    return doc::page(doc::test(1, {doc::numeric(questionId)}),
                     keyword.isEmpty() ? QStringList() : QStringList{keyword});
}

// Three files: Lesson.csv (ann), the keyword's file (`students` students) and Lesson_B.csv
// (ben), every answer right.
QByteArray lesson(const QString &keyword, int students)
{
    using namespace doc;
    QJsonArray many;
    for (int i = 0; i < students; ++i)
        many.append(response("1", QStringLiteral("student-%1").arg(i, 6, 10, QLatin1Char('0'))));
    const QJsonArray pages{pageAsking("q1"), pageAsking("q2", keyword), pageAsking("q3", "CSV: B")};
    const QJsonObject instance =
        test(1, {numeric("q1", "1", {response("1", "ann")}), numeric("q2", "1", many),
                 numeric("q3", "1", {response("1", "ben")})});
    return document(pages, {instance});
}

// What the log says about the file at `path`: "written", "failed", or "missing".
QString fileOutcome(const QStringList &lines, const QString &path)
{
    const int at = lines.indexOf(QStringLiteral("Creating export file ") + native(path));
    if (at < 0 || at + 3 >= lines.size())
        return QStringLiteral("missing");
    if (lines.at(at + 2) == QLatin1String("FAILED to create CSV file.") &&
        lines.at(at + 3) ==
            QLatin1String("The file could be locked or opened by another application."))
        return QStringLiteral("failed");
    if (lines.at(at + 2).startsWith(QLatin1String("Finished exporting to ")))
        return QStringLiteral("written");
    return QStringLiteral("unexpected");
}

#ifdef Q_OS_UNIX
void setMode(const QString &path, mode_t mode)
{
    QCOMPARE(chmod(QFile::encodeName(path).constData(), mode), 0);
}
#else
// Windows knows no mode bits; what a test asks of them holds there without a change.
void setMode(const QString &, int) {}
bool geteuid()
{
    return false;
}
#endif

} // namespace

class TestFailingDisk : public QObject
{
    Q_OBJECT

private slots:
    void failingFile_data();
    void failingFile();
#ifdef Q_OS_UNIX
    void killedWhileWriting();
#else
    void leftoversRemoved();
#endif
};

void TestFailingDisk::failingFile_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("keyword");
    // The file name the keyword's file gets, after "Lesson_".
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fails");

#ifdef Q_OS_UNIX
    QTest::newRow("read-only folder") << "read-only folder"
                                      << "CSV: A"
                                      << "A" << true;
    // Replacing a file takes write permission on the folder, not on the old file.
    QTest::newRow("read-only old CSV file") << "read-only file"
                                            << "CSV: A"
                                            << "A" << false;
    QTest::newRow("disk fills up while writing") << "full disk"
                                                 << "CSV: A"
                                                 << "A" << true;
#else
    // A grade book open in a spreadsheet, which shares it with nobody.
    QTest::newRow("CSV file held open by another program") << "held open"
                                                           << "CSV: A"
                                                           << "A" << true;
    // The read-only attribute says "do not change this file", and Windows holds to it.
    QTest::newRow("read-only old CSV file") << "read-only file"
                                            << "CSV: A"
                                            << "A" << true;
#endif
    QTest::newRow("CSV path is a folder") << "folder"
                                          << "CSV: A"
                                          << "A" << true;
    QTest::newRow("key climbs out: ../x") << ""
                                          << "CSV: ../x"
                                          << "../X" << true;
    QTest::newRow("key with a slash: a/b") << ""
                                           << "CSV: a/b"
                                           << "A/B" << true;
    QTest::newRow("key with a backslash: a\\b") << ""
                                                << "CSV: a\\b"
                                                << "A\\B" << true;
    QTest::newRow("key with a drive: C:x") << ""
                                           << "CSV: C:x"
                                           << "C:X" << true;
    QTest::newRow("key with a pipe: a|b") << ""
                                          << "CSV: a|b"
                                          << "A|B" << true;
    QTest::newRow("key with wildcards: a*?") << ""
                                             << "CSV: a*?"
                                             << "A*?" << true;
    QTest::newRow("key too long for a file name")
        << "" << QStringLiteral("CSV: ") + QString(300, QLatin1Char('a'))
        << QString(300, QLatin1Char('A')) << true;
#ifdef Q_OS_UNIX
    // The link is replaced by the new file; what it pointed at stays as it was.
    QTest::newRow("CSV path links out of the folder") << "link"
                                                      << "CSV: A"
                                                      << "A" << false;
    QTest::newRow("CSV path links to nowhere") << "dangling link"
                                               << "CSV: A"
                                               << "A" << false;
#endif
}

void TestFailingDisk::failingFile()
{
    QFETCH(QString, setup);
    QFETCH(QString, keyword);
    QFETCH(QString, name);
    QFETCH(bool, fails);

    QTemporaryDir base;
    QVERIFY(base.isValid());
    setMode(base.path(), 0755);
    const QString folder = base.filePath(QStringLiteral("lesson"));
    QVERIFY(QDir().mkdir(folder));
    const QString document = folder + QStringLiteral("/Lesson.plexa");
    const QString plain = folder + QStringLiteral("/Lesson.csv");
    const QString target = folder + QStringLiteral("/Lesson_") + name + QStringLiteral(".csv");
    const QString other = folder + QStringLiteral("/Lesson_B.csv");
    const QString outside = base.filePath(QStringLiteral("gradebook.csv"));

    const bool fullDisk = setup == QLatin1String("full disk");
    // Large enough to pass the file size limit below on its own.
    QVERIFY(writeFile(document, lesson(keyword, fullDisk ? 5000 : 2)));
    setMode(document, 0644);
    QVERIFY(writeFile(plain, "old plain\r\n"));
    QVERIFY(writeFile(outside, "precious\r\n"));

    ChildLimits limits;
#ifdef Q_OS_UNIX
    // Root writes everywhere: the program then runs as an unprivileged user, for whom the
    // folder is writable unless the row says otherwise.
    if (geteuid() == 0) {
        if (const char *why = runAsUnprivileged(limits, QStringLiteral(SCORLET_EXPORT_PROGRAM)))
            QSKIP(why);
    }
#endif
    setMode(folder, 0777);

#ifdef Q_OS_WIN
    std::unique_ptr<ExclusiveHold> hold;
    if (setup == QLatin1String("held open")) {
        QVERIFY(writeFile(target, "old A\r\n"));
    } else if (setup == QLatin1String("read-only file")) {
        QVERIFY(writeFile(target, "old A\r\n"));
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadUser));
    } else if (setup == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(target));
        QVERIFY(writeFile(target + QStringLiteral("/inside.txt"), "kept\r\n"));
    }
#else
    if (setup == QLatin1String("read-only folder")) {
        QVERIFY(writeFile(target, "old A\r\n"));
        setMode(target, 0644);
        setMode(plain, 0644);
        setMode(folder, 0555);
    } else if (setup == QLatin1String("read-only file")) {
        QVERIFY(writeFile(target, "old A\r\n"));
        setMode(target, 0444);
        if (geteuid() != 0)
            setMode(folder, 0755);
    } else if (setup == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(target));
        QVERIFY(writeFile(target + QStringLiteral("/inside.txt"), "kept\r\n"));
    } else if (fullDisk) {
        QVERIFY(writeFile(target, "old A\r\n"));
        setMode(target, 0666);
        limits.fileSizeLimit = 64 * 1024;
    } else if (setup == QLatin1String("link")) {
        // Writable for the user who runs the export, as the teacher's own files are.
        setMode(base.path(), 0777);
        setMode(outside, 0666);
        QVERIFY(QFile::link(outside, target));
    } else if (setup == QLatin1String("dangling link")) {
        setMode(base.path(), 0777);
        QVERIFY(QFile::link(base.filePath(QStringLiteral("new.csv")), target));
    }
#endif
    if (geteuid() == 0)
        setMode(plain, 0666);
    const auto before = snapshot(base.path());
#ifdef Q_OS_WIN
    if (setup == QLatin1String("held open")) {
        hold = std::make_unique<ExclusiveHold>(target);
        QVERIFY(hold->isHeld());
    }
#endif

    const ChildOutcome outcome =
        runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), {document}, limits);
    setMode(folder, 0755);
#ifdef Q_OS_WIN
    hold.reset();
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
#endif
    QVERIFY(outcome.started);
    QVERIFY(!outcome.timedOut);
    QCOMPARE(outcome.signal, 0);
    const QStringList lines = outcome.outLines();
    QCOMPARE(lines.last(), QStringLiteral("-------------------------"));

    const bool readOnlyFolder = setup == QLatin1String("read-only folder");
    QCOMPARE(fileOutcome(lines, target),
             fails ? QStringLiteral("failed") : QStringLiteral("written"));
    QCOMPARE(fileOutcome(lines, plain),
             readOnlyFolder ? QStringLiteral("failed") : QStringLiteral("written"));
    QCOMPARE(fileOutcome(lines, other),
             readOnlyFolder ? QStringLiteral("failed") : QStringLiteral("written"));
    QCOMPARE(outcome.exitCode, 1 - int(!fails));

    // Only the files written are new or changed; the rest is byte for byte as it was, and
    // no temporary file is left anywhere.
    auto expected = before;
    if (!readOnlyFolder) {
        expected.insert(QStringLiteral("lesson/Lesson.csv"), "ann,100\r\n");
        expected.insert(QStringLiteral("lesson/Lesson_B.csv"), "ben,100\r\n");
    }
    if (!fails)
        expected.insert(QStringLiteral("lesson/Lesson_A.csv"), "<written>");
    const auto after = snapshot(base.path());
    QStringList differing;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.key() != QLatin1String("lesson/Lesson_A.csv") || fails) {
            if (after.value(it.key()) != it.value())
                differing.append(it.key());
        }
    }
    QCOMPARE(after.keys(), expected.keys());
    QCOMPARE(differing, QStringList());
    QCOMPARE(readFile(outside), QByteArray("precious\r\n"));
    if (!fails) {
        QVERIFY(!QFileInfo(target).isSymLink());
        QList<QStringList> records;
        QVERIFY(parseRfc4180(QString::fromUtf8(readFile(target)), records));
        QCOMPARE(records.size(), 2);
    }
}

#ifdef Q_OS_UNIX
// A program killed while it writes a CSV leaves the old file whole and its temporary file
// behind; the next export of that CSV removes that leftover and nothing else.
void TestFailingDisk::killedWhileWriting()
{
    QTemporaryDir base;
    QVERIFY(base.isValid());
    setMode(base.path(), 0755);
    const QString folder = base.filePath(QStringLiteral("lesson"));
    QVERIFY(QDir().mkdir(folder));
    const QString document = folder + QStringLiteral("/Lesson.plexa");
    const QString target = folder + QStringLiteral("/Lesson_A.csv");
    QVERIFY(writeFile(document, lesson(QStringLiteral("CSV: A"), 5000)));
    setMode(document, 0644);
    QVERIFY(writeFile(target, "old A\r\n"));
    setMode(target, 0666);

    ChildLimits limits;
    if (geteuid() == 0) {
        if (const char *why = runAsUnprivileged(limits, QStringLiteral(SCORLET_EXPORT_PROGRAM)))
            QSKIP(why);
    }
    setMode(folder, 0777);
    limits.fileSizeLimit = 64 * 1024;
    limits.killedAtFileSizeLimit = true;
    const ChildOutcome killed =
        runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), {document}, limits);
    QVERIFY(killed.started);
    QCOMPARE(killed.signal, int(SIGXFSZ));
    QCOMPARE(readFile(target), QByteArray("old A\r\n"));

    // The file being written when the program died: a hidden name that says which CSV it was
    // for and by whom.
    const QRegularExpression leftoverName(
        QStringLiteral("^\\.Lesson_A\\.csv\\.scorlet-([0-9a-f]{16})-[0-9a-f]{8}\\.tmp$"));
    QStringList leftovers = folderEntries(folder).filter(leftoverName);
    QCOMPARE(leftovers.size(), 1);
    const QString leftover = leftovers.first();
    const QString hash = leftoverName.match(leftover).captured(1);
    QVERIFY(QFileInfo(folder + u'/' + leftover).size() > 0);

    // Look-alikes stay: another CSV's leftover, a link, a name of another shape, one that a
    // writer holds locked, and (as root) another user's file.
    const QString stemOfA = QStringLiteral(".Lesson_A.csv.scorlet-") + hash + u'-';
    const QString otherCsv = QStringLiteral(".Lesson_B.csv.scorlet-") + hash + "-0badc0de.tmp";
    const QString link = stemOfA + QStringLiteral("1badc0de.tmp");
    const QString locked = stemOfA + QStringLiteral("2badc0de.tmp");
    const QString otherShape = stemOfA + QStringLiteral("3badc0de.tmp.bak");
    const QString outside = base.filePath(QStringLiteral("outside.txt"));
    QVERIFY(writeFile(outside, "precious\r\n"));
    QVERIFY(QFile::link(outside, folder + u'/' + link));
    for (const QString &name : {otherCsv, locked, otherShape}) {
        QVERIFY(writeFile(folder + u'/' + name, "kept\r\n"));
        setMode(folder + u'/' + name, 0666);
    }
    QStringList kept{otherCsv, link, locked, otherShape};
    if (geteuid() == 0) {
        // Another user's file, for the unprivileged program.
        const QString foreign = stemOfA + QStringLiteral("4badc0de.tmp");
        QVERIFY(writeFile(folder + u'/' + foreign, "kept\r\n"));
        kept.append(foreign);
    }
    QFile writer(folder + u'/' + locked);
    QVERIFY(writer.open(QIODevice::ReadOnly));
    QCOMPARE(flock(writer.handle(), LOCK_EX | LOCK_NB), 0);

    limits.fileSizeLimit = 0;
    limits.killedAtFileSizeLimit = false;
    const ChildOutcome again = runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), {document}, limits);
    QVERIFY(again.started);
    QCOMPARE(again.signal, 0);
    QCOMPARE(again.exitCode, 0);
    QList<QStringList> records;
    QVERIFY(parseRfc4180(QString::fromUtf8(readFile(target)), records));
    QCOMPARE(records.size(), 5000);
    kept += QStringList{"Lesson.csv", "Lesson.plexa", "Lesson_A.csv", "Lesson_B.csv"};
    kept.sort();
    QCOMPARE(folderEntries(folder), kept);
    QCOMPARE(readFile(outside), QByteArray("precious\r\n"));
}

#else
// Windows has no file size limit to stop the program mid-write: the leftovers of a killed
// export are made by hand, in the shape the writer gives them. The next export of that CSV
// removes them and nothing else: not another CSV's, not one of another shape, not a folder,
// and not one that is held open, as a writer holds its own.
void TestFailingDisk::leftoversRemoved()
{
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString folder = base.filePath(QStringLiteral("lesson"));
    QVERIFY(QDir().mkdir(folder));
    const QString document = folder + QStringLiteral("/Lesson.plexa");
    QVERIFY(writeFile(document, lesson(QStringLiteral("CSV: A"), 3)));

    const QByteArray hash =
        QCryptographicHash::hash("Lesson_A.csv", QCryptographicHash::Sha256).toHex().left(16);
    const QString stemOfA = QStringLiteral(".Lesson_A.csv.scorlet-") + QLatin1String(hash) + u'-';
    const QString leftover = stemOfA + QStringLiteral("0badc0de.tmp");
    const QString otherCsv =
        QStringLiteral(".Lesson_B.csv.scorlet-") + QLatin1String(hash) + "-0badc0de.tmp";
    const QString held = stemOfA + QStringLiteral("2badc0de.tmp");
    const QString otherShape = stemOfA + QStringLiteral("3badc0de.tmp.bak");
    const QString aFolder = stemOfA + QStringLiteral("4badc0de.tmp");
    for (const QString &name : {leftover, otherCsv, held, otherShape})
        QVERIFY(writeFile(folder + u'/' + name, "part of a grade book\r\n"));
    QVERIFY(QDir(folder).mkdir(aFolder));
    ExclusiveHold hold(folder + u'/' + held);
    QVERIFY(hold.isHeld());

    const ChildOutcome outcome = runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), {document});
    QVERIFY(outcome.started);
    QCOMPARE(outcome.exitCode, 0);
    QStringList kept{otherCsv,     held,           otherShape,     aFolder,
                     "Lesson.csv", "Lesson.plexa", "Lesson_A.csv", "Lesson_B.csv"};
    kept.sort();
    QCOMPARE(folderEntries(folder), kept);
    QList<QStringList> records;
    QVERIFY(parseRfc4180(QString::fromUtf8(readFile(folder + QStringLiteral("/Lesson_A.csv"))),
                         records));
    QCOMPARE(records.size(), 3);
}
#endif

QTEST_GUILESS_MAIN(TestFailingDisk)
#include "tst_failingdisk.moc"
