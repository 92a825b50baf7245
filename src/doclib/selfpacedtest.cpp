#include <roruri1/test.h>

#include "documentstore_p.h"

namespace Zazizi {

SelfPacedTest::SelfPacedTest(QObject *parent) : Test(parent) {}

SelfPacedTest::~SelfPacedTest() = default;

QString SelfPacedTest::title() const
{
    return m_store ? m_store->text(m_title) : QString();
}

} // namespace Zazizi
