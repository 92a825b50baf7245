#include <roruri1/canvaro.h>
#include <roruri1/plexa.h>
#include <roruri1/question.h>
#include <roruri1/response.h>
#include <roruri1/test.h>

#include "files.h"
#include "messagecapture.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <type_traits>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Zazizi;

// Questions and responses find their document from their own address: a caller can neither
// copy one nor make one of its own.
static_assert(!std::is_copy_constructible_v<Question> && !std::is_copy_assignable_v<Question> &&
              !std::is_default_constructible_v<Question>);
static_assert(!std::is_copy_constructible_v<Response> && !std::is_copy_assignable_v<Response> &&
              !std::is_default_constructible_v<Response>);

namespace {

// A document with one page whose test carries `question` (JSON text of one question).
QByteArray withQuestion(const QByteArray &question)
{
    return R"({"plexa": 1, "pages": [{"test": {"kind": 1, "questions": [)" + question + "]}}]}";
}

// A document with one test instance of one question answered by `response`.
QByteArray withResponse(const QByteArray &response)
{
    return R"({"plexa": 1, "testInstances": [{"kind": 0, "questions": [{"id": "q", "type": 6,
        "responses": [)" +
           response + "]}]}]}";
}

std::unique_ptr<Plexa> parse(const QByteArray &json, QString *error = nullptr)
{
    return std::unique_ptr<Plexa>(Plexa::fromData(json, error));
}

// The row's `json` is refused with exactly the row's `reason`.
void expectRefused()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, reason);

    QString error;
    QVERIFY(!parse(json, &error));
    QCOMPARE(error, reason);
}

// Opens the file as the program does; its warnings stay in WarningCapture::lines().
std::unique_ptr<Plexa> openWarning(const QString &path)
{
    WarningCapture warnings;
    return std::unique_ptr<Plexa>(Plexa::openPlexa(path));
}

QString cannotOpen(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot open Plexa document ") + native(path) + QStringLiteral(": ") +
           reason;
}

Question *firstPageQuestion(const Plexa &plexa)
{
    std::unique_ptr<Page> page(plexa.pageAt(0));
    return page && page->test() ? page->test()->questionAt(0) : nullptr;
}

Response *firstResponse(const Plexa &plexa)
{
    Test *test = plexa.testInstanceAt(0);
    Question *question = test ? test->questionAt(0) : nullptr;
    return question ? question->responseAt(0) : nullptr;
}

} // namespace

class TestDocument : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void example();
    void defaults();
    void nullElements();
    void nullMembers_data();
    void nullMembers();
    void responseMembers_data();
    void responseMembers();
    void documentsAtOnce_data();
    void documentsAtOnce();
    void blockBoundaries_data();
    void blockBoundaries();
    void testsOfTheirOwn();
    void classAndKind_data();
    void classAndKind();
    void hasCorrectAnswer_data();
    void hasCorrectAnswer();
    void texts_data();
    void texts();
    void integers_data();
    void integers();
    void tolerance_data();
    void tolerance();
    void unknownMembersIgnored();

    void wrongMember_data();
    void wrongMember();
    void invalidJson_data();
    void invalidJson();
    void deepNesting_data();
    void deepNesting();

    void openWarns_data();
    void openWarns();
#ifdef Q_OS_UNIX
    void openFifo();
#endif
    void openUnreadable();
    void openTooLarge();
    void openGood();

    void recentDocuments_data();
    void recentDocuments();

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_config;
};

void TestDocument::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_config.isValid());
    // The settings store reads this once, at its first use: set it before anything does.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void TestDocument::example()
{
    const QByteArray json = R"({
      "plexa": 1,
      "title": "Fractions, week 3",
      "pages": [
        { "keywords": ["CSV: Period 2"],
          "test": { "kind": 1, "title": "Warm-up", "startedOn": "2026-03-02 09:15",
                    "questions": [
                      { "id": "q1", "text": "1/2 + 1/4 = ?", "type": 6,
                        "answers": ["0.75"], "tolerance": 0.001 },
                      { "id": "q2", "text": "Which is larger?", "type": 1,
                        "options": [ { "label": "2/3" }, { "label": "3/4", "correct": true } ] }
                    ] } },
        { "keywords": [] }
      ],
      "testInstances": [
        { "kind": 1, "title": "Warm-up", "startedOn": "2026-03-02 09:15",
          "questions": [
            { "id": "q1", "text": "1/2 + 1/4 = ?", "type": 6, "answers": ["0.75"],
              "tolerance": 0.001, "labelType": 1, "textComparison": 2,
              "responses": [
                { "text": "0.75", "studentId": "S-0141", "studentName": "Ann",
                  "label": "Device 4", "startTime": 12 },
                { "text": ".7", "studentName": "Ben", "label": "Device 9", "startTime": 15 }
              ] }
          ] }
      ]
    })";
    QString error;
    const auto plexa = parse(json, &error);
    QVERIFY2(plexa, qPrintable(error));
    QCOMPARE(plexa->title(), QStringLiteral("Fractions, week 3"));
    QCOMPARE(plexa->pageCount(), 2);

    std::unique_ptr<Page> page(plexa->pageAt(0));
    QVERIFY(page);
    QCOMPARE(page->keywords(), QStringList{QStringLiteral("CSV: Period 2")});
    Test *test = page->test();
    QVERIFY(test);
    QCOMPARE(test->kind(), 1);
    QCOMPARE(test->startedOn(), QStringLiteral("2026-03-02 09:15"));
    auto *selfPaced = qobject_cast<SelfPacedTest *>(test);
    QVERIFY(selfPaced);
    QCOMPARE(selfPaced->title(), QStringLiteral("Warm-up"));
    QCOMPARE(test->questionCount(), 2);
    Question *q2 = test->questionAt(1);
    QVERIFY(q2);
    QCOMPARE(q2->type(), 1);
    QCOMPARE(q2->options().size(), 2);
    QCOMPARE(q2->options().at(0).label, QStringLiteral("2/3"));
    QCOMPARE(q2->options().at(0).correct, false);
    QCOMPARE(q2->options().at(1).correct, true);
    QVERIFY(q2->hasCorrectAnswer());

    std::unique_ptr<Page> second(plexa->pageAt(1));
    QVERIFY(second);
    QVERIFY(!second->test());
    QVERIFY(second->keywords().isEmpty());

    QCOMPARE(plexa->testInstanceCount(), 1);
    Question *q1 = plexa->testInstanceAt(0)->questionAt(0);
    QVERIFY(q1);
    QCOMPARE(q1->id(), QStringLiteral("q1"));
    QCOMPARE(q1->text(), QStringLiteral("1/2 + 1/4 = ?"));
    QCOMPARE(q1->answerList(), QStringList{QStringLiteral("0.75")});
    QCOMPARE(q1->tolerance(), 0.001);
    QCOMPARE(q1->labelType(), 1);
    QCOMPARE(q1->textComparison(), 2);
    QCOMPARE(q1->responseCount(), 2);
    Response *ann = q1->responseAt(0);
    QVERIFY(ann);
    QCOMPARE(ann->text(), QStringLiteral("0.75"));
    QCOMPARE(ann->studentId(), QStringLiteral("S-0141"));
    QCOMPARE(ann->studentName(), QStringLiteral("Ann"));
    QCOMPARE(ann->label(), QStringLiteral("Device 4"));
    QCOMPARE(ann->startTime(), 12);
    Response *ben = q1->responseAt(1);
    QVERIFY(ben);
    QCOMPARE(ben->studentId(), QString());
    QCOMPARE(ben->startTime(), 15);
    QVERIFY(!q1->responseAt(2));
    QVERIFY(!q1->responseAt(-1));
}

