#include "test.h"

#include "question.h"
#include "response.h"
#include "store_p.h"

#include <new>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace Zazizi {

Test::Test(QObject *parent) : QObject(parent) {}

Test::~Test() = default;

int Test::kind() const
{
    return m_kind;
}

QString Test::startedOn() const
{
    return m_startedOn;
}

int Test::questionCount() const
{
    return m_questionCount;
}

Question *Test::questionAt(int i) const
{
    if (i < 0 || i >= m_questionCount)
        return nullptr;
    return m_questions[i];
}

SelfPacedTest::SelfPacedTest(QObject *parent) : Test(parent) {}

SelfPacedTest::~SelfPacedTest() = default;

QString SelfPacedTest::title() const
{
    return m_title;
}

InstructorPacedTest::InstructorPacedTest(QObject *parent) : Test(parent) {}

InstructorPacedTest::~InstructorPacedTest() = default;

DocumentStore::ResponseTable::~ResponseTable()
{
    for (Response *block : m_blocks)
        ::operator delete(block, std::align_val_t(BlockBytes));
}

void DocumentStore::ResponseTable::addBlock()
{
    void *memory = ::operator new(BlockBytes, std::align_val_t(BlockBytes));
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    // Not for the first block: a small document should not cost a whole large page.
    if (!m_blocks.empty())
        madvise(memory, BlockBytes, MADV_HUGEPAGE);
#endif
    m_blocks.push_back(static_cast<Response *>(memory));
}

Response *Question::responseAt(int i) const
{
    if (i < 0 || i >= m_responseCount)
        return nullptr;
    const auto &responses = m_store->responses;
    if (m_firstSlot < 0)
        return &responses[m_firstResponse + std::size_t(i)];
    const std::uint32_t index = m_store->responseSlots[std::size_t(m_firstSlot) + std::size_t(i)];
    return index == DocumentStore::NoResponse ? nullptr : &responses[index];
}

QString Response::string(Span span) const
{
    return QString::fromUtf8(m_store->data() + span.offset, qsizetype(span.size));
}

QString Response::text() const
{
    return string(m_text);
}

QString Response::studentId() const
{
    return string(m_studentId);
}

QString Response::studentName() const
{
    return string(m_studentName);
}

QString Response::label() const
{
    return string(m_label);
}

int Response::startTime() const
{
    return m_startTime;
}

} // namespace Zazizi
