#include "plexa.h"

#include "jsontext_p.h"
#include "memory_p.h"
#include "reader_p.h"
#include "store_p.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <new>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace Zazizi {

namespace {

// Texts and objects are 32-bit offsets into the buffer.
constexpr qint64 MaxDocumentSize = Q_INT64_C(0xffffffff);

// The most the whole process may need for a document, per byte of the file and beyond:
// the file itself, what the reader keeps of it (held to a budget) and what an export builds.
constexpr qint64 NeedPerFileByte = 4;
constexpr qint64 NeedBeyond = qint64(8) << 20;

qint64 megabytes(qint64 bytes)
{
    return (bytes + (qint64(1) << 19)) >> 20;
}

// Refusing a document at once is better than failing (or being killed) half-way through.
bool enoughMemoryFor(qint64 fileSize, QString &error)
{
    const qint64 needed = NeedPerFileByte * fileSize + NeedBeyond;
    const qint64 available = availableMemory();
    if (available < 0 || needed <= available)
        return true;
    error = QStringLiteral("not enough memory: needs about %1 MB, %2 MB available")
                .arg(megabytes(needed))
                .arg(megabytes(available));
    return false;
}

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

// A large document fills hundreds of megabytes at once; with large pages the kernel maps
// them in a few hundred faults instead of tens of thousands.
void adviseLargePages(QByteArray &buffer)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr quintptr PageSize = 4096;
    const auto begin = (quintptr(buffer.data()) + PageSize - 1) & ~(PageSize - 1);
    const auto end = (quintptr(buffer.data()) + quintptr(buffer.size())) & ~(PageSize - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(buffer);
#endif
}

// The file's bytes followed by the zero padding the reader relies on, or a reason.
bool readFile(const QString &path, QByteArray &buffer, qsizetype &size, QString &error)
{
    // Checked before opening, so that a pipe or a device never blocks the open or the read.
    const QFileInfo info(path);
    if (!info.exists()) {
        error = QStringLiteral("no such file");
        return false;
    }
    if (!info.isFile()) {
        error = QStringLiteral("not a regular file");
        return false;
    }
    if (info.size() > MaxDocumentSize) {
        error = QStringLiteral("file too large");
        return false;
    }
    QFile file(path);
#ifdef Q_OS_UNIX
    // The file may have been replaced since the check: open without blocking and look again
    // at what was opened.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("cannot read: %1").arg(qt_error_string(errno));
        return false;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        error = QStringLiteral("not a regular file");
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("cannot read: %1").arg(file.errorString());
        return false;
    }
#else
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read: %1").arg(file.errorString());
        return false;
    }
#endif
    const qint64 expected = file.size();
    if (expected > MaxDocumentSize) {
        error = QStringLiteral("file too large");
        return false;
    }
    if (!enoughMemoryFor(expected, error))
        return false;
    try {
        buffer = QByteArray(qsizetype(expected) + DocumentStore::Padding, Qt::Uninitialized);
    } catch (const std::bad_alloc &) {
        error = QStringLiteral("not enough memory");
        return false;
    }
    adviseLargePages(buffer);
    qint64 total = 0;
    while (total < expected) {
        const qint64 got = file.read(buffer.data() + total, expected - total);
        if (got < 0) {
            error = QStringLiteral("cannot read: %1").arg(file.errorString());
            return false;
        }
        if (got == 0)
            break; // the file shrank while being read; what was read is the document
        total += got;
    }
    size = qsizetype(total);
    return true;
}

} // namespace

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

Plexa::Plexa(std::unique_ptr<DocumentStore> store) : m_store(std::move(store)) {}

Plexa::~Plexa() = default;

Plexa *Plexa::openPlexa(const QString &path)
{
    QByteArray buffer;
    qsizetype size = 0;
    QString error;
    if (readFile(path, buffer, size, error)) {
        if (auto store = readStore(std::move(buffer), size, error))
            return new Plexa(std::move(store));
    }
    qWarning().noquote() << QStringLiteral("Cannot open Plexa document %1: %2")
                                .arg(QDir::toNativeSeparators(path), error);
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
    QStringList keywords;
    if (page.keywords) {
        Json::forEachElement(m_store->data() + page.keywords, [&](const char *value) {
            keywords.append(Json::decodeString(value));
            return Json::stringEnd(value);
        });
    }
    return new Page(page.test ? m_store->tests[page.test - 1].get() : nullptr, std::move(keywords));
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
    return m_store->title ? Json::decodeString(m_store->data() + m_store->title) : QString();
}

} // namespace Zazizi
