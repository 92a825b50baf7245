#include "enginesupport.h"

#include <roruri1/question.h>
#include <roruri1/response.h>
#include <roruri1/test.h>

#include <QLoggingCategory>
#include <QScopeGuard>
#include <QtTest>

using doc::response;

namespace {

// The kept verdict of one student for one question, or nothing when there is none.
std::optional<AnswerState> stateOf(const EngineHarness &h, const QString &fileKey,
                                   const QString &student, const QString &question)
{
    const ExportFile *file = h.file(fileKey);
    if (!file || !file->students().contains(student))
        return std::nullopt;
    const StudentRecord record = file->students().value(student);
    if (!record.answers.contains(question))
        return std::nullopt;
    return record.answers.value(question);
}

QString responseLine(const QString &text, const QString &id, const QString &name,
                     const QString &label)
{
    return QStringLiteral("[ Dump Responses ] - Found response (%1) from user (%2) with id (%3) "
                          "and device label (%4).")
        .arg(text, id, name, label);
}

} // namespace

class TestCollection : public QObject
{
    Q_OBJECT

private slots:
    void noInstances();
    void responseWithoutKeyIsPassedOverAlone();
    void latestAttemptIsKept_data();
    void latestAttemptIsKept();
    void sameQuestionInTwoInstances();
    void emptyResponses();
    void uncataloguedQuestion();
    void filteredQuestionsGetOnlyTheirLine();
    void nullResponsesPassedOver();
    void studentKey_data();
    void studentKey();
    void keyFromNameAndIdMeet();
    void identityFromEveryResponse_data();
    void identityFromEveryResponse();
    void percentSignsPrintedUnchanged();
    void instanceOfOtherKind();
    void missingInstanceEndsThePass();
    void diagnosticsFollowTheRules_data();
    void diagnosticsFollowTheRules();
    void secondPassMeetsEarlierVerdicts_data();
    void secondPassMeetsEarlierVerdicts();
    void questionWalkedOutsideThePass();
    void studentsOfAVeryWideFile();
    void tablesGrowWithoutLosingEntries();
};

void TestCollection::noInstances()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document({doc::page(doc::test(1, {doc::numeric("q")}))})));
    QVERIFY(h.catalogue());
    DiagnosticCapture capture;
    QVERIFY(h.engine.dumpResponses());
    QVERIFY(capture.lines().isEmpty());
    QVERIFY(h.file("NULL")->students().isEmpty());
}

void TestCollection::responseWithoutKeyIsPassedOverAlone()
{
    EngineHarness h;
    const QJsonArray responses{response("1", "S1"), response("1", ""), response("2", "S3"),
                               response("1", "S4")};
    QVERIFY(h.load(doc::document({doc::page(doc::test(1, {doc::numeric("q"), doc::numeric("r")}))},
                                 {doc::test(1, {doc::numeric("q", "1", responses, "Q"),
                                                doc::numeric("r", "1", {response("1", "S1")})})})));
    QVERIFY(h.catalogue());

    DiagnosticCapture capture;
    QVERIFY(h.engine.dumpResponses());

    const StudentTable &students = h.file("NULL")->students();
    QCOMPARE(students.size(), 3);
    QCOMPARE(stateOf(h, "NULL", "S1", "q")->correct, true);
    QCOMPARE(stateOf(h, "NULL", "S3", "q")->correct, false);
    QCOMPARE(stateOf(h, "NULL", "S4", "q")->correct, true);
    QCOMPARE(stateOf(h, "NULL", "S1", "r")->correct, true);
    QCOMPARE(students.value("S3").key, QString("S3"));

    const QStringList lines = capture.lines();
    const int noKey = lines.indexOf("Cannot find a student key for this response");
    QVERIFY(noKey > 0);
    QCOMPARE(lines.at(noKey - 1), responseLine("1", "", "", ""));
    QCOMPARE(lines.at(noKey + 1), responseLine("2", "S3", "", ""));
    QCOMPARE(lines.count("Cannot find a student key for this response"), 1);
}