void TestDocument::defaults()
{
    const auto plexa = parse(withQuestion(R"({"id": "q", "type": 7})"));
    QVERIFY(plexa);
    QCOMPARE(plexa->title(), QString());
    QCOMPARE(plexa->testInstanceCount(), 0);
    std::unique_ptr<Page> page(plexa->pageAt(0));
    QVERIFY(page->keywords().isEmpty());
    QCOMPARE(page->test()->startedOn(), QString());
    QCOMPARE(qobject_cast<SelfPacedTest *>(page->test())->title(), QString());
    Question *question = page->test()->questionAt(0);
    QCOMPARE(question->text(), QString());
    QVERIFY(question->answerList().isEmpty());
    QVERIFY(question->options().isEmpty());
    QCOMPARE(question->labelType(), 0);
    QCOMPARE(question->textComparison(), 0);
    QCOMPARE(question->tolerance(), 0.0);
    QCOMPARE(question->responseCount(), 0);
    QVERIFY(!question->hasCorrectAnswer());

    const auto empty = parse(R"({"plexa": 1})");
    QVERIFY(empty);
    QCOMPARE(empty->pageCount(), 0);
    QVERIFY(!empty->pageAt(0));

    const auto responses = parse(withResponse("{}"));
    Response *response = firstResponse(*responses);
    QVERIFY(response);
    QCOMPARE(response->text(), QString());
    QCOMPARE(response->studentName(), QString());
    QCOMPARE(response->label(), QString());
    QCOMPARE(response->startTime(), 0);
}

void TestDocument::nullElements()
{
    const auto plexa = parse(R"({"plexa": 1,
        "pages": [null, {"test": null}, {"test": {"kind": 0, "questions": [null, {"id": "b",
                 "type": 6}]}}],
        "testInstances": [{"kind": 1, "questions": [{"id": "a", "type": 6,
                 "responses": [{"text": "1"}, null, {"text": "3"}, null]}]}, null]})");
    QVERIFY(plexa);
    QCOMPARE(plexa->pageCount(), 3);
    QVERIFY(!plexa->pageAt(0));
    std::unique_ptr<Page> bare(plexa->pageAt(1));
    QVERIFY(bare);
    QVERIFY(!bare->test());
    std::unique_ptr<Page> page(plexa->pageAt(2));
    QCOMPARE(page->test()->questionCount(), 2);
    QVERIFY(!page->test()->questionAt(0));
    QCOMPARE(page->test()->questionAt(1)->id(), QStringLiteral("b"));
    QVERIFY(!plexa->pageAt(3));
    QVERIFY(!plexa->pageAt(-1));

    QCOMPARE(plexa->testInstanceCount(), 2);
    QVERIFY(!plexa->testInstanceAt(1));
    QVERIFY(!plexa->testInstanceAt(2));
    Question *question = plexa->testInstanceAt(0)->questionAt(0);
    QCOMPARE(question->responseCount(), 4);
    QCOMPARE(question->responseAt(0)->text(), QStringLiteral("1"));
    QVERIFY(!question->responseAt(1));
    QCOMPARE(question->responseAt(2)->text(), QStringLiteral("3"));
    QVERIFY(!question->responseAt(3));
    QVERIFY(!question->responseAt(4));
}

void TestDocument::nullMembers_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("instances");
    // Of the first test instance, else of the first page's test; -1: there is no test.
    QTest::addColumn<int>("questions");
    // Of that test's first question; -1: there is none.
    QTest::addColumn<int>("responses");

    QTest::newRow("pages null") << QByteArray(R"({"plexa": 1, "pages": null})") << 0 << 0 << -1
                                << -1;
    QTest::newRow("testInstances null")
        << QByteArray(R"({"plexa": 1, "testInstances": null, "pages": [{}]})") << 1 << 0 << -1
        << -1;
    QTest::newRow("page test null")
        << QByteArray(R"({"plexa": 1, "pages": [{"test": null}]})") << 1 << 0 << -1 << -1;
    QTest::newRow("page questions null")
        << QByteArray(R"({"plexa": 1, "pages": [{"test": {"kind": 1, "questions": null}}]})") << 1
        << 0 << 0 << -1;
    QTest::newRow("instance questions null")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"questions": null, "kind": 0}]})") << 0
        << 1 << 0 << -1;
    QTest::newRow("responses null")
        << withResponse("{}").replace("[{}]", "null") << 0 << 1 << 1 << 0;
}

// A nullable member given as `null` means its default.
void TestDocument::nullMembers()
{
    QFETCH(QByteArray, json);
    QFETCH(int, pages);
    QFETCH(int, instances);
    QFETCH(int, questions);
    QFETCH(int, responses);

    QString error;
    const auto plexa = parse(json, &error);
    QVERIFY2(plexa, qPrintable(error));
    QCOMPARE(plexa->pageCount(), pages);
    QCOMPARE(plexa->testInstanceCount(), instances);
    std::unique_ptr<Page> page(plexa->pageAt(0));
    QCOMPARE(bool(page), pages > 0);
    Test *test = instances ? plexa->testInstanceAt(0) : page ? page->test() : nullptr;
    QCOMPARE(test ? test->questionCount() : -1, questions);
    Question *question = test ? test->questionAt(0) : nullptr;
    QCOMPARE(question ? question->responseCount() : -1, responses);
}

void TestDocument::responseMembers_data()
{
    QTest::addColumn<QByteArray>("responses");
    // Per response "text|studentId|studentName|label|startTime", or "null".
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("null elements around")
        << QByteArray(R"(null, {"text": "a"}, null, null, {"label": "L"}, null)")
        << QStringList{"null", "a||||0", "null", "null", "|||L|0", "null"};
    QTest::newRow("only nulls") << QByteArray("null, null") << QStringList{"null", "null"};
    QTest::newRow("members in any order")
        << QByteArray(R"({"startTime": -7, "label": "L", "studentName": "N", "studentId": "I",
                          "text": "T"})")
        << QStringList{"T|I|N|L|-7"};
    // Values of unknown members that look like members are passed over whole.
    QTest::newRow("unknown members between")
        << QByteArray(R"({"x": {"text": "no", "label": ["no"]}, "text": "yes",
                          "y": ["studentId", "\"studentId\": \"no\""], "studentId": "S",
                          "z": "\"label\":\"no\"", "w": [[{}], {"a": [null, true, 1e5]}],
                          "startTime": 3})")
        << QStringList{"yes|S|||3"};
    QTest::newRow("escaped member names")
        << QByteArray(R"({"t\u0065xt": "a", "student\u0049d": "b", "\u006cabel": "c",
                          "startTim\u0065": 12})")
        << QStringList{"a|b||c|12"};
    QTest::newRow("escapes in the values")
        << QByteArray(R"({"text": "a\"b\\c", "studentId": "\u0053\u0031", "studentName":
                          "Zo\u00eb \ud83d\ude00", "label": "\/\t"})")
        << QStringList{QString::fromUtf8("a\"b\\c|S1|Zo\xc3\xab \xf0\x9f\x98\x80|/\t|0")};
    QTest::newRow("white space everywhere")
        << QByteArray("{ \"text\"\t:\r\n\"a\" ,\n\"startTime\" :  -2147483648 }\n , { }")
        << QStringList{"a||||-2147483648", "||||0"};
    QTest::newRow("empty texts") << QByteArray(R"({"text": "", "studentId": ""}, {})")
                                 << QStringList{"||||0", "||||0"};
    QTest::newRow("raw UTF-8 and byte-order marks")
        << QByteArray("{\"text\": \"\xEF\xBB\xBF\", \"studentId\": \"\xEF\xBB\xBF"
                      "S\xC3\xA9\"}")
        << QStringList{QStringLiteral("\uFEFF|\uFEFFS\u00E9|||0")};
}

namespace {

QString responseRecord(const Response *response)
{
    if (!response)
        return QStringLiteral("null");
    return QStringList{response->text(), response->studentId(), response->studentName(),
                       response->label(), QString::number(response->startTime())}
        .join(QLatin1Char('|'));
}

} // namespace

