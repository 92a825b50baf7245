#pragma once

#include "page.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace Zazizi {

class DocumentStore;
class Test;

// An open Plexa document. The caller of openPlexa owns it and deletes it.
class Plexa
{
public:
    virtual ~Plexa();

    // Null when the file cannot be opened; one warning on the diagnostic output then names
    // the file and the reason. A document is also refused when it would need more memory
    // than the process can get, or when its objects would cost far more than its size.
    static Plexa *openPlexa(const QString &path);
    // The same, but on failure the reason is stored in `error` (when given) instead of
    // being written as a warning: for a caller that reports it in its own way.
    static Plexa *openPlexa(const QString &path, QString *error);
    // The same reader on bytes already in memory. On failure returns null and, when
    // `error` is given, stores the reason there.
    static Plexa *fromData(QByteArray data, QString *error = nullptr);

    int pageCount() const;
    // A new page object that the caller deletes; null for a `null` element or an index out
    // of range.
    Page *pageAt(int i) const;

    int testInstanceCount() const;
    // Belongs to the document; null for a `null` element or an index out of range. Each
    // element of the document is an object of its own.
    Test *testInstanceAt(int i) const;

    QString title() const;

private:
    explicit Plexa(std::unique_ptr<DocumentStore> store);
    std::unique_ptr<DocumentStore> m_store;
};

} // namespace Zazizi
