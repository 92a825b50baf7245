#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace Zazizi {

class DocumentStore;
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

// An open Plexa document. The caller of openPlexa owns it and deletes it.
class Plexa
{
public:
    virtual ~Plexa();

    // Null when the file cannot be opened; one warning on the diagnostic output then names
    // the file and the reason. A document is also refused when it would need more memory
    // than the process can get, or when its objects would cost far more than its size.
    static Plexa *openPlexa(const QString &path);
    // The same reader on bytes already in memory. On failure returns null and, when
    // `error` is given, stores the reason there instead of writing a warning.
    static Plexa *fromData(QByteArray data, QString *error = nullptr);

    int pageCount() const;
    // A new page object that the caller deletes; null for a `null` element or an index out
    // of range.
    Page *pageAt(int i) const;

    int testInstanceCount() const;
    // Belongs to the document; null for a `null` element or an index out of range. Test
    // instances without questions that deliver the same may be one object.
    Test *testInstanceAt(int i) const;

    QString title() const;

private:
    explicit Plexa(std::unique_ptr<DocumentStore> store);
    std::unique_ptr<DocumentStore> m_store;
};

} // namespace Zazizi
