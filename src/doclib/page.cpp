#include <roruri1/page.h>

namespace Zazizi {

Page::Page(Test *test, QStringList keywords) : m_test(test), m_keywords(std::move(keywords)) {}

Page::~Page() = default;

Test *Page::test() const
{
    return m_test;
}

QStringList Page::keywords() const
{
    return m_keywords;
}

} // namespace Zazizi