// Every member of every response, read in file order, then each member of one response
// between members of another (the reader remembers the last response it looked into).
void TestDocument::responseMembers()
{
    QFETCH(QByteArray, responses);
    QFETCH(QStringList, expected);

    QString error;
    const auto plexa = parse(withResponse(responses), &error);
    QVERIFY2(plexa, qPrintable(error));
    Question *question = plexa->testInstanceAt(0)->questionAt(0);
    QCOMPARE(question->responseCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(responseRecord(question->responseAt(i)), expected.at(i));

    for (int i = 0; i < expected.size(); ++i) {
        const Response *response = question->responseAt(i);
        const Response *other = question->responseAt(expected.size() - 1 - i);
        if (!response || !other)
            continue;
        const QStringList fields = expected.at(i).split(QLatin1Char('|'));
        const QStringList otherFields =
            expected.at(expected.size() - 1 - i).split(QLatin1Char('|'));
        QCOMPARE(response->label(), fields.at(3));
        QCOMPARE(other->text(), otherFields.at(0));
        QCOMPARE(response->startTime(), fields.at(4).toInt());
        QCOMPARE(other->startTime(), otherFields.at(4).toInt());
        QCOMPARE(response->studentId(), fields.at(1));
    }
}

void TestDocument::documentsAtOnce_data()
{
    QTest::addColumn<bool>("freeFirst");
    QTest::newRow("both open") << false;
    // The second document may take the first one's memory and so its responses' addresses.
    QTest::newRow("first freed before the second opens") << true;
}

// Two documents alike but for their texts: each response delivers its own document's.
void TestDocument::documentsAtOnce()
{
    QFETCH(bool, freeFirst);

    const auto document = [](const char *name) {
        return withResponse(QByteArray(R"({"text": "1", "studentId": ")") + name +
                            R"(", "startTime": 1}, {"text": "2", "studentId": ")" + name + R"("})");
    };
    auto first = parse(document("A"));
    QVERIFY(first);
    Response *a = firstResponse(*first);
    QCOMPARE(a->studentId(), QStringLiteral("A"));
    if (freeFirst)
        first.reset();
    const auto second = parse(document("B"));
    QVERIFY(second);
    Response *b = firstResponse(*second);
    QCOMPARE(b->studentId(), QStringLiteral("B"));
    QCOMPARE(b->startTime(), 1);
    if (freeFirst)
        return;
    QCOMPARE(a->studentId(), QStringLiteral("A"));
    QCOMPARE(b->studentId(), QStringLiteral("B"));
    Response *b2 = second->testInstanceAt(0)->questionAt(0)->responseAt(1);
    QCOMPARE(a->text(), QStringLiteral("1"));
    QCOMPARE(b2->text(), QStringLiteral("2"));
    QCOMPARE(b2->studentId(), QStringLiteral("B"));
    QCOMPARE(a->startTime(), 1);
}

void TestDocument::blockBoundaries_data()
{
    QTest::addColumn<int>("questions");
    QTest::addColumn<int>("responsesEach");
    // Every this many questions one is `null`; 0: none is.
    QTest::addColumn<int>("nullEvery");

    // Responses, questions and slots are kept in blocks of 64 KiB, some thousands each.
    QTest::newRow("responses over several blocks") << 2 << 20000 << 0;
    QTest::newRow("questions over several blocks") << 6000 << 3 << 0;
    QTest::newRow("question slots over several blocks") << 20000 << 1 << 2;
}

// Documents whose tables fill more than one block read the same on every index, also from
// several threads at once.
void TestDocument::blockBoundaries()
{
    QFETCH(int, questions);
    QFETCH(int, responsesEach);
    QFETCH(int, nullEvery);

    const auto isNull = [&](int k) { return nullEvery && k % nullEvery == 1; };
    QByteArray json = R"({"plexa": 1, "testInstances": [{"kind": 0, "questions": [)";
    for (int k = 0; k < questions; ++k) {
        if (k)
            json += ',';
        if (isNull(k)) {
            json += "null";
            continue;
        }
        json += R"({"id": "q)" + QByteArray::number(k) + R"(", "type": 6, "responses": [)";
        for (int j = 0; j < responsesEach; ++j) {
            json += (j ? "," : "") + QByteArray(R"({"text": ")") + QByteArray::number(k) + '.' +
                    QByteArray::number(j) + R"(", "startTime": )" + QByteArray::number(j) + "}";
        }
        json += "]}";
    }
    json += "]}]}";
    QString error;
    const auto plexa = parse(json, &error);
    QVERIFY2(plexa, qPrintable(error));
    Test *test = plexa->testInstanceAt(0);
    QCOMPARE(test->questionCount(), questions);

    // The number of values that differ from the document's.
    const auto walk = [&]() {
        int wrong = 0;
        for (int k = 0; k < questions; ++k) {
            const Question *question = test->questionAt(k);
            if (isNull(k)) {
                wrong += question != nullptr;
                continue;
            }
            if (!question || question->id() != QStringLiteral("q%1").arg(k) ||
                question->responseCount() != responsesEach) {
                ++wrong;
                continue;
            }
            for (int j = 0; j < responsesEach; ++j) {
                const Response *response = question->responseAt(j);
                wrong += !response || response->text() != QStringLiteral("%1.%2").arg(k).arg(j) ||
                         response->startTime() != j;
            }
        }
        return wrong;
    };
    QCOMPARE(walk(), 0);
    int wrongInThread = -1;
    std::thread other([&] { wrongInThread = walk(); });
    const int wrongHere = walk();
    other.join();
    QCOMPARE(wrongHere, 0);
    QCOMPARE(wrongInThread, 0);
}

// Every test instance is an object of its own, also where two deliver the same.
void TestDocument::testsOfTheirOwn()
{
    const auto plexa = parse(R"({"plexa": 1, "testInstances": [
        {"kind": 5}, {"kind": 5, "title": "not delivered"}, {"kind": 6},
        {"kind": 1, "title": "a"}, {"kind": 1, "title": "b"}, {"kind": 1, "title": "a"},
        {"kind": 1, "title": "a", "startedOn": "9:00"}, {"kind": 1, "class": "Test"},
        {"kind": 1, "questions": []}, {"kind": 1, "questions": [null]}, {"kind": 1}]})");
    QVERIFY(plexa);
    const auto title = [&](int i) {
        auto *test = qobject_cast<SelfPacedTest *>(plexa->testInstanceAt(i));
        return test ? test->title() : QStringLiteral("-");
    };
    QCOMPARE(plexa->testInstanceAt(0)->kind(), 5);
    QCOMPARE(plexa->testInstanceAt(2)->kind(), 6);
    QCOMPARE(title(3), QStringLiteral("a"));
    QCOMPARE(title(4), QStringLiteral("b"));
    QCOMPARE(title(5), QStringLiteral("a"));
    QCOMPARE(plexa->testInstanceAt(5)->startedOn(), QString());
    QCOMPARE(plexa->testInstanceAt(6)->startedOn(), QStringLiteral("9:00"));
    QCOMPARE(title(7), QStringLiteral("-"));
    QCOMPARE(plexa->testInstanceAt(7)->kind(), 1);
    QCOMPARE(plexa->testInstanceAt(9)->questionCount(), 1);
    QCOMPARE(plexa->testInstanceAt(10)->questionCount(), 0);
    QSet<const Test *> objects;
    for (int i = 0; i < plexa->testInstanceCount(); ++i)
        objects.insert(plexa->testInstanceAt(i));
    QCOMPARE(objects.size(), plexa->testInstanceCount());
}

