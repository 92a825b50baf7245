// Arbitrary bytes as a Plexa document: the reader must refuse them with a reason or deliver a
// document whose every object can be walked. The library finds texts again in the file's
// bytes when they are asked for: two documents opened from the same bytes are walked side by
// side and must agree on every value however their reads interleave, every text must be
// whole UTF-16, and the texts must be those Qt's own JSON parser reads from the same bytes.

#include <roruri1/plexa.h>
#include <roruri1/question.h>
#include <roruri1/response.h>
#include <roruri1/test.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// A text is whole: no half of a surrogate pair (the reader refuses those).
void checkText(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            check(i + 1 < text.size() && text.at(i + 1).isLowSurrogate());
            ++i;
        } else {
            check(!c.isLowSurrogate());
        }
    }
}

void same(const QString &a, const QString &b)
{
    checkText(a);
    check(a == b);
}

// `expected` is the member of Qt's reading: absent or not a string reads as empty.
void sameAsQt(const QString &text, const QJsonValue &expected)
{
    check(text == (expected.isString() ? expected.toString() : QString()));
}

void walkResponses(const Zazizi::Question *a, const Zazizi::Question *b, const QJsonArray *json)
{
    const int count = a->responseCount();
    check(count >= 0 && count == b->responseCount());
    check(!json || json->size() == count);
    check(!a->responseAt(-1) && !a->responseAt(count));
    for (int j = 0; j < count; ++j) {
        const Zazizi::Response *ra = a->responseAt(j);
        const Zazizi::Response *rb = b->responseAt(j);
        check(!ra == !rb);
        if (json)
            check(!ra == json->at(j).isNull());
        if (!ra)
            continue;
        // Another response of the same question read in between, in another order.
        const Zazizi::Response *other = a->responseAt(count - 1 - j);
        const QString label = ra->label();
        same(ra->text(), rb->text());
        if (other)
            checkText(other->studentName());
        same(label, rb->label());
        same(rb->studentId(), ra->studentId());
        check(ra->startTime() == rb->startTime());
        same(ra->studentName(), rb->studentName());
        if (json) {
            const QJsonObject object = json->at(j).toObject();
            sameAsQt(ra->text(), object.value(QLatin1String("text")));
            sameAsQt(ra->studentId(), object.value(QLatin1String("studentId")));
            sameAsQt(ra->studentName(), object.value(QLatin1String("studentName")));
            sameAsQt(label, object.value(QLatin1String("label")));
            check(ra->startTime() == object.value(QLatin1String("startTime")).toInt());
        }
    }
}

