#include "enginesupport.h"

#include <filekey.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void fileKey_data();
    void fileKey();
    void filesAndPages();
    void fileNamesFromTheDocumentName();
    void duplicateIdKeepsFirstPage();
    void idsDifferingInCaseAreDistinct();
    void pageWithoutGradableQuestionStillGetsItsFile();
    void dispatchByKindAndClass_data();
    void dispatchByKindAndClass();
    void diagnosticLinesInOrder();
    void missingPageEndsThePass();
};

void TestCatalogue::fileKey_data()
{
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<QString>("key");

    QTest::newRow("separator dropped") << QStringList{"CSV: Period 2"} << "PERIOD 2";
    QTest::newRow("lower case, equals sign") << QStringList{"csv=math"} << "MATH";
    // Without a separator the first letter of the name is taken as one.
    QTest::newRow("no separator") << QStringList{"CSV Period 2"} << "ERIOD 2";
    QTest::newRow("nothing after CSV") << QStringList{"CSV"} << "";
    QTest::newRow("one letter after CSV") << QStringList{"CSVX"} << "";
    QTest::newRow("named default") << QStringList{"CSV:NULL"} << "NULL";
    QTest::newRow("not at the start") << QStringList{"XCSV: A"} << "NULL";
    QTest::newRow("no keywords") << QStringList{} << "NULL";
    QTest::newRow("white space simplified") << QStringList{"  csv :  a \t  b  "} << "A B";
    QTest::newRow("first file keyword decides")
        << QStringList{"Topic", "csv - Group B", "CSV: C"} << "GROUP B";
    QTest::newRow("math upper") << QStringList{"CSV: math"} << "MATH";
    QTest::newRow("math mixed") << QStringList{"csv: Math"} << "MATH";
}

void TestCatalogue::fileKey()
{
    QFETCH(QStringList, keywords);
    QFETCH(QString, key);
    QCOMPARE(fileKeyForKeywords(keywords), key);
}

void TestCatalogue::filesAndPages()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document({
        doc::page(doc::test(1, {doc::numeric("a1")}), {"CSV: A"}),
        doc::page(doc::test(1, {doc::numeric("a2")}), {"csv:a"}),
        doc::page(doc::test(0, {doc::numeric("d1")})),
        doc::page(doc::test(1, {doc::numeric("d2")}), {"CSV:NULL"}),
        doc::page(doc::test(1, {doc::numeric("e1")}), {"CSV"}),
        doc::page(doc::null()),
    })));
    QVERIFY(h.catalogue());

    QCOMPARE(h.engine.database.exportFiles.size(), std::size_t(3));
    const ExportFile *a = h.file("A");
    QVERIFY(a);
    QCOMPARE(a->filePath(), QString("/nowhere/lesson_A.csv"));
    QCOMPARE(a->baseName(), QString("lesson_A"));
    QCOMPARE(a->pages(), (QList<int>{0, 1}));
    QCOMPARE(a->questionCount, 2);

    const ExportFile *plain = h.file("NULL");
    QVERIFY(plain);
    QCOMPARE(plain->key(), QString("NULL"));
    QCOMPARE(plain->filePath(), QString("/nowhere/lesson.csv"));
    QCOMPARE(plain->pages(), (QList<int>{2, 3}));
    QCOMPARE(plain->questionCount, 2);

    // A bare "CSV" names the empty key, which is not the default file.
    const ExportFile *empty = h.file("");
    QVERIFY(empty);
    QCOMPARE(empty->filePath(), QString("/nowhere/lesson_.csv"));
    QCOMPARE(empty->pages(), (QList<int>{4}));

    const QuestionEntry entry = h.engine.database.questions.value("d2");
    QCOMPARE(entry.id, QString("d2"));
    QCOMPARE(entry.page, 3);
    QCOMPARE(entry.file, plain);
    QCOMPARE(h.engine.database.questions.value("a2").file, a);
    QVERIFY(h.notices.shown.isEmpty());
}

void TestCatalogue::fileNamesFromTheDocumentName()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Unit.3.plexa");
    QVERIFY(writeFile(path, doc::document({
                                doc::page(doc::test(1, {doc::numeric("q1")})),
                                doc::page(doc::test(1, {doc::numeric("q2")}), {"CSV: B"}),
                            })));

    EngineHarness h;
    QVERIFY(h.exportDocument(path));

    QCOMPARE(h.file("NULL")->filePath(), dir.filePath("Unit.csv"));
    QCOMPARE(h.file("B")->filePath(), dir.filePath("Unit_B.csv"));
    QVERIFY(QFile::exists(dir.filePath("Unit.csv")));
    QVERIFY(QFile::exists(dir.filePath("Unit_B.csv")));
}

void TestCatalogue::duplicateIdKeepsFirstPage()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document({
        doc::page(doc::test(1, {doc::numeric("x")})),
        doc::page(doc::test(1, {doc::numeric("dup", "1", {}, "first text")}), {"CSV: two"}),
        doc::page(doc::test(1, {doc::numeric("y")})),
        doc::page(doc::null()),
        doc::page(doc::test(0, {doc::numeric("dup", "1", {}, "second text")}), {"CSV: five"}),
    })));
    QVERIFY(h.catalogue());

    QCOMPARE(h.notices.shown.size(), 1);
    QCOMPARE(h.notices.shown.first().first, QString("error duplicate question?"));
    QCOMPARE(h.notices.shown.first().second, QString("second text"));

    const QuestionEntry entry = h.engine.database.questions.value("dup");
    QCOMPARE(entry.page, 1);
    QCOMPARE(entry.file, h.file("TWO"));
    QCOMPARE(h.file("TWO")->questionCount, 1);
    // The later page still gets its file, but the question is not counted there.
    QCOMPARE(h.file("FIVE")->questionCount, 0);
    QCOMPARE(h.file("FIVE")->pages(), QList<int>{4});
}

