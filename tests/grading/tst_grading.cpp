#include "documents.h"
#include "grading.h"
#include "razuzezoz.h"

#include <roruri1/plexa.h>
#include <roruri1/question.h>
#include <roruri1/response.h>
#include <roruri1/test.h>

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

using Flags = QList<bool>;
using Fields = QuestionGrader::Fields;

namespace {

Fields question(int type)
{
    Fields fields;
    fields.type = type;
    return fields;
}

// One test instance holding one question with `fields` and the one response `text`.
QByteArray documentFor(const Fields &fields, const QString &text)
{
    QJsonArray options;
    for (const bool correct : fields.optionCorrect)
        options.append(QJsonObject{{"correct", correct}});
    // A document holds only finite numbers; see grade() for the others.
    const double tolerance = std::isfinite(fields.tolerance) ? fields.tolerance : 0.0;
    const QJsonObject q{{"id", "q"},
                        {"type", fields.type},
                        {"hasCorrectAnswer", true},
                        {"answers", QJsonArray::fromStringList(fields.answers)},
                        {"options", options},
                        {"labelType", fields.labelType},
                        {"textComparison", fields.textComparison},
                        {"tolerance", tolerance},
                        {"responses", QJsonArray{QJsonObject{{"text", text}}}}};
    return doc::document({}, {doc::test(1, {q})});
}

// Grades `text` as an export does: the library reads the question from a document and the
// engine grades the response by `typeName`, or by the name it gives the question when
// `typeName` is null. The type name the engine chose goes to `*chosenName`.
bool grade(const Fields &fields, const QString &text, const QString &typeName = QString(),
           QString *chosenName = nullptr)
{
    QString error;
    const std::unique_ptr<Zazizi::Plexa> plexa(
        Zazizi::Plexa::fromData(documentFor(fields, text), &error));
    Zazizi::Question *q = plexa ? plexa->testInstanceAt(0)->questionAt(0) : nullptr;
    Zazizi::Response *r = q ? q->responseAt(0) : nullptr;
    if (!r) {
        QTest::qFail(qPrintable(QStringLiteral("the document does not open: ") + error), __FILE__,
                     __LINE__);
        return false;
    }
    raZuzezoz engine;
    const QString name = typeName.isNull() ? engine.questionTypeName(q) : typeName;
    if (chosenName)
        *chosenName = name;
    if (r->text() != text)
        QTest::qFail("the document changed the response text", __FILE__, __LINE__);
    if (std::isfinite(fields.tolerance))
        return engine.gradeResponse(q, r, name);
    // The library's tolerance is a double that need not be finite, but a document cannot
    // write such a number down: the same grader then gets the question's fields directly.
    return QuestionGrader(fields, name).grade(text);
}

} // namespace

class TestGrading : public QObject
{
    Q_OBJECT

private slots:
    void typeName_data();
    void typeName();
    void numeric_data();
    void numeric();
    void typedAnswer_data();
    void typedAnswer();
    void chosenIndex_data();
    void chosenIndex();
    void choice_data();
    void choice();
    void ruleFollowsTypeName_data();
    void ruleFollowsTypeName();
    void documentResponses_data();
    void documentResponses();
    void missingQuestionOrResponse();
    void numberValue_data();
    void numberValue();
    void integerValue_data();
    void integerValue();
    void firstUpperCased_data();
    void firstUpperCased();
    void containsUpperCased_data();
    void containsUpperCased();
};

void TestGrading::typeName_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");

    QTest::newRow("0") << 0 << "unsupported";
    QTest::newRow("1") << 1 << "Tick boxes";
    QTest::newRow("2") << 2 << "Tick boxes";
    QTest::newRow("3") << 3 << "Tick boxes";
    QTest::newRow("4") << 4 << "Tick boxes";
    QTest::newRow("5") << 5 << "Tick boxes";
    QTest::newRow("6") << 6 << "numeric";
    QTest::newRow("7") << 7 << "alphanumeric";
    QTest::newRow("8") << 8 << "sort";
    QTest::newRow("9") << 9 << "unsupported";
    QTest::newRow("10") << 10 << "equation";
    QTest::newRow("11") << 11 << "Tick boxes";
    QTest::newRow("-1") << -1 << "Tick boxes";
    QTest::newRow("smallest int") << std::numeric_limits<int>::min() << "Tick boxes";
    QTest::newRow("1000") << 1000 << "Tick boxes";
    QTest::newRow("largest int") << std::numeric_limits<int>::max() << "Tick boxes";
}