void TestDocument::classAndKind_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("className");

    QTest::newRow("kind 1") << QByteArray(R"("kind": 1)") << 1 << "Zazizi::SelfPacedTest";
    QTest::newRow("kind 0") << QByteArray(R"("kind": 0)") << 0 << "Zazizi::InstructorPacedTest";
    QTest::newRow("other kind") << QByteArray(R"("kind": 7)") << 7 << "Zazizi::Test";
    QTest::newRow("negative kind") << QByteArray(R"("kind": -1)") << -1 << "Zazizi::Test";
    // The class decides what is delivered; the kind stays as written.
    QTest::newRow("class over kind 1") << QByteArray(R"("kind": 1, "class": "InstructorPacedTest")")
                                       << 1 << "Zazizi::InstructorPacedTest";
    QTest::newRow("class over kind 0")
        << QByteArray(R"("class": "SelfPacedTest", "kind": 0)") << 0 << "Zazizi::SelfPacedTest";
    QTest::newRow("plain class") << QByteArray(R"("kind": 1, "class": "Test")") << 1
                                 << "Zazizi::Test";
    QTest::newRow("class for other kind")
        << QByteArray(R"("kind": 3, "class": "SelfPacedTest")") << 3 << "Zazizi::SelfPacedTest";
}

void TestDocument::classAndKind()
{
    QFETCH(QByteArray, members);
    QFETCH(int, kind);
    QFETCH(QString, className);

    QString error;
    const auto plexa = parse(R"({"plexa": 1, "testInstances": [{)" + members + "}]}", &error);
    QVERIFY2(plexa, qPrintable(error));
    Test *test = plexa->testInstanceAt(0);
    QVERIFY(test);
    QCOMPARE(test->kind(), kind);
    QCOMPARE(QString::fromLatin1(test->metaObject()->className()), className);
    const bool selfPaced = className == QLatin1String("Zazizi::SelfPacedTest");
    const bool instructorPaced = className == QLatin1String("Zazizi::InstructorPacedTest");
    QCOMPARE(SelfPacedTest::staticMetaObject.cast(test) != nullptr, selfPaced);
    QCOMPARE(InstructorPacedTest::staticMetaObject.cast(test) != nullptr, instructorPaced);
    QVERIFY(Test::staticMetaObject.cast(test));
}

void TestDocument::hasCorrectAnswer_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<bool>("expected");

    QTest::newRow("nothing") << QByteArray() << false;
    QTest::newRow("answers") << QByteArray(R"(, "answers": ["4"])") << true;
    QTest::newRow("empty answers") << QByteArray(R"(, "answers": [])") << false;
    QTest::newRow("empty answer text") << QByteArray(R"(, "answers": [""])") << true;
    QTest::newRow("correct option")
        << QByteArray(R"(, "options": [{"label": "A"}, {"correct": true}])") << true;
    QTest::newRow("no correct option")
        << QByteArray(R"(, "options": [{"label": "A"}, {"correct": false}])") << false;
    QTest::newRow("explicit false wins")
        << QByteArray(R"(, "answers": ["4"], "hasCorrectAnswer": false)") << false;
    QTest::newRow("explicit true wins") << QByteArray(R"(, "hasCorrectAnswer": true)") << true;
}

void TestDocument::hasCorrectAnswer()
{
    QFETCH(QByteArray, members);
    QFETCH(bool, expected);

    const auto plexa = parse(withQuestion(R"({"id": "q", "type": 1)" + members + "}"));
    QVERIFY(plexa);
    QCOMPARE(firstPageQuestion(*plexa)->hasCorrectAnswer(), expected);
}

void TestDocument::texts_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("text");

    QTest::newRow("plain") << QByteArray(R"("0.75")") << QStringLiteral("0.75");
    QTest::newRow("empty") << QByteArray(R"("")") << QString();
    QTest::newRow("escaped e acute") << QByteArray(R"("caf\u00e9")") << QStringLiteral("café");
    QTest::newRow("raw e acute") << QByteArray("\"caf\xc3\xa9\"") << QStringLiteral("café");
    QTest::newRow("surrogate pair")
        << QByteArray(R"("\ud83d\ude00!")") << QString::fromUtf8("\xf0\x9f\x98\x80!");
    QTest::newRow("raw emoji") << QByteArray("\"\xf0\x9f\x98\x80\"")
                               << QString::fromUtf8("\xf0\x9f\x98\x80");
    QTest::newRow("quote and backslash")
        << QByteArray(R"("say \"hi\" \\ now")") << QStringLiteral("say \"hi\" \\ now");
    QTest::newRow("controls") << QByteArray(R"("a\tb\nc\rd\be\ff\/")")
                              << QStringLiteral("a\tb\nc\rd\be\ff/");
    QTest::newRow("percent kept") << QByteArray(R"("%1 and %2")") << QStringLiteral("%1 and %2");
    QTest::newRow("escaped NUL") << QByteArray(R"("a\u0000b")") << QString::fromUtf16(u"a\0b", 3);
    // A byte-order mark opening a text is part of it: "\ufeffS1" is another student than "S1".
    QTest::newRow("escaped byte-order mark")
        << QByteArray(R"("\ufeffS1")") << QStringLiteral("\uFEFFS1");
    QTest::newRow("raw byte-order mark")
        << QByteArray("\"\xEF\xBB\xBFS1\"") << QStringLiteral("\uFEFFS1");
    QTest::newRow("two raw byte-order marks")
        << QByteArray("\"\xEF\xBB\xBF\xEF\xBB\xBF\"") << QStringLiteral("\uFEFF\uFEFF");
    QTest::newRow("escaped byte-order mark after an escape")
        << QByteArray(R"("\n\ufeff")") << QStringLiteral("\n\uFEFF");
    QTest::newRow("only escapes") << QByteArray(R"("\u0041\u00e9\ud83d\ude00")")
                                  << QString::fromUtf8("A\xc3\xa9\xf0\x9f\x98\x80");
    // Long enough to cross several 16-byte scans, with escapes on both sides of them.
    QTest::newRow("long mixed")
        << QByteArray(R"("0123456789abcdef\"0123456789abcdef\u00e9\u00e90123456789abcdef")")
        << QStringLiteral("0123456789abcdef\"0123456789abcdeféé0123456789abcdef");
}

void TestDocument::texts()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, text);

    const QByteArray question = R"({"id": )" + json + R"(, "text": )" + json +
                                R"(, "type": 7, "answers": [)" + json +
                                R"(], "options": [{"label": )" + json + "}]}";
    const QByteArray document =
        R"({"plexa": 1, "title": )" + json + R"(, "pages": [{"keywords": [)" + json + ", " + json +
        R"(], "test": {"kind": 1, "title": )" + json + R"(, "startedOn": )" + json +
        R"(, "questions": [)" + question + "]}}]}";
    QString error;
    const auto pages = parse(document, &error);
    QVERIFY2(pages, qPrintable(error));
    QCOMPARE(pages->title(), text);
    std::unique_ptr<Page> page(pages->pageAt(0));
    QCOMPARE(page->keywords(), QStringList({text, text}));
    QCOMPARE(page->test()->startedOn(), text);
    QCOMPARE(qobject_cast<SelfPacedTest *>(page->test())->title(), text);
    Question *read = page->test()->questionAt(0);
    QCOMPARE(read->id(), text);
    QCOMPARE(read->text(), text);
    QCOMPARE(read->answerList(), QStringList{text});
    QCOMPARE(read->options().at(0).label, text);

    const QByteArray response = R"({"text": )" + json + R"(, "studentId": )" + json +
                                R"(, "studentName": )" + json + R"(, "label": )" + json + "}";
    const auto responses = parse(withResponse(response), &error);
    QVERIFY2(responses, qPrintable(error));
    Response *answer = firstResponse(*responses);
    QCOMPARE(answer->text(), text);
    QCOMPARE(answer->studentId(), text);
    QCOMPARE(answer->studentName(), text);
    QCOMPARE(answer->label(), text);
}

