#include <roruri1/response.h>

#include "documentstore_p.h"
#include "members_p.h"

namespace Zazizi {

namespace {

constexpr std::size_t TextMembers = std::size_t(ResponseMember::StartTime);
static_assert(std::size_t(ResponseMember::Text) < TextMembers &&
              std::size_t(ResponseMember::StudentId) < TextMembers &&
              std::size_t(ResponseMember::StudentName) < TextMembers &&
              std::size_t(ResponseMember::Label) < TextMembers);

// Where the members of one response are. Callers ask a response for several members in a
// row, so the last response scanned is remembered, per thread (const access stays safe from
// several threads), and keyed by its document's serial and its offset: another response, or
// one of a document freed since, never matches.
struct ResponseFields
{
    std::uint64_t serial = 0;
    std::uint32_t offset = 0;
    int startTime = 0;
    // Offsets of the text members, by member number; 0: absent.
    std::uint32_t texts[TextMembers] = {};
};

thread_local ResponseFields lastResponse;

const ResponseFields &fieldsOf(const DocumentStore &store, std::uint32_t offset)
{
    ResponseFields &fields = lastResponse;
    if (fields.serial == store.serial() && fields.offset == offset)
        return fields;

    fields = ResponseFields();
    store.value(offset).forEachMember([&](std::string_view name, Json::Value value) {
        const ResponseMember member = ResponseMembers.find(name);
        if (member == ResponseMember::StartTime)
            fields.startTime = value.toInt();
        else if (member != ResponseMember::Unknown)
            fields.texts[std::size_t(member)] = std::uint32_t(value.begin() - store.data());
    });
    // Set last: a scan cut short by an exception leaves no entry behind.
    fields.serial = store.serial();
    fields.offset = offset;
    return fields;
}

QString responseText(const Response *response, std::uint32_t offset, ResponseMember member)
{
    const DocumentStore &store = Blocks::storeOf(response);
    return store.text(fieldsOf(store, offset).texts[std::size_t(member)]);
}

} // namespace

QString Response::text() const
{
    return responseText(this, m_offset, ResponseMember::Text);
}

QString Response::studentId() const
{
    return responseText(this, m_offset, ResponseMember::StudentId);
}

QString Response::studentName() const
{
    return responseText(this, m_offset, ResponseMember::StudentName);
}

QString Response::label() const
{
    return responseText(this, m_offset, ResponseMember::Label);
}

int Response::startTime() const
{
    const DocumentStore &store = Blocks::storeOf(this);
    return fieldsOf(store, m_offset).startTime;
}

} // namespace Zazizi
