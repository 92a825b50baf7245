#include "filereplacement.h"

#include <QFile>
#include <QFileInfo>

#include <QCryptographicHash>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDir>

#include <qt_windows.h>
#endif

#ifdef Q_OS_UNIX

namespace {

constexpr qsizetype prefixBytes = 32;
const QByteArray marker = QByteArrayLiteral(".scorlet-");
const QByteArray extension = QByteArrayLiteral(".tmp");
constexpr qsizetype randomDigits = 8;

// The name cut to at most prefixBytes, never inside a UTF-8 sequence.
QByteArray namePrefix(const QByteArray &name)
{
    if (name.size() <= prefixBytes)
        return name;
    qsizetype cut = prefixBytes;
    while (cut > 0 && (uchar(name.at(cut)) & 0xC0) == 0x80)
        --cut;
    return name.left(cut);
}

bool isHexDigits(const char *text, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Closing a descriptor is where a network file system reports write errors it kept back; a
// second descriptor is closed for that, as the first keeps the lock until the rename.
bool closeSecondDescriptor(int fd)
{
    const int second = ::dup(fd);
    return second >= 0 && ::close(second) == 0;
}

constexpr qsizetype hashDigits = 16;

// Whether the name ends as every leftover does: the marker, the hash, "-", the random digits
// and the extension.
bool hasLeftoverShape(const QByteArray &name)
{
    const qsizetype tail = marker.size() + hashDigits + 1 + randomDigits + extension.size();
    if (!name.startsWith('.') || name.size() <= tail || !name.endsWith(extension))
        return false;
    const char *at = name.constData() + name.size() - tail;
    return QByteArray::fromRawData(at, marker.size()) == marker &&
           isHexDigits(at + marker.size(), hashDigits) && at[marker.size() + hashDigits] == '-' &&
           isHexDigits(at + marker.size() + hashDigits + 1, randomDigits);
}

// Every name in the folder that `keep` accepts; nothing when the folder cannot be read.
template <typename Keep>
std::vector<QByteArray> folderNames(int folderFd, Keep keep)
{
    std::vector<QByteArray> names;
    const int listFd = ::dup(folderFd);
    if (listFd < 0)
        return names;
    DIR *folder = ::fdopendir(listFd);
    if (!folder) {
        ::close(listFd);
        return names;
    }
    while (const dirent *entry = ::readdir(folder)) {
        QByteArray name(entry->d_name);
        if (keep(name))
            names.push_back(std::move(name));
    }
    ::closedir(folder);
    return names;
}

} // namespace

const std::vector<QByteArray> &LeftoverSweep::namesIn(int folderFd)
{
    struct stat folder;
    if (::fstat(folderFd, &folder) != 0)
        folder = {};
    if (!m_scanned || folder.st_dev != m_device || folder.st_ino != m_inode) {
        m_names = folderNames(folderFd, hasLeftoverShape);
        m_scanned = true;
        m_device = folder.st_dev;
        m_inode = folder.st_ino;
    }
    return m_names;
}

FileReplacement::FileReplacement(const QString &path, LeftoverSweep *sweep) : m_sweep(sweep)
{
    const QFileInfo info(path);
    m_folder = QFile::encodeName(info.path());
    m_name = QFile::encodeName(info.fileName());
    const QByteArray hash =
        QCryptographicHash::hash(m_name, QCryptographicHash::Sha256).toHex().left(16);
    m_temporaryStem = '.' + namePrefix(m_name) + marker + hash + '-';
}

FileReplacement::~FileReplacement()
{
    abandon();
    if (m_folderFd >= 0)
        ::close(m_folderFd);
}

void FileReplacement::abandon()
{
    if (m_fd < 0)
        return;
    // Still locked by us, so the name is still ours to remove.
    ::unlinkat(m_folderFd, m_temporary.constData(), 0);
    ::close(m_fd);
    m_fd = -1;
}

bool FileReplacement::fail()
{
    if (m_error == 0)
        m_error = errno != 0 ? errno : EIO;
    m_failed = true;
    return false;
}

bool FileReplacement::open()
{
    if (m_name.isEmpty()) {
        errno = ENOENT;
        return fail();
    }
    m_folderFd = ::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folderFd < 0)
        return fail();
    removeLeftovers();
    return createTemporary() || fail();
}

