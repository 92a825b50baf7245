#pragma once

#include <QStringList>

namespace Zazizi {

class Test;

// A page of the lesson. Pages returned by Plexa::pageAt belong to the caller.
class Page
{
public:
    virtual ~Page();

    // Null when the page carries no test. The test belongs to the document.
    Test *test() const;
    QStringList keywords() const;

private:
    friend class Plexa;
    Page(Test *test, QStringList keywords);

    Test *m_test;
    QStringList m_keywords;
};

} // namespace Zazizi