void TestCollection::latestAttemptIsKept_data()
{
    QTest::addColumn<QList<int>>("times");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("correct");
    QTest::addColumn<int>("time");

    // The answer "1" is right, "2" wrong.
    QTest::newRow("later start wins") << QList<int>{40, 50} << QStringList{"2", "1"} << true << 50;
    QTest::newRow("earlier start loses")
        << QList<int>{50, 40} << QStringList{"1", "2"} << true << 50;
    QTest::newRow("equal start, later walked wins")
        << QList<int>{10, 10} << QStringList{"1", "2"} << false << 10;
    QTest::newRow("equal start, later walked right")
        << QList<int>{10, 10} << QStringList{"2", "1"} << true << 10;
    // A first attempt counts even before the instance's start.
    QTest::newRow("negative first attempt kept")
        << QList<int>{-5} << QStringList{"1"} << true << -5;
    QTest::newRow("negative attempts, later start wins")
        << QList<int>{-10, -5} << QStringList{"2", "1"} << true << -5;
    QTest::newRow("negative attempt after a positive one")
        << QList<int>{0, -1} << QStringList{"1", "2"} << true << 0;
    QTest::newRow("first attempt at time zero wrong")
        << QList<int>{0} << QStringList{"2"} << false << 0;
}

void TestCollection::latestAttemptIsKept()
{
    QFETCH(QList<int>, times);
    QFETCH(QStringList, answers);
    QFETCH(bool, correct);
    QFETCH(int, time);

    QJsonArray responses;
    for (int i = 0; i < times.size(); ++i)
        responses.append(response(answers.at(i), "Ann", QString(), QString(), times.at(i)));
    EngineHarness h;
    QVERIFY(h.load(doc::document({doc::page(doc::test(1, {doc::numeric("q")}))},
                                 {doc::test(1, {doc::numeric("q", "1", responses)})})));
    QVERIFY(h.catalogue());
    QVERIFY(h.engine.dumpResponses());

    const std::optional<AnswerState> state = stateOf(h, "NULL", "Ann", "q");
    QVERIFY(state);
    QCOMPARE(state->correct, correct);
    QCOMPARE(state->time, time);
    QCOMPARE(h.file("NULL")->students().value("Ann").answers.size(), 1);
    QCOMPARE(h.file("NULL")->students().value("Ann").correct, 0);
}

void TestCollection::sameQuestionInTwoInstances()
{
    EngineHarness h;
    QVERIFY(
        h.load(doc::document({doc::page(doc::test(1, {doc::numeric("q")}), {"CSV: A"})},
                             {doc::test(1, {doc::numeric("q", "1",
                                                         {response("1", "Ann", "", "", 30),
                                                          response("2", "Ben", "", "", 5)})}),
                              doc::test(0, {doc::numeric("q", "1",
                                                         {response("2", "Ann", "", "", 20),
                                                          response("1", "Ben", "", "", 6)})})})));
    QVERIFY(h.catalogue());
    QVERIFY(h.engine.dumpResponses());

    QCOMPARE(h.file("A")->students().size(), 2);
    QCOMPARE(stateOf(h, "A", "Ann", "q")->correct, true);
    QCOMPARE(stateOf(h, "A", "Ann", "q")->time, 30);
    QCOMPARE(stateOf(h, "A", "Ben", "q")->correct, true);
    QCOMPARE(stateOf(h, "A", "Ben", "q")->time, 6);
}

void TestCollection::emptyResponses()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document(
        {doc::page(doc::test(1, {doc::choice("tick"), doc::numeric("num", "0")}))},
        {doc::test(1, {doc::choice("tick", {response("", "Ann", "Ann B", "D1")}),
                       doc::numeric("num", "0", {response("", "Ann", "Ann B", "D1")})})})));
    QVERIFY(h.catalogue());

    DiagnosticCapture capture;
    QVERIFY(h.engine.dumpResponses());

    QVERIFY(!stateOf(h, "NULL", "Ann", "tick"));
    // An empty numeric answer reads as 0, which is right here.
    QCOMPARE(stateOf(h, "NULL", "Ann", "num")->correct, true);
    QVERIFY(capture.lines().contains("[ Dump Responses ] - Found EMPTY response () from user (Ann) "
                                     "with id (Ann B) and device label (D1)."));
    QVERIFY(capture.lines().contains(responseLine("", "Ann", "Ann B", "D1")));
    QVERIFY(h.notices.shown.isEmpty());
}

