#include <roruri1/test.h>

#include "documentstore_p.h"

namespace Zazizi {

Test::Test(QObject *parent) : QObject(parent) {}

Test::~Test() = default;

int Test::kind() const
{
    return m_kind;
}

QString Test::startedOn() const
{
    return m_store ? m_store->text(m_startedOn) : QString();
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

} // namespace Zazizi