void TestGrading::typeName()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    QString chosen;
    grade(question(type), QString(), QString(), &chosen);
    QCOMPARE(chosen, name);
}

void TestGrading::numeric_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<QString>("response");
    QTest::addColumn<bool>("correct");

    QTest::newRow("exact, no tolerance") << QStringList{"42"} << 0.0 << "42" << true;
    QTest::newRow("written differently") << QStringList{"42"} << 0.0 << "42.000" << true;
    QTest::newRow("off by a little, no tolerance") << QStringList{"42"} << 0.0 << "42.01" << false;
    QTest::newRow("one tolerance above") << QStringList{"10"} << 0.5 << "10.5" << true;
    QTest::newRow("one tolerance below") << QStringList{"10"} << 0.5 << "9.5" << true;
    QTest::newRow("just past the tolerance") << QStringList{"10"} << 0.5 << "10.51" << false;
    QTest::newRow("between two answers") << QStringList{"12", "12.5"} << 0.25 << "12.2" << true;
    QTest::newRow("second answer matches") << QStringList{"1", "2"} << 0.0 << "2" << true;
    QTest::newRow("negative tolerance") << QStringList{"5"} << -0.1 << "5" << false;
    QTest::newRow("letters read as 0") << QStringList{"0"} << 0.0 << "abc" << true;
    QTest::newRow("letters within tolerance of 0") << QStringList{"0.2"} << 0.5 << "abc" << true;
    QTest::newRow("letters far from the answer") << QStringList{"3"} << 0.5 << "abc" << false;
    QTest::newRow("empty reads as 0") << QStringList{"0"} << 0.0 << "" << true;
    QTest::newRow("empty against non-zero") << QStringList{"1"} << 0.0 << "" << false;
    QTest::newRow("answer that is not a number") << QStringList{"none"} << 0.0 << "0" << true;
    QTest::newRow("no answers") << QStringList{} << 100.0 << "0" << false;
    // Reading a number skips surrounding blanks, as QString::toDouble does.
    QTest::newRow("blanks around a number") << QStringList{"7"} << 0.0 << " 7 " << true;
    QTest::newRow("comma is no decimal point") << QStringList{"7.5"} << 0.0 << "7,5" << false;
    QTest::newRow("negative values") << QStringList{"-3"} << 0.0 << "-3" << true;
    QTest::newRow("not a number never matches") << QStringList{"nan"} << 1e308 << "nan" << false;
    QTest::newRow("infinity against itself") << QStringList{"inf"} << 1e308 << "inf" << false;
    QTest::newRow("nan tolerance") << QStringList{"1"} << qQNaN() << "1" << false;
}

void TestGrading::numeric()
{
    QFETCH(QStringList, answers);
    QFETCH(double, tolerance);
    QFETCH(QString, response);
    QFETCH(bool, correct);

    // An equation is graded exactly like a number.
    for (int type : {6, 10}) {
        Fields in = question(type);
        in.answers = answers;
        in.tolerance = tolerance;
        QCOMPARE(grade(in, response), correct);
    }
}