void TestDocument::integers_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("error");

    QTest::newRow("largest") << QByteArray("2147483647") << 2147483647 << QString();
    QTest::newRow("smallest") << QByteArray("-2147483648") << int(-2147483647 - 1) << QString();
    QTest::newRow("zero") << QByteArray("0") << 0 << QString();
    QTest::newRow("minus zero") << QByteArray("-0") << 0 << QString();
    const QString tooLarge = QStringLiteral("integer does not fit in 32 bits");
    QTest::newRow("one above") << QByteArray("2147483648") << 0 << tooLarge;
    QTest::newRow("one below") << QByteArray("-2147483649") << 0 << tooLarge;
    QTest::newRow("many digits") << QByteArray("123456789012345678901234567890") << 0 << tooLarge;
    const QString notInteger = QStringLiteral("expected an integer");
    QTest::newRow("fraction") << QByteArray("1.0") << 0 << notInteger;
    QTest::newRow("exponent") << QByteArray("1e2") << 0 << notInteger;
    QTest::newRow("capital exponent") << QByteArray("1E+0") << 0 << notInteger;
    QTest::newRow("huge exponent") << QByteArray("1e999") << 0 << notInteger;
}

void TestDocument::integers()
{
    QFETCH(QByteArray, number);
    QFETCH(int, value);
    QFETCH(QString, error);

    QString reason;
    const auto plexa = parse(withResponse(R"({"startTime": )" + number + "}"), &reason);
    if (error.isEmpty()) {
        QVERIFY2(plexa, qPrintable(reason));
        QCOMPARE(firstResponse(*plexa)->startTime(), value);
    } else {
        QVERIFY(!plexa);
        QCOMPARE(reason, "testInstances[0].questions[0].responses[0].startTime: " + error);
    }
}

void TestDocument::tolerance_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<double>("value");

    QTest::newRow("fraction") << QByteArray("0.001") << 0.001;
    QTest::newRow("integer") << QByteArray("5") << 5.0;
    QTest::newRow("negative") << QByteArray("-2.5") << -2.5;
    QTest::newRow("exponent") << QByteArray("1E2") << 100.0;
    QTest::newRow("negative exponent") << QByteArray("25e-1") << 2.5;
    // Too small to represent is zero, not an error.
    QTest::newRow("underflow") << QByteArray("1e-999") << 0.0;
    QTest::newRow("long fraction underflow") << QByteArray("0.0000001e-400") << 0.0;
    QTest::newRow("largest double")
        << QByteArray("1.7976931348623157e308") << 1.7976931348623157e308;
}

void TestDocument::tolerance()
{
    QFETCH(QByteArray, number);
    QFETCH(double, value);

    QString error;
    const auto plexa =
        parse(withQuestion(R"({"id": "q", "type": 6, "tolerance": )" + number + "}"), &error);
    QVERIFY2(plexa, qPrintable(error));
    QCOMPARE(firstPageQuestion(*plexa)->tolerance(), value);
}

void TestDocument::unknownMembersIgnored()
{
    // Unknown members may hold anything, known names included, as long as it is JSON.
    const auto plexa = parse(R"({"future": {"plexa": "two", "pages": 5, "deep": [[[{}]]]},
        "plexa": 1, "n": null, "b": [true, false], "x": -1.5e-3,
        "pages": [{"test": {"kind": 1, "extra": "x", "questions": [{"id": "q", "type": 6,
            "options": [{"correct": true, "note": [1]}], "more": {"kind": "no"}}]},
            "misc": {}}]})");
    QVERIFY(plexa);
    QVERIFY(firstPageQuestion(*plexa)->hasCorrectAnswer());
}

