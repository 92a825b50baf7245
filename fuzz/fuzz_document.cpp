// Arbitrary bytes as a Plexa document: the reader must refuse them with a reason or deliver a
// document whose every object can be walked.

#include <plexa.h>
#include <question.h>
#include <response.h>
#include <test.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// Touches every text so that a span out of its buffer shows up under ASan.
std::size_t touch(const QString &text)
{
    std::size_t sum = std::size_t(text.size());
    for (const QChar c : text)
        sum += c.unicode();
    return sum;
}

std::size_t walkTest(const Zazizi::Test *test)
{
    if (!test)
        return 0;
    std::size_t sum = std::size_t(test->kind()) + touch(test->startedOn());
    if (auto *selfPaced = qobject_cast<const Zazizi::SelfPacedTest *>(test))
        sum += touch(selfPaced->title());
    const int questionCount = test->questionCount();
    if (questionCount < 0)
        std::abort();
    for (int i = -1; i <= questionCount; ++i) {
        const Zazizi::Question *question = test->questionAt(i);
        if ((i < 0 || i == questionCount) && question)
            std::abort();
        if (!question)
            continue;
        sum += touch(question->id()) + touch(question->text()) + std::size_t(question->type());
        sum += question->hasCorrectAnswer() ? 1 : 0;
        for (const QString &answer : question->answerList())
            sum += touch(answer);
        for (const Zazizi::Question::Option &option : question->options())
            sum += touch(option.label) + (option.correct ? 1 : 0);
        sum += std::size_t(question->labelType() + question->textComparison());
        sum += std::size_t(question->tolerance() == question->tolerance());
        const int responseCount = question->responseCount();
        if (responseCount < 0)
            std::abort();
        for (int j = -1; j <= responseCount; ++j) {
            const Zazizi::Response *response = question->responseAt(j);
            if ((j < 0 || j == responseCount) && response)
                std::abort();
            if (!response)
                continue;
            sum += touch(response->text()) + touch(response->studentId());
            sum += touch(response->studentName()) + touch(response->label());
            sum += std::size_t(response->startTime());
        }
    }
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QString error;
    std::unique_ptr<Zazizi::Plexa> plexa(Zazizi::Plexa::fromData(
        QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), &error));
    if (!plexa) {
        // A refusal always says why.
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    if (!error.isEmpty())
        std::abort();

    volatile std::size_t sum = touch(plexa->title());
    const int pageCount = plexa->pageCount();
    for (int i = -1; i <= pageCount; ++i) {
        std::unique_ptr<Zazizi::Page> page(plexa->pageAt(i));
        if ((i < 0 || i == pageCount) && page)
            std::abort();
        if (!page)
            continue;
        for (const QString &keyword : page->keywords())
            sum = sum + touch(keyword);
        sum = sum + walkTest(page->test());
    }
    const int instanceCount = plexa->testInstanceCount();
    for (int i = -1; i <= instanceCount; ++i) {
        const Zazizi::Test *instance = plexa->testInstanceAt(i);
        if ((i < 0 || i == instanceCount) && instance)
            std::abort();
        sum = sum + walkTest(instance);
    }
    return 0;
}