void FileReplacement::removeLeftovers()
{
    const qsizetype expectedSize = m_temporaryStem.size() + randomDigits + extension.size();
    const auto ours = [&](const QByteArray &name) {
        return name.size() == expectedSize && name.startsWith(m_temporaryStem) &&
               name.endsWith(extension) &&
               isHexDigits(name.constData() + m_temporaryStem.size(), randomDigits);
    };
    if (!m_sweep) {
        for (const QByteArray &name : folderNames(m_folderFd, ours))
            removeLeftover(name);
        return;
    }
    for (const QByteArray &name : m_sweep->namesIn(m_folderFd)) {
        if (ours(name))
            removeLeftover(name);
    }
}

// A leftover of an earlier replacement of this name is removed only when it is a regular file
// of ours that no writer holds locked: never a link, another name's leftover, another user's
// file, or one that another export is writing right now.
void FileReplacement::removeLeftover(const QByteArray &name)
{
    struct stat named;
    if (::fstatat(m_folderFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(named.st_mode) || named.st_uid != ::geteuid())
        return;
    const int fd = ::openat(m_folderFd, name.constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened;
    if (::fstat(fd, &opened) == 0 && sameFile(opened, named) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Locked: no writer has it, and none can rename it away while we hold it.
        struct stat now;
        if (::fstatat(m_folderFd, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(now, opened))
            ::unlinkat(m_folderFd, name.constData(), 0);
    }
    ::close(fd);
}

bool FileReplacement::createTemporary()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray random = QByteArray::number(QRandomGenerator::system()->generate(), 16)
                                      .rightJustified(randomDigits, '0');
        const QByteArray name = m_temporaryStem + random + extension;
        const int fd = ::openat(m_folderFd, name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        // Another export of the same name may be clearing leftovers: it removes a file only
        // while holding its lock, so a file we could not lock, or that no longer bears the
        // name once locked, is left to it and another name is tried.
        struct stat opened;
        struct stat named;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &opened) != 0 ||
            ::fstatat(m_folderFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(opened, named)) {
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_temporary = name;
        return true;
    }
    errno = EEXIST;
    return false;
}

bool FileReplacement::write(const QByteArray &bytes)
{
    if (m_fd < 0 || m_failed)
        return false;
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, std::size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail();
        }
        data += written;
        left -= written;
    }
    return true;
}

bool FileReplacement::commit()
{
    if (m_fd < 0 || m_failed) {
        abandon();
        return false;
    }
    if (::fsync(m_fd) != 0 || !closeSecondDescriptor(m_fd) ||
        ::renameat(m_folderFd, m_temporary.constData(), m_folderFd, m_name.constData()) != 0) {
        fail();
        abandon();
        return false;
    }
    // The rename is done: the lock goes with the file, which now bears the final name.
    ::close(m_fd);
    m_fd = -1;
    // Without this the rename itself may not survive a power cut. A file system that cannot
    // flush a folder says so with EINVAL; the file is complete all the same.
    m_synced = ::fsync(m_folderFd) == 0 || errno == EINVAL;
    if (!m_synced)
        m_error = errno;
    return true;
}

QString FileReplacement::errorString() const
{
    return m_error == 0 ? QString() : qt_error_string(m_error);
}

#else