void TestGrading::typedAnswer_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("textComparison");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("response");
    QTest::addColumn<bool>("correct");

    QTest::newRow("text, 1: upper") << 7 << 1 << QStringList{"Paris"} << "PARIS" << true;
    QTest::newRow("text, 1: lower") << 7 << 1 << QStringList{"Paris"} << "paris" << true;
    QTest::newRow("text, 1: as written") << 7 << 1 << QStringList{"Paris"} << "Paris" << true;
    QTest::newRow("text, 1: other word") << 7 << 1 << QStringList{"Paris"} << "Lyon" << false;
    QTest::newRow("text, 0: exact") << 7 << 0 << QStringList{"Paris"} << "Paris" << true;
    QTest::newRow("text, 0: case differs") << 7 << 0 << QStringList{"Paris"} << "paris" << false;
    // The answer is compared upper-cased, the response as typed.
    QTest::newRow("text, 2: lower against lower")
        << 7 << 2 << QStringList{"paris"} << "paris" << false;
    QTest::newRow("text, 2: upper") << 7 << 2 << QStringList{"paris"} << "PARIS" << true;
    QTest::newRow("text, -1 acts like 2") << 7 << -1 << QStringList{"Paris"} << "PARIS" << true;
    QTest::newRow("text, second answer")
        << 7 << 0 << QStringList{"Rome", "Paris"} << "Paris" << true;
    QTest::newRow("text, blanks not trimmed")
        << 7 << 1 << QStringList{"Paris"} << "Paris " << false;
    QTest::newRow("text, empty against empty answer")
        << 7 << 0 << QStringList{"", "x"} << "" << true;
    QTest::newRow("text, empty against words") << 7 << 0 << QStringList{"x"} << "" << false;
    QTest::newRow("text, no answers") << 7 << 1 << QStringList{} << "" << false;
    QTest::newRow("text, numbers are text here") << 7 << 0 << QStringList{"1.0"} << "1" << false;

    // A sort order is compared exactly.
    QTest::newRow("sort, exact") << 8 << 0 << QStringList{"ABCD"} << "ABCD" << true;
    QTest::newRow("sort, second answer") << 8 << 0 << QStringList{"ABCD", "BACD"} << "BACD" << true;
    QTest::newRow("sort, case differs") << 8 << 0 << QStringList{"ABCD"} << "abcd" << false;
    QTest::newRow("sort, surrounding blanks") << 8 << 0 << QStringList{"ABCD"} << " ABCD " << false;
    QTest::newRow("sort, other order") << 8 << 0 << QStringList{"ABCD"} << "ABDC" << false;
    QTest::newRow("sort, empty against empty answer") << 8 << 0 << QStringList{""} << "" << true;
    QTest::newRow("sort, empty against order") << 8 << 0 << QStringList{"ABCD"} << "" << false;
    QTest::newRow("sort, no answers") << 8 << 0 << QStringList{} << "" << false;
}

// Typed answers: alphanumeric ones by the question's text comparison, sort orders exactly.
void TestGrading::typedAnswer()
{
    QFETCH(int, type);
    QFETCH(int, textComparison);
    QFETCH(QStringList, answers);
    QFETCH(QString, response);
    QFETCH(bool, correct);

    Fields in = question(type);
    in.answers = answers;
    in.textComparison = textComparison;
    QCOMPARE(grade(in, response), correct);
}

void TestGrading::chosenIndex_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("labelType");
    QTest::addColumn<QString>("response");
    QTest::addColumn<qint64>("index");

    for (int type : {3, 4}) {
        QTest::addRow("%d: Y", type) << type << 0 << "Y" << qint64(0);
        QTest::addRow("%d: T", type) << type << 1 << "T" << qint64(0);
        QTest::addRow("%d: N", type) << type << 0 << "N" << qint64(1);
        QTest::addRow("%d: F", type) << type << 1 << "F" << qint64(1);
        QTest::addRow("%d: X", type) << type << 0 << "X" << qint64(2);
        QTest::addRow("%d: lower n", type) << type << 0 << "n" << qint64(0);
        QTest::addRow("%d: word No", type) << type << 0 << "No" << qint64(0);
        QTest::addRow("%d: empty", type) << type << 0 << "" << qint64(0);
    }
    QTest::newRow("numbered 1") << 1 << 1 << "1" << qint64(0);
    QTest::newRow("numbered 2") << 2 << 1 << "2" << qint64(1);
    QTest::newRow("numbered 0") << 1 << 1 << "0" << qint64(-1);
    QTest::newRow("numbered, not a number") << 1 << 1 << "B" << qint64(-1);
    QTest::newRow("numbered, trailing text") << 1 << 1 << "2a" << qint64(-1);
    QTest::newRow("numbered, negative") << 1 << 1 << "-4" << qint64(-5);
    QTest::newRow("numbered, smallest int")
        << 1 << 1 << "-2147483648" << qint64(std::numeric_limits<int>::min()) - 1;
    QTest::newRow("numbered, too large for int") << 1 << 1 << "99999999999" << qint64(-1);
    QTest::newRow("lettered A") << 1 << 0 << "A" << qint64(0);
    QTest::newRow("lettered b") << 1 << 0 << "b" << qint64(1);
    QTest::newRow("lettered Bravo") << 1 << 2 << "Bravo" << qint64(1);
    QTest::newRow("lettered @") << 1 << 0 << "@" << qint64(-1);
    QTest::newRow("lettered digit") << 1 << 0 << "2" << qint64('2' - 'A');
    QTest::newRow("lettered empty names nothing") << 1 << 0 << "" << qint64(-1);
    QTest::newRow("other type, lettered") << 12 << -1 << "c" << qint64(2);
}