void TestCatalogue::idsDifferingInCaseAreDistinct()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document({
        doc::page(doc::test(1, {doc::numeric("q1"), doc::numeric("Q1")})),
    })));
    QVERIFY(h.catalogue());
    QVERIFY(h.notices.shown.isEmpty());
    QCOMPARE(h.engine.database.questions.size(), 2);
    QCOMPARE(h.file("NULL")->questionCount, 2);
}

void TestCatalogue::pageWithoutGradableQuestionStillGetsItsFile()
{
    EngineHarness h;
    QJsonObject unsupported = doc::numeric("u");
    unsupported["type"] = 9;
    QJsonObject noAnswer = doc::numeric("n");
    noAnswer["answers"] = QJsonArray{};
    QJsonObject typeZero = doc::numeric("z");
    typeZero["type"] = 0;
    QVERIFY(h.load(doc::document({
        doc::page(doc::test(1, {unsupported, noAnswer, typeZero}), {"CSV: Empty"}),
    })));
    QVERIFY(h.catalogue());

    QVERIFY(h.engine.database.questions.isEmpty());
    QVERIFY(h.file("EMPTY"));
    QCOMPARE(h.file("EMPTY")->questionCount, 0);
    QCOMPARE(h.file("EMPTY")->pages(), QList<int>{0});
}

void TestCatalogue::dispatchByKindAndClass_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("walked");

    QTest::newRow("self-paced") << 1 << "" << true;
    QTest::newRow("instructor-paced") << 0 << "" << true;
    QTest::newRow("self-paced named") << 1 << "SelfPacedTest" << true;
    // The kind decides which class is expected; a test of the other class is passed over.
    QTest::newRow("kind 1, instructor class") << 1 << "InstructorPacedTest" << false;
    QTest::newRow("kind 0, self-paced class") << 0 << "SelfPacedTest" << false;
    QTest::newRow("kind 1, plain test") << 1 << "Test" << false;
    QTest::newRow("kind 2") << 2 << "" << false;
    QTest::newRow("kind 2, self-paced class") << 2 << "SelfPacedTest" << false;
    QTest::newRow("negative kind") << -1 << "" << false;
}

void TestCatalogue::dispatchByKindAndClass()
{
    QFETCH(int, kind);
    QFETCH(QString, className);
    QFETCH(bool, walked);

    QJsonObject test = doc::test(kind, {doc::numeric("q")});
    if (!className.isEmpty())
        test["class"] = className;
    EngineHarness h;
    QVERIFY(h.load(doc::document({doc::page(test)})));

    DiagnosticCapture capture;
    QVERIFY(h.catalogue());
    QCOMPARE(h.engine.database.questions.contains("q"), walked);
    // Walked or not, the page has chosen its file.
    QVERIFY(h.file("NULL"));
    QCOMPARE(h.file("NULL")->pages(), QList<int>{0});
    QCOMPARE(capture.lines().size(), walked ? 3 : 1);
}

void TestCatalogue::diagnosticLinesInOrder()
{
    EngineHarness h;
    QJsonObject unsupported = doc::numeric("u", "1", {}, "skipped");
    unsupported["type"] = 9;
    QVERIFY(h.load(doc::document({
        doc::page(doc::null(), {"CSV: none"}),
        doc::page(doc::test(1, {doc::numeric("q1", "1", {}, "One"), doc::null(), unsupported},
                            "Warm-up", "Monday")),
        doc::page(doc::test(0, {doc::choice("q2", {}, "Two")}, "", "Tuesday")),
    })));

    DiagnosticCapture capture;
    QVERIFY(h.catalogue());
    const QStringList expected{
        "[ Dump Questions ] - Dumping questions on page (2).",
        "[ Dump Responses ] - Found Self Paced Test with title (Warm-up) started on (Monday).",
        "[ Dump Responses ] - Found Question of type (6) with text (One).",
        "[ Dump Responses ] - Found Question of type (9) with text (skipped).",
        "[ Dump Questions ] - Dumping questions on page (3).",
        "[ Dump Responses ] - Found Instructor Paced Test started on (Tuesday).",
        "[ Dump Responses ] - Found Question of type (1) with text (Two).",
    };
    QCOMPARE(capture.lines(), expected);
    // A page without a test chooses no file.
    QVERIFY(!h.file("NONE"));
    QVERIFY(h.log.lines.isEmpty());
}

void TestCatalogue::missingPageEndsThePass()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document({
        doc::page(doc::test(1, {doc::numeric("q1")})),
        doc::null(),
        doc::page(doc::test(1, {doc::numeric("q3")}), {"CSV: three"}),
    })));

    DiagnosticCapture capture;
    QVERIFY(!h.catalogue());
    QVERIFY(h.engine.database.questions.contains("q1"));
    QVERIFY(!h.engine.database.questions.contains("q3"));
    QVERIFY(!h.file("THREE"));
    QCOMPARE(capture.lines().first(),
             QString("[ Dump Questions ] - Dumping questions on page (1)."));
    QVERIFY(!capture.lines().join('\n').contains("page (3)"));
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
