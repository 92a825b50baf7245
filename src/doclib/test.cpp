#include "test.h"

#include "jsontext_p.h"
#include "question.h"
#include "response.h"
#include "store_p.h"

#include <atomic>
#include <cstring>
#include <new>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#endif

namespace Zazizi {

namespace {

QString textAt(const DocumentStore &store, std::uint32_t offset)
{
    return offset ? Json::decodeString(store.data() + offset) : QString();
}

QStringList textsAt(const DocumentStore &store, std::uint32_t offset)
{
    QStringList texts;
    if (offset) {
        Json::forEachElement(store.data() + offset, [&](const char *value) {
            texts.append(Json::decodeString(value));
            return Json::stringEnd(value);
        });
    }
    return texts;
}

const QuestionDetails *detailsOf(const DocumentStore &store, std::uint32_t details)
{
    return details ? &store.questionDetails[details - 1] : nullptr;
}

std::atomic<std::uint64_t> lastSerial{0};

} // namespace

void *Blocks::allocate()
{
#ifdef Q_OS_UNIX
    // Twice the size mapped and the ends given back: aligned without holding (or counting
    // against an address-space limit) more than the block itself.
    const std::size_t span = 2 * Bytes;
    void *mapped =
        ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = quintptr(mapped);
    const auto block = (start + Bytes - 1) & ~quintptr(Bytes - 1);
    if (block > start)
        ::munmap(mapped, block - start);
    if (const std::size_t tail = start + span - (block + Bytes))
        ::munmap(reinterpret_cast<void *>(block + Bytes), tail);
    return reinterpret_cast<void *>(block);
#else
    return ::operator new(Bytes, std::align_val_t(Bytes));
#endif
}

void Blocks::release(void *block)
{
#ifdef Q_OS_UNIX
    ::munmap(block, Bytes);
#else
    ::operator delete(block, std::align_val_t(Bytes));
#endif
}

DocumentStore::DocumentStore(QByteArray buffer, qsizetype size)
    : m_buffer(std::move(buffer)), m_data(m_buffer.constData()), m_size(size),
      m_serial(++lastSerial)
{
}

DocumentStore::~DocumentStore() = default;

Test::Test(QObject *parent) : QObject(parent) {}

Test::~Test() = default;

int Test::kind() const
{
    return m_kind;
}

QString Test::startedOn() const
{
    return m_store ? textAt(*m_store, m_startedOn) : QString();
}

int Test::questionCount() const
{
    return m_questionCount;
}

Question *Test::questionAt(int i) const
{
    if (i < 0 || i >= m_questionCount)
        return nullptr;
    const std::size_t index = m_firstQuestion + std::size_t(i);
    if (!m_slotted)
        return &m_store->questions[index];
    const std::uint32_t slot = m_store->questionSlots[index];
    return slot ? &m_store->questions[slot - 1] : nullptr;
}

SelfPacedTest::SelfPacedTest(QObject *parent) : Test(parent) {}

SelfPacedTest::~SelfPacedTest() = default;

QString SelfPacedTest::title() const
{
    return m_store ? textAt(*m_store, m_title) : QString();
}

InstructorPacedTest::InstructorPacedTest(QObject *parent) : Test(parent) {}

InstructorPacedTest::~InstructorPacedTest() = default;

QString Question::id() const
{
    return textAt(Blocks::storeOf(this), m_id);
}

QString Question::text() const
{
    return textAt(Blocks::storeOf(this), m_text);
}

QStringList Question::answerList() const
{
    const DocumentStore &store = Blocks::storeOf(this);
    const QuestionDetails *details = detailsOf(store, m_details);
    return details ? textsAt(store, details->answers) : QStringList();
}

QList<Question::Option> Question::options() const
{
    static constexpr std::string_view Members[] = {"label", "correct"};
    const DocumentStore &store = Blocks::storeOf(this);
    const QuestionDetails *details = detailsOf(store, m_details);
    QList<Option> options;
    if (!details || !details->options)
        return options;
    Json::forEachElement(store.data() + details->options, [&](const char *object) {
        Option option;
        Json::forEachMember(object, [&](std::string_view name, const char *value) {
            switch (Json::memberIndex(name, Members)) {
            case 0:
                option.label = Json::decodeString(value);
                return Json::stringEnd(value);
            case 1:
                option.correct = *value == 't';
                return static_cast<const char *>(nullptr);
            default:
                return static_cast<const char *>(nullptr);
            }
        });
        options.append(option);
        return static_cast<const char *>(nullptr);
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

namespace {

// A text member of a response: where it opens, and its length when it is plain ASCII (it is
// then built without a second scan).
struct FieldText
{
    std::uint32_t offset = 0;
    std::int32_t plainLength = -1;
};

// Where the members of one response are. Callers ask a response for several members in a
// row, so the last response scanned is remembered, per thread (const access stays safe from
// several threads), and keyed by its document's serial and its offset: another response, or
// one of a document freed since, never matches.
struct ResponseFields
{
    std::uint64_t serial = 0;
    std::uint32_t offset = 0;
    int startTime = 0;
    FieldText texts[4]; // text, studentId, studentName, label
};

thread_local ResponseFields lastResponse;

const ResponseFields &fieldsOf(const DocumentStore &store, std::uint32_t offset)
{
    ResponseFields &fields = lastResponse;
    if (fields.serial == store.serial() && fields.offset == offset)
        return fields;

    fields = ResponseFields();
    const char *const data = store.data();
    Json::forEachMember(data + offset, [&](std::string_view name, const char *value) {
        const int member = Json::responseMemberIndex(name);
        if (member < 0)
            return static_cast<const char *>(nullptr);
        if (member == 4) {
            fields.startTime = Json::readInt(value);
            return value;
        }
        FieldText &text = fields.texts[member];
        text.offset = std::uint32_t(value - data);
        const char *end = Json::findSpecial(value + 1);
        if (*end == '"') {
            text.plainLength = std::int32_t(end - value - 1);
            return end + 1;
        }
        return Json::stringEnd(value);
    });
    // Set last: a scan cut short by an exception leaves no entry behind.
    fields.serial = store.serial();
    fields.offset = offset;
    return fields;
}

QString responseText(const Response *response, std::uint32_t offset, int member)
{
    const DocumentStore &store = Blocks::storeOf(response);
    const FieldText &text = fieldsOf(store, offset).texts[member];
    if (text.plainLength >= 0)
        return QString::fromLatin1(store.data() + text.offset + 1, text.plainLength);
    return textAt(store, text.offset);
}

} // namespace

QString Response::text() const
{
    return responseText(this, m_offset, 0);
}

QString Response::studentId() const
{
    return responseText(this, m_offset, 1);
}

QString Response::studentName() const
{
    return responseText(this, m_offset, 2);
}

QString Response::label() const
{
    return responseText(this, m_offset, 3);
}

int Response::startTime() const
{
    const DocumentStore &store = Blocks::storeOf(this);
    return fieldsOf(store, m_offset).startTime;
}

} // namespace Zazizi