void TestDocument::wrongMember_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("reason");

    const auto question = [](const char *members) {
        return withQuestion(QByteArray(R"({"id": "q", "type": 6, )") + members + "}");
    };
    const auto response = [](const char *members) {
        return withResponse(QByteArray("{") + members + "}");
    };
    const QString q = QStringLiteral("pages[0].test.questions[0].");
    const QString r = QStringLiteral("testInstances[0].questions[0].responses[0].");

    QTest::newRow("root array") << QByteArray("[]") << "root: expected an object";
    QTest::newRow("root string") << QByteArray(R"("plexa")") << "root: expected an object";
    QTest::newRow("plexa missing") << QByteArray(R"({"pages": []})") << "plexa: missing";
    QTest::newRow("plexa 2") << QByteArray(R"({"plexa": 2})") << "plexa: expected 1";
    QTest::newRow("plexa string") << QByteArray(R"({"plexa": "1"})") << "plexa: expected 1";
    QTest::newRow("plexa fraction") << QByteArray(R"({"plexa": 1.0})") << "plexa: expected 1";
    QTest::newRow("plexa null") << QByteArray(R"({"plexa": null})") << "plexa: expected 1";
    QTest::newRow("plexa twice") << QByteArray(R"({"plexa": 1, "plexa": 1})")
                                 << "plexa: duplicate member";
    QTest::newRow("title number") << QByteArray(R"({"plexa": 1, "title": 3})")
                                  << "title: expected a string";
    QTest::newRow("pages object") << QByteArray(R"({"plexa": 1, "pages": {}})")
                                  << "pages: expected an array";
    QTest::newRow("page number") << QByteArray(R"({"plexa": 1, "pages": [null, 4]})")
                                 << "pages[1]: expected an object";
    QTest::newRow("keywords string")
        << QByteArray(R"({"plexa": 1, "pages": [{"keywords": "CSV: A"}]})")
        << "pages[0].keywords: expected an array";
    QTest::newRow("keyword null") << QByteArray(
                                         R"({"plexa": 1, "pages": [{"keywords": ["a", null]}]})")
                                  << "pages[0].keywords[1]: expected a string";
    QTest::newRow("test array") << QByteArray(R"({"plexa": 1, "pages": [{"test": []}]})")
                                << "pages[0].test: expected an object";
    QTest::newRow("test twice") << QByteArray(
                                       R"({"plexa": 1, "pages": [{"test": null, "test": null}]})")
                                << "pages[0].test: duplicate member";
    QTest::newRow("kind missing") << QByteArray(R"({"plexa": 1, "testInstances": [{}]})")
                                  << "testInstances[0].kind: missing";
    QTest::newRow("kind string") << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": "1"}]})")
                                 << "testInstances[0].kind: expected an integer";
    QTest::newRow("kind null") << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": null}]})")
                               << "testInstances[0].kind: expected an integer";
    QTest::newRow("kind boolean") << QByteArray(
                                         R"({"plexa": 1, "testInstances": [{"kind": true}]})")
                                  << "testInstances[0].kind: expected an integer";
    QTest::newRow("kind twice") << QByteArray(
                                       R"({"plexa": 1, "testInstances": [{"kind": 1, "kind": 1}]})")
                                << "testInstances[0].kind: duplicate member";
    QTest::newRow("instance string") << QByteArray(R"({"plexa": 1, "testInstances": ["t"]})")
                                     << "testInstances[0]: expected an object";
    QTest::newRow("class unknown")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": 1, "class": "Quiz"}]})")
        << R"(testInstances[0].class: expected "SelfPacedTest", "InstructorPacedTest" or "Test")";
    QTest::newRow("class number")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": 1, "class": 1}]})")
        << "testInstances[0].class: expected a string";
    QTest::newRow("test title")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": 1, "title": null}]})")
        << "testInstances[0].title: expected a string";
    QTest::newRow("startedOn")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": 1, "startedOn": 9}]})")
        << "testInstances[0].startedOn: expected a string";
    QTest::newRow("questions object")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": 1, "questions": {}}]})")
        << "testInstances[0].questions: expected an array";
    QTest::newRow("question number") << withQuestion("1")
                                     << "pages[0].test.questions[0]: "
                                        "expected an object";
    QTest::newRow("id missing") << withQuestion(R"({"type": 6})") << q + "id: missing";
    QTest::newRow("type missing") << withQuestion(R"({"id": "q"})") << q + "type: missing";
    QTest::newRow("id number") << withQuestion(R"({"id": 1, "type": 6})")
                               << q + "id: expected a string";
    QTest::newRow("type string") << withQuestion(R"({"id": "q", "type": "6"})")
                                 << q + "type: expected an integer";
    QTest::newRow("text null") << question(R"("text": null)") << q + "text: expected a string";
    QTest::newRow("hasCorrectAnswer number")
        << question(R"("hasCorrectAnswer": 1)") << q + "hasCorrectAnswer: expected a boolean";
    QTest::newRow("answer number")
        << question(R"("answers": ["1", 2])") << q + "answers[1]: expected a string";
    QTest::newRow("option null") << question(R"("options": [null])")
                                 << q + "options[0]: expected an object";
    QTest::newRow("option label") << question(R"("options": [{"label": 1}])")
                                  << q + "options[0].label: expected a string";
    QTest::newRow("option correct") << question(R"("options": [{}, {"correct": "yes"}])")
                                    << q + "options[1].correct: expected a boolean";
    QTest::newRow("labelType fraction")
        << question(R"("labelType": 1.5)") << q + "labelType: expected an integer";
    QTest::newRow("textComparison string")
        << question(R"("textComparison": "0")") << q + "textComparison: expected an integer";
    QTest::newRow("tolerance string")
        << question(R"("tolerance": "0.1")") << q + "tolerance: expected a number";
    QTest::newRow("tolerance infinite")
        << question(R"("tolerance": 1e999)") << q + "tolerance: number out of range";
    QTest::newRow("tolerance negative infinite")
        << question(R"("tolerance": -1e400)") << q + "tolerance: number out of range";
    QTest::newRow("tolerance beyond double")
        << question(R"("tolerance": 1.8e308)") << q + "tolerance: number out of range";
    QTest::newRow("responses string")
        << question(R"("responses": "none")") << q + "responses: expected an array";
    QTest::newRow("type twice") << question(R"("type": 6)") << q + "type: duplicate member";
    QTest::newRow("response number") << withResponse("{}, 1")
                                     << "testInstances[0].questions[0].responses[1]: "
                                        "expected an object";
    QTest::newRow("response text") << response(R"("text": 1)") << r + "text: expected a string";
    QTest::newRow("response studentId null")
        << response(R"("studentId": null)") << r + "studentId: expected a string";
    QTest::newRow("response studentName array")
        << response(R"("studentName": [])") << r + "studentName: expected a string";
    QTest::newRow("response label object")
        << response(R"("label": {})") << r + "label: expected a string";
    QTest::newRow("startTime string")
        << response(R"("startTime": "12")") << r + "startTime: expected an integer";
    QTest::newRow("response text twice")
        << response(R"("text": "a", "text": "b")") << r + "text: duplicate member";
    // The place as the format describes it, several levels down.
    QTest::newRow("deep place") << QByteArray(R"({"plexa": 1, "pages": [null, {}, {"test": null},
            {"test": {"kind": 1, "questions": [null, {"id": "a", "type": 6},
            {"id": "b", "type": "six"}]}}]})")
                                << "pages[3].test.questions[2].type: expected an integer";
    // A member name written with escapes is still that member.
    QTest::newRow("escaped member name")
        << QByteArray(R"({"plexa": 1, "pag\u0065s": 3})") << "pages: expected an array";

    // Only arrays of objects and a page's test may be `null`; every other member is of the
    // wrong type then.
    QTest::newRow("title null") << QByteArray(R"({"plexa": 1, "title": null})")
                                << "title: expected a string";
    QTest::newRow("keywords null") << QByteArray(R"({"plexa": 1, "pages": [{"keywords": null}]})")
                                   << "pages[0].keywords: expected an array";
    QTest::newRow("class null")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": 1, "class": null}]})")
        << "testInstances[0].class: expected a string";
    QTest::newRow("startedOn null")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": 1, "startedOn": null}]})")
        << "testInstances[0].startedOn: expected a string";
    QTest::newRow("id null") << withQuestion(R"({"id": null, "type": 6})")
                             << q + "id: expected a string";
    QTest::newRow("type null") << withQuestion(R"({"id": "q", "type": null})")
                               << q + "type: expected an integer";
    QTest::newRow("hasCorrectAnswer null")
        << question(R"("hasCorrectAnswer": null)") << q + "hasCorrectAnswer: expected a boolean";
    QTest::newRow("answers null") << question(R"("answers": null)")
                                  << q + "answers: expected an array";
    QTest::newRow("answer null") << question(R"("answers": [null])")
                                 << q + "answers[0]: expected a string";
    QTest::newRow("options null") << question(R"("options": null)")
                                  << q + "options: expected an array";
    QTest::newRow("option label null")
        << question(R"("options": [{"label": null}])") << q + "options[0].label: expected a string";
    QTest::newRow("option correct null") << question(R"("options": [{"correct": null}])")
                                         << q + "options[0].correct: expected a boolean";
    QTest::newRow("labelType null")
        << question(R"("labelType": null)") << q + "labelType: expected an integer";
    QTest::newRow("textComparison null")
        << question(R"("textComparison": null)") << q + "textComparison: expected an integer";
    QTest::newRow("tolerance null")
        << question(R"("tolerance": null)") << q + "tolerance: expected a number";
    QTest::newRow("response text null")
        << response(R"("text": null)") << r + "text: expected a string";
    QTest::newRow("response studentName null")
        << response(R"("studentName": null)") << r + "studentName: expected a string";
    QTest::newRow("response label null")
        << response(R"("label": null)") << r + "label: expected a string";
    QTest::newRow("startTime null")
        << response(R"("startTime": null)") << r + "startTime: expected an integer";

    // Half of a surrogate pair has no place in a text kept exactly as written; the reason
    // names the member as for any other bad value.
    const QString lone = QStringLiteral("lone surrogate in string");
    QTest::newRow("lone high surrogate")
        << withQuestion(R"({"id": "a\ud800b", "type": 6})") << q + "id: " + lone;
    QTest::newRow("lone low surrogate")
        << withResponse(R"({}, {"label": "\udc00"})")
        << "testInstances[0].questions[0].responses[1].label: " + lone;
    QTest::newRow("high surrogate then letter")
        << question(R"("answers": ["\ud800\u0041"])") << q + "answers[0]: " + lone;
    QTest::newRow("high surrogate at the end")
        << response(R"("studentId": "S1\ud83d")") << r + "studentId: " + lone;
    QTest::newRow("two high surrogates")
        << response(R"("text": "\ud83d\ud83d\ude00")") << r + "text: " + lone;
    QTest::newRow("pair in the wrong order")
        << response(R"("studentName": "\ude00\ud83d")") << r + "studentName: " + lone;
    QTest::newRow("lone surrogate in a title")
        << QByteArray(R"({"plexa": 1, "title": "\udfff"})") << "title: " + lone;
    QTest::newRow("lone surrogate in a keyword")
        << QByteArray(R"({"plexa": 1, "pages": [{"keywords": ["CSV: \udbff"]}]})")
        << "pages[0].keywords[0]: " + lone;
    QTest::newRow("lone surrogate in an option label")
        << question(R"("options": [{}, {"label": "\ud800"}])") << q + "options[1].label: " + lone;
    QTest::newRow("lone surrogate in a class")
        << QByteArray(R"({"plexa": 1, "testInstances": [{"kind": 1, "class": "\ud800"}]})")
        << "testInstances[0].class: " + lone;
    QTest::newRow("lone surrogate in a member name")
        << response(R"("te\udc00xt": "a")")
        << "testInstances[0].questions[0].responses[0]: " + lone;
    QTest::newRow("lone surrogate in a root member name")
        << QByteArray(R"({"plexa": 1, "\ud800": 1})") << "root: " + lone;
    QTest::newRow("lone surrogate in an ignored member")
        << response(R"("note": "\ud800")") << r + "note: " + lone;
    QTest::newRow("lone surrogate deep in an ignored member")
        << QByteArray(R"({"plexa": 1, "x": {"y": [1, {"z\u0021": ["\udc00"]}]}})")
        << "x.y[1].z![0]: " + lone;
    QTest::newRow("lone surrogate in a value of the wrong type")
        << response(R"("startTime": ["\ud800"])") << r + "startTime[0]: " + lone;
}

