#include "enginesupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using doc::response;

namespace {

// Writes the file and gives back its path, or nothing when it could not be written.
QString writeDocument(const QString &path, const QByteArray &json)
{
    return writeFile(path, json) ? path : QString();
}

#ifdef Q_OS_UNIX
// Bytes of address space the process holds now.
rlim_t addressSpaceInUse()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return rlim_t(line.mid(7).trimmed().split(' ').first().toULongLong()) * 1024;
    }
    return 0;
}

// Holds the process to a soft address space limit while it lives.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_AS, &m_old);
        const rlimit limit{bytes, m_old.rlim_max};
        m_set = setrlimit(RLIMIT_AS, &limit) == 0;
    }
    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &m_old); }
    bool isSet() const { return m_set; }

private:
    rlimit m_old{};
    bool m_set = false;
};
#endif

} // namespace

class TestRun : public QObject
{
    Q_OBJECT

private slots:
    void unopenableDocument();
    void emptyDocument();
    void twoRunsInARow();
    void missingElement_data();
    void missingElement();
    void exportTarget_data();
    void exportTarget();
    void gradeColumnOfANamelessDocument();
#ifdef Q_OS_UNIX
    void outOfMemory();
#endif
};

void TestRun::unopenableDocument()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // An older grade book of the same name must survive the failed run untouched.
    QVERIFY(!writeDocument(dir.filePath("quiz.csv"), "Ann,70\r\n").isEmpty());
    const QString garbled = writeDocument(dir.filePath("garbled.plexa"), "{ not json");
    QVERIFY(!garbled.isEmpty());

    for (const QString &path : {dir.filePath("quiz.plexa"), garbled}) {
        EngineHarness h;
        h.engine.lastRun.opened = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*"));
        QVERIFY(!h.exportDocument(path));
        QCOMPARE(h.log.lines, (QStringList{"Importing file " + QDir::toNativeSeparators(path),
                                           "FAILED to open plexa "}));
        QVERIFY(!h.engine.plexa);
        QVERIFY(!h.engine.lastRun.opened);
        QVERIFY(!h.engine.lastRun.complete());
    }
    QCOMPARE(QDir(dir.path()).entryList({"*.csv"}, QDir::Files), QStringList{"quiz.csv"});
    QCOMPARE(readFile(dir.filePath("quiz.csv")), QByteArray("Ann,70\r\n"));
}

void TestRun::emptyDocument()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeDocument(dir.filePath("empty.plexa"), doc::document({}, {}));
    QVERIFY(!path.isEmpty());

    EngineHarness h;
    QVERIFY(h.exportDocument(path));
    QCOMPARE(h.log.lines, (QStringList{"Importing file " + QDir::toNativeSeparators(path),
                                       "All Export(s) completed.", "-------------------------"}));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"empty.plexa"});
    QVERIFY(h.engine.lastRun.complete());
}

void TestRun::twoRunsInARow()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("first"));
    QVERIFY(QDir(dir.path()).mkdir("second"));
    const QString first = writeDocument(
        dir.filePath("first/lesson.plexa"),
        doc::document({doc::page(doc::test(1, {doc::numeric("a1")}), {"CSV: A"}),
                       doc::page(doc::test(1, {doc::numeric("shared")}))},
                      {doc::test(1, {doc::numeric("a1", "1", {response("1", "Ann")}),
                                     doc::numeric("shared", "1", {response("1", "Ann")})})}));
    const QString second = writeDocument(
        dir.filePath("second/lesson.plexa"),
        doc::document({doc::page(doc::test(1, {doc::numeric("shared")}))},
                      {doc::test(1, {doc::numeric("shared", "1", {response("1", "Ben")})})}));
    QVERIFY(!first.isEmpty() && !second.isEmpty());

    EngineHarness h;
    QVERIFY(h.exportDocument(first));
    QCOMPARE(h.engine.database.exportFiles.size(), std::size_t(2));
    QVERIFY(h.exportDocument(second));

    QCOMPARE(h.log.lines.first(), "Importing file " + QDir::toNativeSeparators(second));
    QCOMPARE(h.log.lines.count("All Export(s) completed."), 1);
    QVERIFY(!h.log.lines.join('\n').contains("first"));
    QCOMPARE(h.engine.database.questions.keys(), QStringList{"shared"});
    QCOMPARE(h.engine.database.exportFiles.size(), std::size_t(1));
    QCOMPARE(h.file("NULL")->students().keys(), QStringList{"Ben"});
    QCOMPARE(h.file("NULL")->filePath(), dir.filePath("second/lesson.csv"));
    QCOMPARE(readFile(dir.filePath("second/lesson.csv")), QByteArray("Ben,100\r\n"));
    QCOMPARE(h.engine.plexaPath, second);
    QCOMPARE(h.engine.outputStem, dir.filePath("second/lesson"));
}