void TestCollection::uncataloguedQuestion()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document(
        {doc::page(doc::test(1, {doc::numeric("known")}))},
        {doc::test(
            1, {doc::choice("stray", {response("A", "Ann"), response("", "Ben"), response("B", "")},
                            "Stray question"),
                doc::numeric("known", "1", {response("1", "Cy")})})})));
    QVERIFY(h.catalogue());

    DiagnosticCapture capture;
    QVERIFY(h.engine.dumpResponses());

    // Once per response that is not an empty tick-box answer, key or no key.
    const QPair<QString, QString> expected("error cannot find this question in database",
                                           "Stray question");
    QCOMPARE(h.notices.shown, (QList<QPair<QString, QString>>{expected, expected}));
    QCOMPARE(h.file("NULL")->students().keys(), QStringList{"Cy"});
    const QStringList lines{
        "[ Dump Responses ] - Dumping test instance (1).",
        "[ Dump Responses ] - Found Self Paced Test with title (Quiz) started on (2026-03-02 "
        "09:15).",
        "[ Dump Responses ] - Found Question of type (1) with text (Stray question).",
        "[ Dump Responses ] - Found EMPTY response () from user (Ben) with id () and device label "
        "().",
        "[ Dump Responses ] - Found Question of type (6) with text (How many?).",
        responseLine("1", "Cy", "", ""),
    };
    QCOMPARE(capture.lines(), lines);
}

void TestCollection::filteredQuestionsGetOnlyTheirLine()
{
    QJsonObject unsupported = doc::numeric("u", "1", {response("1", "Ann")}, "U");
    unsupported["type"] = 9;
    QJsonObject noAnswer = doc::numeric("n", "1", {response("1", "Ann")}, "N");
    noAnswer["answers"] = QJsonArray{};
    EngineHarness h;
    QVERIFY(h.load(doc::document({doc::page(doc::test(1, {unsupported, noAnswer}))},
                                 {doc::test(0, {unsupported, noAnswer}, "", "now")})));
    QVERIFY(h.catalogue());

    DiagnosticCapture capture;
    QVERIFY(h.engine.dumpResponses());
    const QStringList lines{
        "[ Dump Responses ] - Dumping test instance (1).",
        "[ Dump Responses ] - Found Instructor Paced Test started on (now).",
        "[ Dump Responses ] - Found Question of type (9) with text (U).",
        "[ Dump Responses ] - Found Question of type (6) with text (N).",
    };
    QCOMPARE(capture.lines(), lines);
    QVERIFY(h.notices.shown.isEmpty());
    QVERIFY(h.file("NULL")->students().isEmpty());
}

void TestCollection::nullResponsesPassedOver()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document(
        {doc::page(doc::test(1, {doc::numeric("q")}))},
        {doc::test(1, {doc::null(), doc::numeric("q", "1",
                                                 {doc::null(), response("1", "Ann"), doc::null(),
                                                  response("1", "Ben")})})})));
    QVERIFY(h.catalogue());
    QVERIFY(h.engine.dumpResponses());
    QCOMPARE(h.file("NULL")->students().size(), 2);
}

void TestCollection::studentKey_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("key");

    QTest::newRow("id first") << "S-1"
                              << "Ann"
                              << "Device 4"
                              << "S-1";
    QTest::newRow("then name") << ""
                               << "Ann"
                               << "Device 4"
                               << "Ann";
    QTest::newRow("then label") << ""
                                << ""
                                << "Device 4"
                                << "Device 4";
    QTest::newRow("none") << ""
                          << ""
                          << ""
                          << "";
    // Blanks count as a value: nothing is trimmed.
    QTest::newRow("blank id kept") << " "
                                   << "Ann"
                                   << ""
                                   << " ";
    QTest::newRow("case kept") << ""
                               << " ann "
                               << ""
                               << " ann ";
}