void TestDocument::wrongMember()
{
    expectRefused();
}

void TestDocument::invalidJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << QByteArray() << "empty file";
    QTest::newRow("blank") << QByteArray(" \n\t")
                           << "invalid JSON at byte 3: unexpected end of data";
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF{\"plexa\": 1}")
                                     << "invalid JSON at byte 0: byte-order mark before the text";
    QTest::newRow("trailing garbage") << QByteArray(R"({"plexa": 1} x)")
                                      << "invalid JSON at byte 13: unexpected data after the "
                                         "root value";
    QTest::newRow("second value") << QByteArray(R"({"plexa": 1}{})")
                                  << "invalid JSON at byte 12: unexpected data after the root "
                                     "value";
    QTest::newRow("NUL after the root") << QByteArray("{\"plexa\": 1}\0", 13)
                                        << "invalid JSON at byte 12: unexpected data after the "
                                           "root value";
    QTest::newRow("NUL in a string") << QByteArray("{\"plexa\": 1, \"title\": \"a\0b\"}", 27)
                                     << "invalid JSON at byte 24: control character in string";
    QTest::newRow("NUL between members") << QByteArray("{\"plexa\": 1,\0 \"a\": 1}", 21)
                                         << "invalid JSON at byte 12: expected a member name";
    QTest::newRow("newline in a string") << QByteArray("{\"plexa\": 1, \"title\": \"a\nb\"}")
                                         << "invalid JSON at byte 24: control character in "
                                            "string";
    QTest::newRow("unterminated string") << QByteArray(R"({"plexa": 1, "title": "abc)")
                                         << "invalid JSON at byte 22: unterminated string";
    QTest::newRow("unterminated object")
        << QByteArray(R"({"plexa": 1)") << "invalid JSON at byte 11: unexpected end of data";
    QTest::newRow("invalid escape") << QByteArray(R"({"plexa": 1, "title": "a\x"})")
                                    << "invalid JSON at byte 24: invalid escape";
    // Broken JSON after a lone surrogate in the same text is reported as broken JSON.
    QTest::newRow("invalid escape after a lone surrogate")
        << QByteArray(R"({"plexa": 1, "title": "\ud800\x"})")
        << "invalid JSON at byte 29: invalid escape";
    QTest::newRow("lone surrogate in an unterminated string")
        << QByteArray(R"({"plexa": 1, "title": "\ud800)")
        << "invalid JSON at byte 22: unterminated string";
    QTest::newRow("short unicode escape") << QByteArray(R"({"plexa": 1, "title": "\u12"})")
                                          << "invalid JSON at byte 23: invalid escape";
    QTest::newRow("trailing comma")
        << QByteArray(R"({"plexa": 1,})") << "invalid JSON at byte 12: expected a member name";
    QTest::newRow("missing colon")
        << QByteArray(R"({"plexa" 1})") << "invalid JSON at byte 9: expected ':'";
    QTest::newRow("missing comma")
        << QByteArray(R"({"plexa": 1 "a": 2})") << "invalid JSON at byte 12: expected ',' or '}'";
    QTest::newRow("leading zero") << QByteArray(R"({"plexa": 1, "x": 01})")
                                  << "invalid JSON at byte 19: expected ',' or '}'";
    QTest::newRow("bare fraction")
        << QByteArray(R"({"plexa": 1, "x": .5})") << "invalid JSON at byte 18: expected a value";
    QTest::newRow("fraction without digits")
        << QByteArray(R"({"plexa": 1, "x": 1.})") << "invalid JSON at byte 20: invalid number";
    QTest::newRow("plus sign") << QByteArray(R"({"plexa": +1})")
                               << "invalid JSON at byte 10: expected a value";
    QTest::newRow("bad literal") << QByteArray(R"({"plexa": 1, "x": tru})")
                                 << "invalid JSON at byte 18: expected a value";
    QTest::newRow("single quotes")
        << QByteArray(R"({'plexa': 1})") << "invalid JSON at byte 1: expected a member name";
    QTest::newRow("array trailing comma")
        << QByteArray(R"({"plexa": 1, "x": [1,]})") << "invalid JSON at byte 21: expected a value";
    // Broken JSON inside a value of the wrong type is reported as broken JSON.
    QTest::newRow("broken wrong value") << QByteArray(R"({"plexa": 1, "title": [1,,]})")
                                        << "invalid JSON at byte 25: expected a value";

    QTest::newRow("invalid UTF-8 in a text")
        << QByteArray("{\"plexa\": 1, \"title\": \"ab\xff\"}") << "invalid UTF-8 at byte 25";
    QTest::newRow("invalid UTF-8 in an unknown member")
        << QByteArray("{\"plexa\": 1, \"x\": [\"\xc3\"]}") << "invalid UTF-8 at byte 20";
    QTest::newRow("invalid UTF-8 in a name")
        << QByteArray("{\"plexa\": 1, \"\x80\": 1}") << "invalid UTF-8 at byte 14";
    QTest::newRow("overlong slash")
        << QByteArray("{\"plexa\": 1, \"x\": \"\xc0\xaf\"}") << "invalid UTF-8 at byte 19";
    QTest::newRow("encoded surrogate")
        << QByteArray("{\"plexa\": 1, \"x\": \"\xed\xa0\x80\"}") << "invalid UTF-8 at byte 19";
    QTest::newRow("beyond U+10FFFF")
        << QByteArray("{\"plexa\": 1, \"x\": \"\xf4\x90\x80\x80\"}") << "invalid UTF-8 at byte 19";
    QTest::newRow("truncated sequence at the end")
        << QByteArray("{\"plexa\": 1, \"x\": \"\xe2\x82") << "invalid UTF-8 at byte 19";
    QTest::newRow("invalid UTF-8 outside strings")
        << QByteArray("{\"plexa\": 1}\xfe") << "invalid UTF-8 at byte 12";
    const QByteArray latin1Response = withResponse("{\"text\": \"\xe9t\xe9\"}");
    QTest::newRow("invalid UTF-8 in a response")
        << latin1Response
        << QStringLiteral("invalid UTF-8 at byte %1").arg(latin1Response.indexOf('\xe9'));
}

void TestDocument::invalidJson()
{
    expectRefused();
}

void TestDocument::deepNesting_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("reason");

    const QByteArray brackets(100000, '[');
    QTest::newRow("arrays at the root") << brackets << "nesting too deep at byte 256";
    QTest::newRow("arrays in a member")
        << QByteArray(R"({"plexa": 1, "x": )" + brackets) << "nesting too deep at byte 273";
    QByteArray objects;
    for (int i = 0; i < 100000; ++i)
        objects += R"({"a":)";
    QTest::newRow("objects in a member")
        << QByteArray(R"({"plexa": 1, "x": )" + objects) << "nesting too deep at byte 1293";
}

void TestDocument::deepNesting()
{
    expectRefused();
    if (QTest::currentTestFailed())
        return;

    // Nesting within the limit still opens.
    const QByteArray fine =
        R"({"plexa": 1, "x": )" + QByteArray(200, '[') + QByteArray(200, ']') + "}";
    QVERIFY(parse(fine));
}