// The chosen index shows in the verdict: right when only that option is flagged, wrong when
// every other one is. An index that names no option is wrong even with every option flagged.
void TestGrading::chosenIndex()
{
    QFETCH(int, type);
    QFETCH(int, labelType);
    QFETCH(QString, response);
    QFETCH(qint64, index);

    Fields in = question(type);
    in.labelType = labelType;
    if (index < 0) {
        in.optionCorrect = Flags(4, true);
        QVERIFY(!grade(in, response));
        return;
    }
    in.optionCorrect = Flags(index + 2, false);
    in.optionCorrect[index] = true;
    QVERIFY(grade(in, response));
    for (bool &flag : in.optionCorrect)
        flag = !flag;
    QVERIFY(!grade(in, response));
}

void TestGrading::choice_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("labelType");
    QTest::addColumn<Flags>("options");
    QTest::addColumn<QString>("response");
    QTest::addColumn<bool>("correct");

    const Flags first{true, false, false};
    const Flags second{false, true, false};
    const Flags secondAndThird{false, true, true, false};
    const Flags none{false, false, false, false};

    QTest::newRow("tick: T, first right") << 3 << 0 << first << "T" << true;
    QTest::newRow("tick: Y, first right") << 4 << 0 << first << "Y" << true;
    QTest::newRow("tick: lower y picks the first") << 3 << 0 << first << "y" << true;
    QTest::newRow("tick: Yes picks the first") << 4 << 0 << first << "Yes" << true;
    QTest::newRow("tick: N, first right") << 3 << 0 << first << "N" << false;
    QTest::newRow("tick: F, second right") << 4 << 0 << second << "F" << true;
    QTest::newRow("tick: N, second right") << 3 << 0 << second << "N" << true;
    QTest::newRow("tick: X, third right") << 3 << 0 << Flags{false, false, true} << "X" << true;
    QTest::newRow("tick: X, two options") << 3 << 0 << Flags{false, true} << "X" << false;
    QTest::newRow("tick: label type ignored") << 3 << 1 << second << "N" << true;

    QTest::newRow("numbered: 2, second right") << 1 << 1 << second << "2" << true;
    QTest::newRow("numbered: 1, second right") << 1 << 1 << second << "1" << false;
    QTest::newRow("numbered: 7 of four")
        << 1 << 1 << Flags{false, false, false, true} << "7" << false;
    QTest::newRow("numbered: 0, nothing flagged") << 1 << 1 << none << "0" << false;
    QTest::newRow("numbered: text, nothing flagged") << 1 << 1 << none << "abc" << false;
    QTest::newRow("numbered: blank before digit") << 1 << 1 << second << " 2" << true;

    QTest::newRow("lettered: b, second right") << 2 << 0 << second << "b" << true;
    QTest::newRow("lettered: B, second right") << 2 << 0 << second << "B" << true;
    QTest::newRow("lettered: Bravo, second right") << 2 << 0 << second << "Bravo" << true;
    QTest::newRow("lettered: A, second right") << 2 << 0 << second << "A" << false;
    QTest::newRow("lettered: Z of three") << 5 << 0 << Flags{false, false, true} << "Z" << false;
    QTest::newRow("lettered: @, nothing flagged") << 2 << 0 << none << "@" << false;
    QTest::newRow("lettered: empty") << 2 << 0 << Flags{true} << "" << false;
    QTest::newRow("lettered: no options") << 2 << 0 << Flags{} << "A" << false;

    // Any flagged option is a right answer.
    QTest::newRow("several right: second") << 1 << 0 << secondAndThird << "B" << true;
    QTest::newRow("several right: third") << 1 << 0 << secondAndThird << "C" << true;
    QTest::newRow("several right: first") << 1 << 0 << secondAndThird << "A" << false;
    QTest::newRow("several right: numbered third") << 1 << 1 << secondAndThird << "3" << true;
    for (const char *letter : {"A", "B", "C", "D"})
        QTest::addRow("nothing flagged: %s", letter) << 2 << 0 << none << letter << false;
}