void TestCollection::studentKey()
{
    QFETCH(QString, id);
    QFETCH(QString, name);
    QFETCH(QString, label);
    QFETCH(QString, key);

    EngineHarness h;
    QVERIFY(h.load(doc::document(
        {}, {doc::test(1, {doc::numeric("q", "1", {response("1", id, name, label)})})})));
    Zazizi::Response *r = h.engine.plexa->testInstanceAt(0)->questionAt(0)->responseAt(0);
    QVERIFY(r);
    QCOMPARE(h.engine.studentKey(r), key);
}

void TestCollection::keyFromNameAndIdMeet()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document(
        {doc::page(doc::test(1, {doc::numeric("q1"), doc::numeric("q2")}))},
        {doc::test(1, {doc::numeric("q1", "1", {response("1", "", "Ann", "Device 1")}),
                       doc::numeric("q2", "1", {response("1", "Ann", "", "Device 2")})})})));
    QVERIFY(h.catalogue());
    QVERIFY(h.engine.dumpResponses());
    QCOMPARE(h.file("NULL")->students().size(), 1);
    QCOMPARE(h.file("NULL")->students().value("Ann").answers.size(), 2);
}

void TestCollection::identityFromEveryResponse_data()
{
    QTest::addColumn<int>("layout");
    // One student's responses to q1, q2 and q3, each id, name, label.
    QTest::addColumn<QList<QStringList>>("responses");
    QTest::addColumn<QStringList>("identity");

    const int moodle = int(Gradebook::Layout::Moodle);
    // The id was typed into the name field at first; the key is the same, and so is the
    // student, whose id the grade book must get.
    QTest::newRow("id in the name field first")
        << moodle << QList<QStringList>{{"", "S-1", "Device 1"}, {"S-1", "", "Device 2"}}
        << QStringList{"S-1", "S-1", "Device 1"};
    QTest::newRow("name only in a later response")
        << moodle << QList<QStringList>{{"S-1", "", "Device 1"}, {"S-1", "Ann Lee", ""}}
        << QStringList{"S-1", "Ann Lee", "Device 1"};
    QTest::newRow("the first response that has a field gives it")
        << moodle
        << QList<QStringList>{{"S-1", "Ann", ""},
                              {"S-1", "Anne", "Device 3"},
                              {"S-1", "Annie", "Device 4"}}
        << QStringList{"S-1", "Ann", "Device 3"};
    QTest::newRow("nothing kept for the plain file")
        << int(Gradebook::Layout::Plain) << QList<QStringList>{{"", "S-1", "Device 1"}}
        << QStringList{"", "", ""};
}

// A layout's row takes each of the id, name and label from the first of the student's
// responses that has it.
void TestCollection::identityFromEveryResponse()
{
    QFETCH(int, layout);
    QFETCH(QList<QStringList>, responses);
    QFETCH(QStringList, identity);

    QJsonArray pageQuestions;
    QJsonArray answered;
    for (qsizetype i = 0; i < responses.size(); ++i) {
        const QString id = QStringLiteral("q%1").arg(i + 1);
        const QStringList &who = responses.at(i);
        pageQuestions.append(doc::numeric(id));
        answered.append(doc::numeric(id, "1", {response("1", who.at(0), who.at(1), who.at(2))}));
    }
    EngineHarness h;
    h.engine.database.gradebook.layout = Gradebook::Layout(layout);
    QVERIFY(
        h.load(doc::document({doc::page(doc::test(1, pageQuestions))}, {doc::test(1, answered)})));
    QVERIFY(h.catalogue());
    QVERIFY(h.engine.dumpResponses());
    const ExportFile *file = h.file("NULL");
    QCOMPARE(file->students().size(), 1);
    const Gradebook::Identity kept = file->identity(0);
    QCOMPARE((QStringList{kept.id, kept.name, kept.label}), identity);
}

