#include <roruri1/plexa.h>

#include "documentfile_p.h"
#include "documentreader_p.h"
#include "documentstore_p.h"

#include <QDebug>
#include <QDir>

#include <cstring>
#include <new>

namespace Zazizi {

namespace {

std::unique_ptr<DocumentStore> readStore(QByteArray buffer, qsizetype size, QString &error)
{
    std::memset(buffer.data() + size, 0, DocumentStore::Padding);
    // A small file of tiny objects can still ask for more memory than there is; that is one
    // more document that cannot be opened.
    try {
        auto store = std::make_unique<DocumentStore>(std::move(buffer), size);
        if (!readDocument(*store, error))
            return nullptr;
        return store;
    } catch (const std::bad_alloc &) {
        error = QStringLiteral("not enough memory");
        return nullptr;
    }
}

} // namespace

Plexa::Plexa(std::unique_ptr<DocumentStore> store) : m_store(std::move(store)) {}

Plexa::~Plexa() = default;

Plexa *Plexa::openPlexa(const QString &path)
{
    QString error;
    Plexa *plexa = openPlexa(path, &error);
    if (!plexa)
        qWarning().noquote() << QStringLiteral("Cannot open Plexa document %1: %2")
                                    .arg(QDir::toNativeSeparators(path), error);
    return plexa;
}

Plexa *Plexa::openPlexa(const QString &path, QString *error)
{
    QByteArray buffer;
    qsizetype size = 0;
    QString reason;
    if (readDocumentFile(path, buffer, size, reason)) {
        if (auto store = readStore(std::move(buffer), size, reason))
            return new Plexa(std::move(store));
    }
    if (error)
        *error = reason;
    return nullptr;
}

Plexa *Plexa::fromData(QByteArray data, QString *error)
{
    QString reason;
    const qsizetype size = data.size();
    if (size > MaxDocumentSize) {
        reason = QStringLiteral("file too large");
    } else {
        data.resize(size + DocumentStore::Padding);
        if (auto store = readStore(std::move(data), size, reason))
            return new Plexa(std::move(store));
    }
    if (error)
        *error = reason;
    return nullptr;
}

int Plexa::pageCount() const
{
    return int(m_store->pages.size());
}

Page *Plexa::pageAt(int i) const
{
    if (i < 0 || std::size_t(i) >= m_store->pages.size())
        return nullptr;
    const std::uint32_t entry = m_store->pages[std::size_t(i)];
    if (entry == DocumentStore::NullPage)
        return nullptr;
    if (entry == DocumentStore::BarePage)
        return new Page(nullptr, QStringList());
    const DocumentStore::PageDetails &page =
        m_store->pageDetails[entry - DocumentStore::FirstPageDetails];
    return new Page(page.test ? m_store->tests[page.test - 1].get() : nullptr,
                    m_store->texts(page.keywords));
}

int Plexa::testInstanceCount() const
{
    return int(m_store->testInstances.size());
}

Test *Plexa::testInstanceAt(int i) const
{
    if (i < 0 || std::size_t(i) >= m_store->testInstances.size())
        return nullptr;
    const std::uint32_t test = m_store->testInstances[std::size_t(i)];
    return test ? m_store->tests[test - 1].get() : nullptr;
}

QString Plexa::title() const
{
    return m_store->text(m_store->title);
}

} // namespace Zazizi
