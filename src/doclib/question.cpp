#include <roruri1/question.h>

#include "documentstore_p.h"
#include "members_p.h"

namespace Zazizi {

namespace {

const QuestionDetails *detailsOf(const DocumentStore &store, std::uint32_t details)
{
    return details ? &store.questionDetails[details - 1] : nullptr;
}

} // namespace

QString Question::id() const
{
    return Blocks::storeOf(this).text(m_id);
}

QString Question::text() const
{
    return Blocks::storeOf(this).text(m_text);
}

QStringList Question::answerList() const
{
    const DocumentStore &store = Blocks::storeOf(this);
    const QuestionDetails *details = detailsOf(store, m_details);
    return details ? store.texts(details->answers) : QStringList();
}

QList<Question::Option> Question::options() const
{
    const DocumentStore &store = Blocks::storeOf(this);
    const QuestionDetails *details = detailsOf(store, m_details);
    QList<Option> options;
    if (!details || !details->options)
        return options;
    store.value(details->options).forEachElement([&](Json::Value object) {
        Option option;
        object.forEachMember([&](std::string_view name, Json::Value value) {
            switch (OptionMembers.find(name)) {
            case OptionMember::Label:
                option.label = value.toString();
                break;
            case OptionMember::Correct:
                option.correct = value.isTrue();
                break;
            default:
                break;
            }
        });
        options.append(option);
    });
    return options;
}

int Question::labelType() const
{
    const QuestionDetails *details = detailsOf(Blocks::storeOf(this), m_details);
    return details ? details->labelType : 0;
}

int Question::textComparison() const
{
    const QuestionDetails *details = detailsOf(Blocks::storeOf(this), m_details);
    return details ? details->textComparison : 0;
}

double Question::tolerance() const
{
    const QuestionDetails *details = detailsOf(Blocks::storeOf(this), m_details);
    return details ? details->tolerance : 0.0;
}

Response *Question::responseAt(int i) const
{
    if (i < 0 || std::uint32_t(i) >= m_responseCount)
        return nullptr;
    Response &response = Blocks::storeOf(this).responses[m_firstResponse + std::size_t(i)];
    return response.m_offset ? &response : nullptr;
}

} // namespace Zazizi