void walkTest(const Zazizi::Test *a, const Zazizi::Test *b, const QJsonValue *json)
{
    check(!a == !b);
    if (!a)
        return;
    check(a->kind() == b->kind());
    same(a->startedOn(), b->startedOn());
    const QJsonObject object = json ? json->toObject() : QJsonObject();
    if (json)
        sameAsQt(a->startedOn(), object.value(QLatin1String("startedOn")));
    auto *selfPacedA = qobject_cast<const Zazizi::SelfPacedTest *>(a);
    auto *selfPacedB = qobject_cast<const Zazizi::SelfPacedTest *>(b);
    check(!selfPacedA == !selfPacedB);
    if (selfPacedA) {
        same(selfPacedA->title(), selfPacedB->title());
        if (json)
            sameAsQt(selfPacedA->title(), object.value(QLatin1String("title")));
    }
    const int questionCount = a->questionCount();
    check(questionCount >= 0 && questionCount == b->questionCount());
    check(!a->questionAt(-1) && !a->questionAt(questionCount));
    const QJsonArray questions = object.value(QLatin1String("questions")).toArray();
    if (json)
        check(questions.size() == questionCount);
    for (int i = 0; i < questionCount; ++i) {
        const Zazizi::Question *qa = a->questionAt(i);
        const Zazizi::Question *qb = b->questionAt(i);
        check(!qa == !qb);
        if (!qa)
            continue;
        same(qa->id(), qb->id());
        same(qa->text(), qb->text());
        check(qa->type() == qb->type() && qa->hasCorrectAnswer() == qb->hasCorrectAnswer());
        const QStringList answers = qa->answerList();
        check(answers == qb->answerList());
        for (const QString &answer : answers)
            checkText(answer);
        const QList<Zazizi::Question::Option> options = qa->options();
        const QList<Zazizi::Question::Option> optionsB = qb->options();
        check(options.size() == optionsB.size());
        for (qsizetype k = 0; k < options.size(); ++k) {
            same(options.at(k).label, optionsB.at(k).label);
            check(options.at(k).correct == optionsB.at(k).correct);
        }
        check(qa->labelType() == qb->labelType() && qa->textComparison() == qb->textComparison());
        const double tolerance = qa->tolerance();
        check(tolerance == qb->tolerance() || (tolerance != tolerance));
        if (json) {
            const QJsonObject question = questions.at(i).toObject();
            sameAsQt(qa->id(), question.value(QLatin1String("id")));
            sameAsQt(qa->text(), question.value(QLatin1String("text")));
            const QJsonArray responses = question.value(QLatin1String("responses")).toArray();
            walkResponses(qa, qb, &responses);
        } else {
            walkResponses(qa, qb, nullptr);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    std::unique_ptr<Zazizi::Plexa> a(Zazizi::Plexa::fromData(bytes, &error));
    if (!a) {
        // A refusal always says why.
        check(!error.isEmpty());
        return 0;
    }
    check(error.isEmpty());
    std::unique_ptr<Zazizi::Plexa> b(Zazizi::Plexa::fromData(bytes, &error));
    check(b != nullptr);

    // Qt's parser reads what the document's checks accepted; where it does not, there is
    // nothing to compare with. It drops a byte-order mark written as raw UTF-8 at the start
    // of a string (the library keeps it), so such documents are not compared either.
    QJsonParseError parsed;
    const QJsonDocument qt = QJsonDocument::fromJson(bytes, &parsed);
    const bool compare = parsed.error == QJsonParseError::NoError && qt.isObject() &&
                         !bytes.contains("\xEF\xBB\xBF");
    const QJsonObject root = qt.object();

    same(a->title(), b->title());
    if (compare)
        sameAsQt(a->title(), root.value(QLatin1String("title")));
    const int pageCount = a->pageCount();
    check(pageCount == b->pageCount());
    for (int i = -1; i <= pageCount; ++i) {
        std::unique_ptr<Zazizi::Page> pa(a->pageAt(i));
        std::unique_ptr<Zazizi::Page> pb(b->pageAt(i));
        check(!pa == !pb);
        check(!((i < 0 || i == pageCount) && pa));
        if (!pa)
            continue;
        const QStringList keywords = pa->keywords();
        check(keywords == pb->keywords());
        for (const QString &keyword : keywords)
            checkText(keyword);
        const QJsonValue page = root.value(QLatin1String("pages")).toArray().at(i);
        if (compare) {
            const QJsonArray expected = page.toObject().value(QLatin1String("keywords")).toArray();
            check(expected.size() == keywords.size());
            for (qsizetype k = 0; k < keywords.size(); ++k)
                sameAsQt(keywords.at(k), expected.at(k));
        }
        const QJsonValue test = page.toObject().value(QLatin1String("test"));
        walkTest(pa->test(), pb->test(), compare ? &test : nullptr);
    }
    const int instanceCount = a->testInstanceCount();
    check(instanceCount == b->testInstanceCount());
    const QJsonArray instances = root.value(QLatin1String("testInstances")).toArray();
    for (int i = -1; i <= instanceCount; ++i) {
        const Zazizi::Test *instance = a->testInstanceAt(i);
        check(!((i < 0 || i == instanceCount) && instance));
        const QJsonValue json = instances.at(i);
        walkTest(instance, b->testInstanceAt(i), compare && i >= 0 ? &json : nullptr);
    }
    return 0;
}