void TestGrading::choice()
{
    QFETCH(int, type);
    QFETCH(int, labelType);
    QFETCH(Flags, options);
    QFETCH(QString, response);
    QFETCH(bool, correct);

    Fields in = question(type);
    in.labelType = labelType;
    in.optionCorrect = options;
    // Answers and tolerance belong to other rules and change nothing here.
    in.answers = QStringList{response};
    in.tolerance = 1e9;
    QString name;
    QCOMPARE(grade(in, response, QString(), &name), correct);
    QCOMPARE(name, QStringLiteral("Tick boxes"));
}

void TestGrading::ruleFollowsTypeName_data()
{
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<bool>("correct");

    // Answer "1.0", response "1", first option flagged, response names the first option as
    // a number: only the numeric rule matches "1" against "1.0", only the choice rule reads 1.
    QTest::newRow("numeric") << "numeric" << true;
    QTest::newRow("equation") << "equation" << true;
    QTest::newRow("unsupported falls to numbers") << "unsupported" << true;
    QTest::newRow("unknown name falls to numbers") << "tick boxes" << true;
    QTest::newRow("sort") << "sort" << false;
    QTest::newRow("alphanumeric") << "alphanumeric" << false;
    QTest::newRow("Tick boxes") << "Tick boxes" << true;
}

void TestGrading::ruleFollowsTypeName()
{
    QFETCH(QString, typeName);
    QFETCH(bool, correct);

    Fields in = question(1);
    in.labelType = 1;
    in.optionCorrect = Flags{true, false};
    in.answers = QStringList{"1.0"};
    const QString response = QStringLiteral("1");
    QCOMPARE(grade(in, response, typeName), correct);

    in.optionCorrect = Flags{false, true};
    const bool choiceRule = typeName == QLatin1String("Tick boxes");
    QCOMPARE(grade(in, response, typeName), correct && !choiceRule);
}

namespace {

// One test instance whose questions each carry the responses graded below.
const char documentJson[] = R"({
  "plexa": 1,
  "testInstances": [ { "kind": 1, "questions": [
    { "id": "num", "type": 6, "answers": ["12", "12.5"], "tolerance": 0.25,
      "responses": [ { "text": "12.2" }, { "text": "13" }, { "text": "abc" } ] },
    { "id": "eq", "type": 10, "answers": ["0"], "tolerance": 0,
      "responses": [ { "text": "abc" }, { "text": "0.001" } ] },
    { "id": "txt", "type": 7, "answers": ["paris"], "textComparison": 2,
      "responses": [ { "text": "paris" }, { "text": "PARIS" } ] },
    { "id": "ord", "type": 8, "answers": ["ABC"],
      "responses": [ { "text": "ABC" }, { "text": "abc" } ] },
    { "id": "tick", "type": 3,
      "options": [ { "label": "Yes" }, { "label": "No", "correct": true } ],
      "responses": [ { "text": "N" }, { "text": "Y" }, { "text": "F" } ] },
    { "id": "numbered", "type": 1, "labelType": 1,
      "options": [ { }, { "correct": true }, { "correct": true }, { } ],
      "responses": [ { "text": "3" }, { "text": "1" }, { "text": "7" }, { "text": "0" } ] },
    { "id": "lettered", "type": 2, "hasCorrectAnswer": true,
      "options": [ { }, { } ],
      "responses": [ { "text": "@" }, { "text": "a" } ] }
  ] } ]
})";

} // namespace