void TestRun::missingElement_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("pagesComplete");
    QTest::addColumn<bool>("instancesComplete");
    QTest::addColumn<QByteArray>("csv");

    // The instance pass stops at the gap: what it read is still written, yet the run fails.
    QTest::newRow("missing test instance")
        << doc::document(
               {doc::page(doc::test(1, {doc::numeric("q"), doc::numeric("r")}))},
               {doc::test(1, {doc::numeric("q", "1", {response("1", "Ann")})}), doc::null()})
        << true << false << QByteArray("Ann,50\r\n");
    // A missing page ends the page pass but not the run, and does not decide its result.
    QTest::newRow("missing page")
        << doc::document({doc::page(doc::test(1, {doc::numeric("q")})), doc::null()},
                         {doc::test(1, {doc::numeric("q", "1", {response("1", "Ann")})})})
        << false << true << QByteArray("Ann,100\r\n");
}

// A gap in the document ends one pass early; the files are written all the same.
void TestRun::missingElement()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, pagesComplete);
    QFETCH(bool, instancesComplete);
    QFETCH(QByteArray, csv);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeDocument(dir.filePath("gap.plexa"), document);
    QVERIFY(!path.isEmpty());

    EngineHarness h;
    QCOMPARE(h.exportDocument(path), instancesComplete);
    QVERIFY(h.engine.lastRun.opened);
    QCOMPARE(h.engine.lastRun.pagesComplete, pagesComplete);
    QCOMPARE(h.engine.lastRun.instancesComplete, instancesComplete);
    if (!instancesComplete)
        QVERIFY(!h.engine.lastRun.complete());
    QCOMPARE(h.engine.lastRun.filesFailed, 0);
    QCOMPARE(h.engine.currentPage, -1);
    QVERIFY(!h.engine.questionPass);
    QCOMPARE(readFile(dir.filePath("gap.csv")), csv);
    QCOMPARE(h.log.lines.last(), QString("-------------------------"));
}

void TestRun::exportTarget_data()
{
    const QString cwd = QDir::currentPath();
    // An absolute path begins with a drive on Windows.
#ifdef Q_OS_WIN
    const QString root = QStringLiteral("C:/");
#else
    const QString root = QStringLiteral("/");
#endif
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("outputFolder");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("stem");

    QTest::newRow("base name up to the first dot")
        << root + "tmp/x/Week 3/quiz.final.plexa" << QString() << root + "tmp/x/Week 3"
        << root + "tmp/x/Week 3/quiz";
    QTest::newRow("relative path")
        << "Week 3/quiz.plexa" << QString() << cwd + "/Week 3" << cwd + "/Week 3/quiz";
    QTest::newRow("bare file name") << "quiz.plexa" << QString() << cwd << cwd + "/quiz";
    QTest::newRow("dotted folder")
        << root + "tmp/a.b/Unit.3.plexa" << QString() << root + "tmp/a.b" << root + "tmp/a.b/Unit";
    QTest::newRow("dot-dot cleaned")
        << root + "tmp/x/../y/quiz.plexa" << QString() << root + "tmp/y" << root + "tmp/y/quiz";
    QTest::newRow("root folder") << root + "quiz.plexa" << QString() << root << root + "quiz";
    QTest::newRow("output folder") << root + "tmp/x/quiz.final.plexa" << root + "srv/out/"
                                   << root + "srv/out" << root + "srv/out/quiz";
    QTest::newRow("relative output folder")
        << root + "tmp/x/quiz.plexa"
        << "out/../grades" << cwd + "/grades" << cwd + "/grades/quiz";
#ifdef Q_OS_UNIX
    // After a link, ".." leads to the parent of the link's target, which is where the system
    // opens the document from (@TMP@/link is a link to @TMP@/real/sub). Windows resolves ".."
    // by the text.
    QTest::newRow("dot-dot after a link") << "@TMP@/link/../quiz.plexa" << QString() << "@REAL@"
                                          << "@REAL@/quiz";
    QTest::newRow("dot-dot after a link, then a folder")
        << "@TMP@/link/../sub/quiz.plexa" << QString() << "@REAL@/sub"
        << "@REAL@/sub/quiz";
    QTest::newRow("output folder with dot-dot after a link") << root + "tmp/x/quiz.plexa"
                                                             << "@TMP@/link/.."
                                                             << "@REAL@"
                                                             << "@REAL@/quiz";
#endif
}