namespace {

constexpr qsizetype prefixUnits = 32;
constexpr qsizetype randomDigits = 8;
const QString marker = QStringLiteral(".scorlet-");
const QString extension = QStringLiteral(".tmp");

const wchar_t *wide(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

// The name cut to at most prefixUnits, never inside a surrogate pair.
QString namePrefix(const QString &name)
{
    if (name.size() <= prefixUnits)
        return name;
    qsizetype cut = prefixUnits;
    if (name.at(cut).isLowSurrogate())
        --cut;
    return name.left(cut);
}

bool isHexDigits(QStringView text)
{
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace

FileReplacement::FileReplacement(const QString &path, LeftoverSweep *)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    m_folder = QDir::toNativeSeparators(info.path());
    m_path = QDir::toNativeSeparators(path);
    if (!name.isEmpty()) {
        const QByteArray hash =
            QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
        m_temporaryStem = u'.' + namePrefix(name) + marker + QString::fromLatin1(hash) + u'-';
    }
}

FileReplacement::~FileReplacement()
{
    abandon();
}

void FileReplacement::abandon()
{
    if (!m_handle)
        return;
    // Still open by us, so nobody else has removed or replaced it.
    FILE_DISPOSITION_INFO remove{TRUE};
    SetFileInformationByHandle(m_handle, FileDispositionInfo, &remove, sizeof(remove));
    CloseHandle(m_handle);
    m_handle = nullptr;
}

bool FileReplacement::fail()
{
    if (m_error == 0) {
        const DWORD error = GetLastError();
        m_error = error != 0 ? int(error) : int(ERROR_GEN_FAILURE);
    }
    m_failed = true;
    return false;
}

bool FileReplacement::open()
{
    if (m_temporaryStem.isEmpty()) {
        SetLastError(ERROR_INVALID_NAME);
        return fail();
    }
    removeLeftovers();
    return createTemporary() || fail();
}

// A leftover is removed through a handle that shares nothing: while its writer still holds
// it, that open fails and the file stays. Folders and links of that shape stay too.
void FileReplacement::removeLeftovers()
{
    WIN32_FIND_DATAW found;
    const QString pattern = m_folder + u'\\' + m_temporaryStem + u'*';
    const HANDLE search =
        FindFirstFileExW(wide(pattern), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    const qsizetype expectedSize = m_temporaryStem.size() + randomDigits + extension.size();
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        if (name.size() != expectedSize || !name.startsWith(m_temporaryStem) ||
            !name.endsWith(extension) ||
            !isHexDigits(QStringView(name).mid(m_temporaryStem.size(), randomDigits)) ||
            (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const QString leftover = m_folder + u'\\' + name;
        const HANDLE file =
            CreateFileW(wide(leftover), DELETE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool FileReplacement::createTemporary()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString random = QString::number(QRandomGenerator::system()->generate(), 16)
                                   .rightJustified(randomDigits, u'0');
        const QString temporary = m_folder + u'\\' + m_temporaryStem + random + extension;
        // Shared only for the rename that puts it in place; a leftover scan cannot take it.
        const HANDLE file =
            CreateFileW(wide(temporary), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return false;
        }
        m_handle = file;
        m_temporary = temporary;
        return true;
    }
    return false;
}

bool FileReplacement::write(const QByteArray &bytes)
{
    if (!m_handle || m_failed)
        return false;
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const DWORD chunk = DWORD(qMin<qsizetype>(left, 1 << 30));
        DWORD written = 0;
        if (!WriteFile(m_handle, data, chunk, &written, nullptr) || written == 0)
            return fail();
        data += written;
        left -= written;
    }
    return true;
}

bool FileReplacement::commit()
{
    // Windows refuses to replace a read-only file; this says so whatever the file system.
    const DWORD attributes = GetFileAttributesW(wide(m_path));
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (!m_handle || m_failed) {
        abandon();
        return false;
    }
    if (readOnly)
        SetLastError(ERROR_ACCESS_DENIED);
    if (readOnly || !FlushFileBuffers(m_handle) ||
        !MoveFileExW(wide(m_temporary), wide(m_path),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fail();
        abandon();
        return false;
    }
    // The new file stands at the path; the handle now refers to it. The move was written
    // through, so its name is on disk too.
    CloseHandle(m_handle);
    m_handle = nullptr;
    m_synced = true;
    return true;
}

QString FileReplacement::errorString() const
{
    return m_error == 0 ? QString() : qt_error_string(m_error);
}

#endif