void TestGrading::documentResponses_data()
{
    QTest::addColumn<int>("question");
    QTest::addColumn<int>("response");
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<bool>("correct");

    QTest::newRow("numeric between answers") << 0 << 0 << "numeric" << true;
    QTest::newRow("numeric too far") << 0 << 1 << "numeric" << false;
    QTest::newRow("numeric letters") << 0 << 2 << "numeric" << false;
    QTest::newRow("equation letters read as 0") << 1 << 0 << "equation" << true;
    QTest::newRow("equation off by a little") << 1 << 1 << "equation" << false;
    QTest::newRow("upper-cased answer, lower response") << 2 << 0 << "alphanumeric" << false;
    QTest::newRow("upper-cased answer, upper response") << 2 << 1 << "alphanumeric" << true;
    QTest::newRow("sort exact") << 3 << 0 << "sort" << true;
    QTest::newRow("sort case differs") << 3 << 1 << "sort" << false;
    QTest::newRow("tick N") << 4 << 0 << "Tick boxes" << true;
    QTest::newRow("tick Y") << 4 << 1 << "Tick boxes" << false;
    QTest::newRow("tick F") << 4 << 2 << "Tick boxes" << true;
    QTest::newRow("numbered, third of two right") << 5 << 0 << "Tick boxes" << true;
    QTest::newRow("numbered, first") << 5 << 1 << "Tick boxes" << false;
    QTest::newRow("numbered, past the options") << 5 << 2 << "Tick boxes" << false;
    QTest::newRow("numbered 0") << 5 << 3 << "Tick boxes" << false;
    QTest::newRow("nothing flagged, @") << 6 << 0 << "Tick boxes" << false;
    QTest::newRow("nothing flagged, a") << 6 << 1 << "Tick boxes" << false;
}

void TestGrading::documentResponses()
{
    QFETCH(int, question);
    QFETCH(int, response);
    QFETCH(QString, typeName);
    QFETCH(bool, correct);

    QString error;
    const std::unique_ptr<Zazizi::Plexa> plexa(
        Zazizi::Plexa::fromData(QByteArray(documentJson), &error));
    QVERIFY2(plexa, qPrintable(error));
    Zazizi::Test *test = plexa->testInstanceAt(0);
    QVERIFY(test);
    Zazizi::Question *q = test->questionAt(question);
    QVERIFY(q);
    Zazizi::Response *r = q->responseAt(response);
    QVERIFY(r);

    raZuzezoz engine;
    QCOMPARE(engine.questionTypeName(q), typeName);
    QCOMPARE(engine.gradeResponse(q, r, typeName), correct);
}

void TestGrading::missingQuestionOrResponse()
{
    const std::unique_ptr<Zazizi::Plexa> plexa(Zazizi::Plexa::fromData(QByteArray(documentJson)));
    QVERIFY(plexa);
    Zazizi::Question *q = plexa->testInstanceAt(0)->questionAt(0);
    QVERIFY(q);
    raZuzezoz engine;
    QVERIFY(!engine.gradeResponse(q, nullptr, QStringLiteral("numeric")));
    QVERIFY(!engine.gradeResponse(nullptr, q->responseAt(0), QStringLiteral("numeric")));
    QCOMPARE(engine.questionTypeName(nullptr), QStringLiteral("unsupported"));
}

