#include "memorypolicy_p.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

namespace Zazizi::MemoryPolicy {

#ifdef Q_OS_LINUX

namespace {

// The number after `key` on its line of a file such as /proc/meminfo, or -1.
qint64 valueAfter(const char *path, const char *key)
{
    std::FILE *file = std::fopen(path, "re");
    if (!file)
        return -1;
    qint64 value = -1;
    char line[256];
    const std::size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, key, keyLength) == 0) {
            value = std::strtoll(line + keyLength, nullptr, 10);
            break;
        }
    }
    std::fclose(file);
    return value;
}

// The first line of a small file, without its line break.
bool firstLine(const QByteArray &path, QByteArray &text)
{
    std::FILE *file = std::fopen(path.constData(), "re");
    if (!file)
        return false;
    char line[4096];
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read)
        return false;
    text = QByteArray(line).trimmed();
    return true;
}

// What a limit leaves beyond what is already used, or -1 for no limit.
qint64 leftUnder(rlim_t limit, qint64 usedKb)
{
    if (limit == RLIM_INFINITY || usedKb < 0)
        return -1;
    return std::max<qint64>(0, qint64(limit) - usedKb * 1024);
}

// The tightest memory.max less memory.current of this process's cgroup (v2) and the groups
// above it, or -1 when none limits it.
qint64 cgroupLeft()
{
    QByteArray path;
    std::FILE *file = std::fopen("/proc/self/cgroup", "re");
    if (!file)
        return -1;
    char line[4096];
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, "0::", 3) == 0) {
            path = QByteArray(line + 3).trimmed();
            break;
        }
    }
    std::fclose(file);
    if (!path.startsWith('/'))
        return -1;

    qint64 left = -1;
    for (;;) {
        const QByteArray folder = "/sys/fs/cgroup" + (path == "/" ? QByteArray() : path);
        QByteArray max, current;
        if (firstLine(folder + "/memory.max", max) && max != "max" &&
            firstLine(folder + "/memory.current", current)) {
            const qint64 room = std::max<qint64>(0, max.toLongLong() - current.toLongLong());
            left = left < 0 ? room : std::min(left, room);
        }
        if (path == "/")
            break;
        const qsizetype slash = path.lastIndexOf('/');
        path = slash > 0 ? path.left(slash) : QByteArrayLiteral("/");
    }
    return left;
}

} // namespace

qint64 availableMemory()
{
    qint64 available = -1;
    const auto tighten = [&](qint64 room) {
        if (room >= 0)
            available = available < 0 ? room : std::min(available, room);
    };
    const qint64 memAvailableKb = valueAfter("/proc/meminfo", "MemAvailable:");
    if (memAvailableKb >= 0)
        tighten(memAvailableKb * 1024);
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0)
        tighten(leftUnder(limit.rlim_cur, valueAfter("/proc/self/status", "VmSize:")));
    if (::getrlimit(RLIMIT_DATA, &limit) == 0)
        tighten(leftUnder(limit.rlim_cur, valueAfter("/proc/self/status", "VmData:")));
    tighten(cgroupLeft());
    return available;
}

#else

qint64 availableMemory()
{
    return -1;
}

#endif

namespace {

qint64 megabytes(qint64 bytes)
{
    return (bytes + (qint64(1) << 19)) >> 20;
}

} // namespace

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

} // namespace Zazizi::MemoryPolicy
