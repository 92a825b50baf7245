#include "documentfile_p.h"

#include "jsonlexer_p.h"
#include "memorypolicy_p.h"

#include <QFile>
#include <QFileInfo>

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

} // namespace

bool readDocumentFile(const QString &path, QByteArray &buffer, qsizetype &size, QString &error)
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
    if (!MemoryPolicy::enoughMemoryFor(expected, error))
        return false;
    try {
        buffer = QByteArray(qsizetype(expected) + Json::Padding, Qt::Uninitialized);
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

} // namespace Zazizi