namespace {

// Equal down to the bit, so that 0 and -0, or two different results that compare close, differ.
bool sameDouble(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

QString describe(const QString &text)
{
    return QStringLiteral("text \"%1\" (%2 characters)").arg(text).arg(text.size());
}

// A random text from `alphabet`, up to `longest` characters long.
QString randomText(QRandomGenerator &random, const QString &alphabet, int longest)
{
    const int size = random.bounded(longest + 1);
    QString text;
    text.reserve(size);
    for (int i = 0; i < size; ++i)
        text.append(alphabet.at(random.bounded(int(alphabet.size()))));
    return text;
}

} // namespace

void TestGrading::numberValue_data()
{
    QTest::addColumn<QStringList>("texts");

    const char *const plain[] = {"0",
                                 "-0",
                                 "-0.0",
                                 "-00.000",
                                 "0.0",
                                 "7",
                                 "42",
                                 "12.5",
                                 "-3.25",
                                 "007",
                                 "00.50",
                                 "0.1",
                                 "0.30000000000000004",
                                 "9007199254740993",
                                 "1.7976931348623157",
                                 "123456789012345678901234",
                                 "-12345678901234567890123",
                                 "0.00000000000000000000001",
                                 "99999999999999999999999.9"};
    for (const char *text : plain)
        QTest::addRow("plain %s", text) << QStringList{QString::fromLatin1(text)};

    // Everything else that Qt reads, or refuses, in its own way.
    const char *const other[] = {"",
                                 "-",
                                 ".",
                                 "-.",
                                 "1.",
                                 ".5",
                                 "-.5",
                                 "+1",
                                 " 1",
                                 "1 ",
                                 "\t2\n",
                                 "1e3",
                                 "1E-3",
                                 "-1e+2",
                                 "1e400",
                                 "-1e400",
                                 "1e-400",
                                 "inf",
                                 "-inf",
                                 "+inf",
                                 "INF",
                                 "infinity",
                                 "nan",
                                 "NaN",
                                 "-nan",
                                 "1,5",
                                 "1,000",
                                 "1_000",
                                 "0x10",
                                 "12.5.1",
                                 "--1",
                                 "1-",
                                 "abc",
                                 "12a",
                                 "1 2",
                                 "1234567890123456789012345",
                                 "-123456789012345678901234",
                                 "1234567890123456789012345678901234567890",
                                 "0.000000000000000000000001"};
    for (const char *text : other)
        QTest::addRow("other \"%s\"", text) << QStringList{QString::fromLatin1(text)};
    QTest::newRow("arabic-indic digits") << QStringList{QStringLiteral("\u0661\u0662")};
    QTest::newRow("fullwidth digits") << QStringList{QStringLiteral("\uff11\uff12")};
    QTest::newRow("minus sign") << QStringList{QStringLiteral("\u22121")};
    QTest::newRow("non-ASCII after digits") << QStringList{QStringLiteral("12\u00e9")};

    // Many random texts made mostly of what numbers are written with.
    QRandomGenerator random(20260302);
    const QString numberish = QStringLiteral("0123456789012345678901234567890123456789..--+e ");
    const QString anything = QStringLiteral("0123456789.-+eEinfaINFAx, \t\u00e9\u0661\uff11");
    QStringList texts;
    for (int i = 0; i < 200000; ++i) {
        texts.append(i % 4 == 0 ? randomText(random, anything, 12)
                                : randomText(random, numberish, i % 2 ? 8 : 30));
    }
    QTest::newRow("random texts") << texts;
    // Plain decimals of every length around the limit of the quick road.
    texts.clear();
    for (int i = 0; i < 100000; ++i) {
        QString text = i % 3 ? QString() : QStringLiteral("-");
        const int digits = 1 + random.bounded(28);
        for (int d = 0; d < digits; ++d)
            text.append(QLatin1Char(char('0' + random.bounded(10))));
        if (i % 2) {
            text.append(QLatin1Char('.'));
            const int decimals = 1 + random.bounded(10);
            for (int d = 0; d < decimals; ++d)
                text.append(QLatin1Char(char('0' + random.bounded(10))));
        }
        texts.append(text);
    }
    QTest::newRow("random plain decimals") << texts;
}

// The quick road and Qt must never disagree, not even on the sign of a zero.
void TestGrading::numberValue()
{
    QFETCH(QStringList, texts);
    for (const QString &text : std::as_const(texts)) {
        const double value = ::numberValue(text);
        const double expected = text.toDouble();
        if (!sameDouble(value, expected)) {
            QFAIL(qPrintable(describe(text) + QStringLiteral(": %1 instead of %2")
                                                  .arg(value, 0, 'g', 17)
                                                  .arg(expected, 0, 'g', 17)));
        }
    }
}

void TestGrading::integerValue_data()
{
    QTest::addColumn<QStringList>("texts");

    const char *const texts[] = {
        "",           "0",          "-0",          "1",           "-1",
        "007",        "123456789",  "-123456789",  "999999999",   "1234567890",
        "2147483647", "2147483648", "-2147483648", "-2147483649", "99999999999",
        "+5",         " 5",         "5 ",          "-",           "--5",
        "5-",         "1.0",        "1e3",         "0x10",        "abc",
        "2a"};
    for (const char *text : texts)
        QTest::addRow("\"%s\"", text) << QStringList{QString::fromLatin1(text)};
    QTest::newRow("arabic-indic digits") << QStringList{QStringLiteral("\u0661\u0662")};
    QTest::newRow("fullwidth digits") << QStringList{QStringLiteral("\uff11\uff12")};

    QRandomGenerator random(20260303);
    const QString alphabet = QStringLiteral("01234567890123456789--+ .a\u0661");
    QStringList sweep;
    for (int i = 0; i < 200000; ++i)
        sweep.append(randomText(random, alphabet, i % 2 ? 4 : 12));
    QTest::newRow("random texts") << sweep;
}

void TestGrading::integerValue()
{
    QFETCH(QStringList, texts);
    for (const QString &text : std::as_const(texts)) {
        if (::integerValue(text) != text.toInt())
            QFAIL(qPrintable(
                describe(text) +
                QStringLiteral(": %1 instead of %2").arg(::integerValue(text)).arg(text.toInt())));
    }
}

namespace {

// Texts whose upper case is plain ASCII and texts whose upper case is not, with first letters
// on both sides of A to Z, characters that upper-case to several and ones outside the BMP.
const QStringList upperCaseTexts{
    "",        "0",       "1",       "2",      "-1",         "12",          "12.5",
    "1e1",     " 3",      "+2",      "007",    "a",          "b",           "B",
    "Bravo",   "z",       "@",       "`",      "{",          "Y",           "T",
    "N",       "F",       "X",       "y",      "Yes",        "paris",       "Paris",
    "PARIS",   "ABCD",    "abcd",    "inf",    "nan",        "\u00e4",      "\u00df",
    "\u01c6x", "\ufb00",  "\u0131",  "\u03c2", "\U0001d400", "\u0661",      "\uff21",
    "PARIs",   "pARIS",   "Pari",    "Parisx", "STRASSE",    "stra\u00dfe", "Stra\u00dfe",
    "\u00c4",  "\u00e4x", "\u00c4X", "a1b",    "A1B",        "\U00010428",  "\u00ff"};

void addUpperCaseRows()
{
    QTest::addColumn<QString>("text");
    for (const QString &text : upperCaseTexts)
        QTest::addRow("\"%s\"", qPrintable(text)) << text;
}

} // namespace

void TestGrading::firstUpperCased_data()
{
    addUpperCaseRows();
}

void TestGrading::firstUpperCased()
{
    QFETCH(QString, text);
    const QString upper = text.toUpper();
    QCOMPARE(::firstUpperCased(text), upper.isEmpty() ? qint64(-1) : qint64(upper.at(0).unicode()));
}

void TestGrading::containsUpperCased_data()
{
    addUpperCaseRows();
}

// Against every text of the table as one answer, upper-cased and as written, and against all.
void TestGrading::containsUpperCased()
{
    QFETCH(QString, text);
    const QString upper = text.toUpper();
    QStringList all;
    for (const QString &other : upperCaseTexts) {
        for (const QString &answer : {other.toUpper(), other}) {
            all.append(answer);
            QVERIFY2(::containsUpperCased({answer}, text) == (answer == upper),
                     qPrintable(QStringLiteral("answer \"%1\"").arg(answer)));
        }
    }
    QCOMPARE(::containsUpperCased(all, text), all.contains(upper));
    QVERIFY(!::containsUpperCased({}, text));
}

QTEST_GUILESS_MAIN(TestGrading)
#include "tst_grading.moc"