void TestRun::exportTarget()
{
    QFETCH(QString, path);
    QFETCH(QString, outputFolder);
    QFETCH(QString, folder);
    QFETCH(QString, stem);

    QTemporaryDir tmp;
    if (path.contains("@TMP@") || outputFolder.contains("@TMP@")) {
        QVERIFY(tmp.isValid());
        QVERIFY(QDir().mkpath(tmp.filePath("real/sub")));
        QVERIFY(QFile::link(tmp.filePath("real/sub"), tmp.filePath("link")));
        const QString real = QFileInfo(tmp.filePath("real")).canonicalFilePath();
        for (QString *text : {&path, &outputFolder, &folder, &stem}) {
            text->replace("@TMP@", tmp.path());
            text->replace("@REAL@", real);
        }
    }

    const ExportTarget target =
        outputFolder.isNull() ? exportTargetFor(path) : exportTargetFor(path, outputFolder);
    QCOMPARE(target.folder, folder);
    QCOMPARE(target.nativeFolder, QDir::toNativeSeparators(folder));
    QCOMPARE(target.stem, stem);
}

// A document whose base name is empty gives its files names that begin with "." or "_" as
// ever, but a layout's grade column needs a name: the document's file name.
void TestRun::gradeColumnOfANamelessDocument()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeDocument(
        dir.filePath(".quiz.plexa"),
        doc::document({doc::page(doc::test(1, {doc::numeric("q")})),
                       doc::page(doc::test(1, {doc::numeric("r")}), {"CSV: B"})},
                      {doc::test(1, {doc::numeric("q", "1", {response("1", "S-1")}),
                                     doc::numeric("r", "1", {response("2", "S-1")})})}));
    QVERIFY(!path.isEmpty());

    EngineHarness h;
    h.engine.database.gradebook.layout = Gradebook::Layout::Header;
    QVERIFY(h.exportDocument(path));
    QCOMPARE(readFile(dir.filePath(".csv")), QByteArray("Student,.quiz.plexa\r\nS-1,100\r\n"));
    QCOMPARE(readFile(dir.filePath("_B.csv")), QByteArray("Student,.quiz.plexa B\r\nS-1,0\r\n"));
}

#ifdef Q_OS_UNIX
// A document whose tables need more memory than the process may have ends the run with one
// warning and an incomplete result, the grade book on disk untouched, and the process alive.
void TestRun::outOfMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer reserves more address space than any limit leaves");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    QSKIP("the address sanitizer reserves more address space than any limit leaves");
#endif
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("lesson.csv"), "Ann,70\r\n"));
    // About 2 MB of responses, each from a student of its own.
    QByteArray json = R"({"plexa":1,"pages":[{"test":{"kind":1,"questions":[{"id":"q","type":6,)"
                      R"("answers":["1"]}]}}],"testInstances":[{"kind":1,"questions":[{"id":"q",)"
                      R"("type":6,"answers":["1"],"responses":[)";
    for (int i = 0; i < 125000; ++i)
        json += R"({"label":"s)" + QByteArray::number(i, 36) + R"("},)";
    json.chop(1);
    json += "]}]}]}";
    const QString path = writeDocument(dir.filePath("lesson.plexa"), json);
    QVERIFY(!path.isEmpty());
    json = QByteArray();

    // The document opens in full; once its pages are read, the process may map only a
    // megabyte more, and the student table needs several.
    EngineHarness h;
    WarningCapture warnings;
    std::optional<AddressSpaceLimit> limit;
    h.engine.acceptExportFiles = [&limit](const exportDatabase &) {
        limit.emplace(addressSpaceInUse() + 1024 * 1024);
        return limit->isSet();
    };
    const bool exported = h.exportDocument(path);
    limit.reset();
    QVERIFY(!h.engine.lastRun.leftOut);
    QVERIFY(!exported);
    QVERIFY(h.engine.lastRun.opened);
    QCOMPARE(warnings.lines().filter("memory to export").size(), 1);
    QCOMPARE(warnings.lines().last(),
             "Not enough memory to export " + QDir::toNativeSeparators(path));
    QVERIFY(!h.engine.lastRun.complete());
    // The record says the file was not written; its students are freed.
    QCOMPARE(h.engine.database.exportFiles.size(), std::size_t(1));
    QVERIFY(!h.file("NULL")->written);
    QVERIFY(h.file("NULL")->students().isEmpty());
    QCOMPARE(readFile(dir.filePath("lesson.csv")), QByteArray("Ann,70\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"lesson.csv", "lesson.plexa"}));
}
#endif

QTEST_GUILESS_MAIN(TestRun)
#include "tst_run.moc"