void TestCollection::percentSignsPrintedUnchanged()
{
    EngineHarness h;
    QVERIFY(h.load(doc::document(
        {doc::page(doc::test(1, {doc::numeric("q")}))},
        {doc::test(1,
                   {doc::numeric("q", "1", {response("%2", "%1%3", "50%", "%4 %2")}, "%1 of %2")},
                   "%2", "%1")})));
    QVERIFY(h.catalogue());

    DiagnosticCapture capture;
    QVERIFY(h.engine.dumpResponses());
    const QStringList lines{
        "[ Dump Responses ] - Dumping test instance (1).",
        "[ Dump Responses ] - Found Self Paced Test with title (%2) started on (%1).",
        "[ Dump Responses ] - Found Question of type (6) with text (%1 of %2).",
        "[ Dump Responses ] - Found response (%2) from user (%1%3) with id (50%) and device label "
        "(%4 %2).",
    };
    QCOMPARE(capture.lines(), lines);
}

void TestCollection::instanceOfOtherKind()
{
    EngineHarness h;
    QVERIFY(
        h.load(doc::document({doc::page(doc::test(1, {doc::numeric("q")}))},
                             {doc::test(2, {doc::numeric("q", "1", {response("1", "Ann")})}),
                              doc::test(1, {doc::numeric("q", "1", {response("1", "Ben")})})})));
    QVERIFY(h.catalogue());

    DiagnosticCapture capture;
    QVERIFY(h.engine.dumpResponses());
    QCOMPARE(capture.lines().at(0), QString("[ Dump Responses ] - Dumping test instance (1)."));
    QCOMPARE(capture.lines().at(1), QString("[ Dump Responses ] - Dumping test instance (2)."));
    QCOMPARE(h.file("NULL")->students().keys(), QStringList{"Ben"});
}

void TestCollection::missingInstanceEndsThePass()
{
    EngineHarness h;
    QVERIFY(h.load(
        doc::document({doc::page(doc::test(1, {doc::numeric("q")}))},
                      {doc::test(1, {doc::numeric("q", "1", {response("1", "Ann")})}), doc::null(),
                       doc::test(1, {doc::numeric("q", "1", {response("1", "Ben")})})})));
    QVERIFY(h.catalogue());

    DiagnosticCapture capture;
    QVERIFY(!h.engine.dumpResponses());
    const QStringList lines{
        "[ Dump Responses ] - Dumping test instance (1).",
        "[ Dump Responses ] - Found Self Paced Test with title (Quiz) started on (2026-03-02 "
        "09:15).",
        "[ Dump Responses ] - Found Question of type (6) with text (How many?).",
        responseLine("1", "Ann", "", ""),
    };
    QCOMPARE(capture.lines(), lines);
    // What was collected before the gap stays.
    QCOMPARE(h.file("NULL")->students().keys(), QStringList{"Ann"});
}

void TestCollection::diagnosticsFollowTheRules_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<int>("lineCount");
    // The lines name every student and answer: a program that nobody asked for them keeps
    // them out of its standard error, and so out of the system log.
    QTest::newRow("off as the program starts") << QString() << 0;
    QTest::newRow("default category's debug output is not enough")
        << QStringLiteral("default.debug=true") << 0;
    QTest::newRow("switched off") << QStringLiteral("*.debug=true\nscorlet.diagnostics.debug=false")
                                  << 0;
    QTest::newRow("switched on") << QStringLiteral("scorlet.diagnostics.debug=true") << 10;
}

void TestCollection::diagnosticsFollowTheRules()
{
    QFETCH(QString, rules);
    QFETCH(int, lineCount);
    EngineHarness h;
    QVERIFY(h.load(
        doc::document({doc::page(doc::test(1, {doc::choice("q")}))},
                      {doc::test(1, {doc::choice("q", {response("A", "Ann"), response("", "Ben"),
                                                       response("B", "")})})})));

    QLoggingCategory::setFilterRules(rules);
    const auto reset = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
    MessageCapture capture({QtDebugMsg}, MessageCapture::PassOn, diagnosticsCategoryName);
    QVERIFY(h.catalogue());
    QVERIFY(h.engine.dumpResponses());

    QCOMPARE(capture.lines().size(), lineCount);
    // The results do not depend on the diagnostics.
    QCOMPARE(h.file("NULL")->students().keys(), QStringList{"Ann"});
    QCOMPARE(stateOf(h, "NULL", "Ann", "q")->correct, true);
}