void TestDocument::openWarns_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing file") << "missing.plexa" << QByteArray() << "no such file";
    QTest::newRow("folder") << "folder.plexa" << QByteArray() << "not a regular file";
    QTest::newRow("empty file") << "empty.plexa" << QByteArray("") << "empty file";
    QTest::newRow("wrong type") << "wrong.plexa" << QByteArray(R"({"plexa": 1, "pages": 1})")
                                << "pages: expected an array";
    // A percent sign in the path is printed as it is.
    QTest::newRow("percent in the name")
        << "a%1b.plexa" << QByteArray("{") << "invalid JSON at byte 1: unexpected end of data";
}

void TestDocument::openWarns()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    const QString path = m_dir.filePath(name);
    if (name == QLatin1String("folder.plexa")) {
        QVERIFY(QDir(m_dir.path()).mkpath(name));
    } else if (name != QLatin1String("missing.plexa")) {
        QVERIFY(writeFile(path, content));
    }

    QVERIFY(!openWarning(path));
    QCOMPARE(WarningCapture::lines(), QStringList{cannotOpen(path, reason)});
}

#ifdef Q_OS_UNIX
void TestDocument::openFifo()
{
    const QString path = m_dir.filePath(QStringLiteral("pipe.plexa"));
    const QByteArray nativePath = QFile::encodeName(path);
    QVERIFY(::mkfifo(nativePath.constData(), 0600) == 0);

    // Should the open ever block on the pipe, a writer end lets it return and the test fail
    // instead of hanging.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 200 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done) {
            const int fd = ::open(nativePath.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    const bool opened = bool(openWarning(path));
    done = true;
    watchdog.join();
    QVERIFY(!opened);
    QCOMPARE(WarningCapture::lines(), QStringList{cannotOpen(path, "not a regular file")});
}
#endif

// Unix: a file without read permission. Windows: a file that another program holds open
// without sharing it.
void TestDocument::openUnreadable()
{
    const QString path = m_dir.filePath(QStringLiteral("locked.plexa"));
    QVERIFY(writeFile(path, R"({"plexa": 1})"));
#ifdef Q_OS_WIN
    ExclusiveHold hold(path);
    QVERIFY(hold.isHeld());
#else
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("this user can read any file");
#endif

    QVERIFY(!openWarning(path));
    const QStringList &warnings = WarningCapture::lines();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().startsWith(cannotOpen(path, "cannot read: ")),
             qPrintable(warnings.first()));
}

void TestDocument::openTooLarge()
{
    const QString path = m_dir.filePath(QStringLiteral("huge.plexa"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // Sparse where the file system allows it; nothing of it is read.
    if (!file.resize(Q_INT64_C(4) << 30))
        QSKIP("cannot make a 4 GiB file here");
    file.close();

    const bool opened = bool(openWarning(path));
    QFile::remove(path);
    QVERIFY(!opened);
    QCOMPARE(WarningCapture::lines(), QStringList{cannotOpen(path, "file too large")});
}

void TestDocument::openGood()
{
    const QString path = m_dir.filePath(QStringLiteral("good.plexa"));
    QVERIFY(writeFile(path, withResponse(R"({"text": "\u00e9", "studentName": "Ann"})")));

    const std::unique_ptr<Plexa> plexa = openWarning(path);
    QVERIFY(plexa);
    QVERIFY(WarningCapture::lines().isEmpty());
    QCOMPARE(firstResponse(*plexa)->text(), QStringLiteral("é"));
    QCOMPARE(firstResponse(*plexa)->studentName(), QStringLiteral("Ann"));
}

#ifdef Q_OS_WIN
// Canvaro keeps its list in the registry, under HKEY_CURRENT_USER\Software\Zazizi\Canvaro,
// value recentDocuments; each row writes it with Windows' own registry tool.
void TestDocument::recentDocuments_data()
{
    // What follows "reg add KEY /v": nothing leaves the key without values.
    QTest::addColumn<QStringList>("value");
    QTest::addColumn<bool>("host");
    QTest::addColumn<QStringList>("list");

    QTest::newRow("no value") << QStringList() << false << QStringList();
    QTest::newRow("other value only")
        << QStringList{"other", "/t", "REG_DWORD", "/d", "1"} << false << QStringList();
    QTest::newRow("two documents")
        << QStringList{"recentDocuments", "/t", "REG_MULTI_SZ", "/d",
                       "C:\\Lessons\\quiz.plexa\\0D:\\Week 3\\Unit.3.plexa"}
        << true << QStringList{"C:\\Lessons\\quiz.plexa", "D:\\Week 3\\Unit.3.plexa"};
    QTest::newRow("one document as a string")
        << QStringList{"recentDocuments", "/t", "REG_SZ", "/d", "C:\\Lessons\\a, b.plexa"} << true
        << QStringList{"C:\\Lessons\\a, b.plexa"};
}

void TestDocument::recentDocuments()
{
    QFETCH(QStringList, value);
    QFETCH(bool, host);
    QFETCH(QStringList, list);

    const QString key = QStringLiteral("HKCU\\Software\\Zazizi\\Canvaro");
    registryTool({"delete", key, "/f"});
    if (!value.isEmpty())
        QVERIFY(!registryTool(QStringList{"add", key, "/v"} + value + QStringList{"/f"}).isNull());

    Canvaro *canvaro = Canvaro::instance();
    QCOMPARE(canvaro != nullptr, host);
    if (canvaro)
        QCOMPARE(canvaro->mruList(), list);
}
#else
void TestDocument::recentDocuments_data()
{
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<bool>("host");
    QTest::addColumn<QStringList>("list");

    QTest::newRow("no settings file") << QByteArray() << false << QStringList();
    QTest::newRow("key absent") << QByteArray("[General]\nother=1\n") << false << QStringList();
    QTest::newRow("two documents")
        << QByteArray("[General]\nrecentDocuments=/home/ann/quiz.plexa, /home/ann/Unit.3.plexa\n")
        << true << QStringList{"/home/ann/quiz.plexa", "/home/ann/Unit.3.plexa"};
    QTest::newRow("one document") << QByteArray("[General]\nrecentDocuments=/a/b c.plexa\n") << true
                                  << QStringList{"/a/b c.plexa"};
    QTest::newRow("empty entries kept")
        << QByteArray("[General]\nrecentDocuments=/a.plexa, , /b.plexa, \"\"\n") << true
        << QStringList{"/a.plexa", "", "/b.plexa", ""};
    QTest::newRow("empty list") << QByteArray("[General]\nrecentDocuments=@Invalid()\n") << true
                                << QStringList();
    QTest::newRow("quoted comma") << QByteArray(
                                         "[General]\nrecentDocuments=\"/x/a, b.plexa\", /y.plexa\n")
                                  << true << QStringList{"/x/a, b.plexa", "/y.plexa"};
}

void TestDocument::recentDocuments()
{
    QFETCH(QByteArray, conf);
    QFETCH(bool, host);
    QFETCH(QStringList, list);

    const QString folder = m_config.filePath(QStringLiteral("Zazizi"));
    const QString path = folder + QStringLiteral("/Canvaro.conf");
    QFile::remove(path);
    if (!conf.isEmpty()) {
        QVERIFY(QDir().mkpath(folder));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(conf);
        file.close();
        // The settings store rereads a file only when its time or size changed; give every
        // row its own time.
        static int row = 0;
        const QDateTime stamp = QDateTime::currentDateTime().addSecs(++row * 10);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    }

    Canvaro *canvaro = Canvaro::instance();
    QCOMPARE(canvaro != nullptr, host);
    if (canvaro)
        QCOMPARE(canvaro->mruList(), list);
}
#endif

QTEST_GUILESS_MAIN(TestDocument)

#include "tst_document.moc"