void TestCollection::secondPassMeetsEarlierVerdicts_data()
{
    QTest::addColumn<int>("secondTime");
    QTest::addColumn<QString>("secondAnswer");
    QTest::addColumn<bool>("correct");
    QTest::addColumn<int>("time");

    // The first pass keeps "1" (right) at time 30 for Ann.
    QTest::newRow("earlier start loses") << 20 << "2" << true << 30;
    QTest::newRow("equal start, later walked wins") << 30 << "2" << false << 30;
    QTest::newRow("later start wins") << 40 << "2" << false << 40;
    QTest::newRow("negative start loses") << -1 << "2" << true << 30;
}

// A pass over a second document with the tables of the first still in place: the kept verdict
// follows the same rule as two attempts within one pass.
void TestCollection::secondPassMeetsEarlierVerdicts()
{
    QFETCH(int, secondTime);
    QFETCH(QString, secondAnswer);
    QFETCH(bool, correct);
    QFETCH(int, time);

    EngineHarness h;
    QVERIFY(h.load(doc::document(
        {doc::page(doc::test(1, {doc::numeric("q"), doc::numeric("r")}), {"CSV: A"})},
        {doc::test(1, {doc::numeric("q", "1", {response("1", "Ann", "", "", 30)})})})));
    QVERIFY(h.catalogue());
    QVERIFY(h.engine.dumpResponses());

    QVERIFY(h.load(doc::document(
        {}, {doc::test(1, {doc::numeric("q", "1",
                                        {response(secondAnswer, "Ann", "", "", secondTime),
                                         response("1", "Ben", "", "", 1)}),
                           doc::numeric("r", "1", {response("1", "Ann", "", "", 2)})})})));
    QVERIFY(h.engine.dumpResponses());

    QCOMPARE(h.file("A")->students().size(), 2);
    QCOMPARE(stateOf(h, "A", "Ann", "q")->correct, correct);
    QCOMPARE(stateOf(h, "A", "Ann", "q")->time, time);
    QCOMPARE(stateOf(h, "A", "Ann", "r")->correct, true);
    QCOMPARE(stateOf(h, "A", "Ben", "q")->time, 1);
    QCOMPARE(h.file("A")->students().value("Ann").answers.size(), 2);
}

// The response branch of the question walk files its verdicts at once when it is called on its
// own, outside a test-instance pass.
void TestCollection::questionWalkedOutsideThePass()
{
    EngineHarness h;
    QVERIFY(
        h.load(doc::document({doc::page(doc::test(1, {doc::numeric("q")}))},
                             {doc::test(1, {doc::numeric("q", "1",
                                                         {response("2", "Ann", "", "", 5),
                                                          response("1", "Ann", "", "", 6)})})})));
    QVERIFY(h.catalogue());
    Zazizi::Question *question = h.engine.plexa->testInstanceAt(0)->questionAt(0);
    QVERIFY(question);
    h.engine.dumpQuestion(question);

    QCOMPARE(stateOf(h, "NULL", "Ann", "q")->correct, true);
    QCOMPARE(stateOf(h, "NULL", "Ann", "q")->time, 6);
}

// A file with tens of thousands of questions: the first student's verdicts are gathered in a
// row as wide as the file, the next ones go straight to the student table, since rows for
// them would take memory out of proportion to the few responses. Both ways keep the same
// verdicts.
void TestCollection::studentsOfAVeryWideFile()
{
    QJsonArray questions;
    for (int i = 0; i < 40000; ++i)
        questions.append(doc::numeric(QStringLiteral("q%1").arg(i)));
    const QJsonArray instance{
        doc::numeric("q0", "1",
                     {response("2", "Ann", "", "", 5), response("1", "Ann", "", "", 7),
                      response("1", "Ben", "", "", 3), response("2", "Cy", "", "", 4)}),
        doc::numeric("q39999", "1",
                     {response("2", "Ben", "", "", 1), response("1", "Ben", "", "", 1),
                      response("1", "Ann", "", "", 9), response("1", "Cy", "", "", -2),
                      response("2", "Cy", "", "", -3)})};
    EngineHarness h;
    QVERIFY(h.load(doc::document({doc::page(doc::test(1, questions))}, {doc::test(1, instance)})));
    QVERIFY(h.catalogue());
    QVERIFY(h.engine.dumpResponses());

    const QStringList students = h.file("NULL")->students().keys();
    QCOMPARE(QSet<QString>(students.cbegin(), students.cend()),
             (QSet<QString>{"Ann", "Ben", "Cy"}));
    const struct
    {
        const char *student;
        const char *question;
        bool correct;
        int time;
    } expected[] = {{"Ann", "q0", true, 7}, {"Ann", "q39999", true, 9},
                    {"Ben", "q0", true, 3}, {"Ben", "q39999", true, 1},
                    {"Cy", "q0", false, 4}, {"Cy", "q39999", true, -2}};
    for (const auto &e : expected) {
        const std::optional<AnswerState> state = stateOf(h, "NULL", e.student, e.question);
        QVERIFY2(state, e.student);
        QCOMPARE(state->correct, e.correct);
        QCOMPARE(state->time, e.time);
    }
    for (const QString &student : students) {
        QCOMPARE(h.file("NULL")->students().value(student).key, student);
        QCOMPARE(h.file("NULL")->students().value(student).answers.size(), 2);
    }
}

// Past the tables' chunk and bucket boundaries, and a key longer than a storage chunk: every
// key keeps its number, and first and further verdicts follow the same rules.
void TestCollection::tablesGrowWithoutLosingEntries()
{
    QuestionCatalogue questions;
    for (const char *id : {"q0", "q1", "q2"})
        QVERIFY(questions.add(QString::fromLatin1(id), 0, nullptr));
    StudentTable students(&questions);
    const int count = 140000;
    const auto keyOf = [](int i) { return QStringLiteral("s") + QString::number(i, 36); };
    for (int i = 0; i < count; ++i) {
        const quint32 student = students.findOrAdd(keyOf(i));
        QCOMPARE(student, quint32(i));
        students.keepAttempt(student, quint32(i % 3), true, 10);
        students.keepAttempt(student, quint32(i % 3), false, 9);
        if (i % 2 == 0) {
            const quint32 further = quint32((i + 1) % 3);
            students.keepAttempt(student, further, false, 5);
            students.keepAttempt(student, further, true, 5);
            students.keepAttempt(student, further, false, 4);
        }
    }
    const QString longKey(3 << 19, QLatin1Char('L'));
    QCOMPARE(students.findOrAdd(longKey), quint32(count));
    QCOMPARE(students.findOrAdd(QStringLiteral("after")), quint32(count + 1));
    QCOMPARE(students.findOrAdd(longKey), quint32(count));
    QCOMPARE(students.size(), count + 2);

    students.tallyCorrect();
    for (int i = 0; i < count; ++i) {
        if (students.indexOf(keyOf(i)) != i || students.keyAt(quint32(i)) != keyOf(i) ||
            students.correctAt(quint32(i)) != (i % 2 == 0 ? 2 : 1))
            QFAIL(qPrintable(keyOf(i)));
    }
    QCOMPARE(students.keyAt(quint32(count)), longKey);
    const StudentRecord record = students.value(keyOf(count - 2));
    QCOMPARE(record.answers.size(), 2);
    // 139998 is a multiple of 3: first q0, then q1.
    QCOMPARE(record.answers.value("q0").time, 10);
    QCOMPARE(record.answers.value("q0").correct, true);
    QCOMPARE(record.answers.value("q1").time, 5);
    QCOMPARE(record.answers.value("q1").correct, true);
    QVERIFY(!students.contains(QStringLiteral("s")));
}

QTEST_GUILESS_MAIN(TestCollection)
#include "tst_collection.moc"
