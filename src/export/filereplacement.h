#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/types.h>
#include <vector>
#endif

// The leftovers of killed exports in one folder, found by one scan: replacing many files in a
// folder must not read the whole folder once per file. Shared by the replacements of one run,
// which may only remove what the scan found.
class LeftoverSweep
{
public:
#ifdef Q_OS_UNIX
    // The names in the folder opened as `folderFd` that have the shape of a leftover of any
    // file; the folder is read on the first call, and again only for another folder.
    const std::vector<QByteArray> &namesIn(int folderFd);

private:
    bool m_scanned = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    std::vector<QByteArray> m_names;
#endif
};

// Puts new content at a path in one step: whoever reads the path (or finds it after a crash
// or a full disk) sees the old file or the complete new one, never a part.
//
// On Unix the content goes into a temporary file in the same folder, created exclusively and
// never through a link, held under an exclusive flock while it is written; it is flushed to
// disk and renamed over the path, and the folder is flushed too. A rename replaces a link at
// the path itself and never writes where it points, and needs no write permission on an old
// file. Any failure before the rename removes the temporary file and leaves the path (file or
// link) as it was.
//
// The temporary name is short whatever the file's name, so a name of up to 255 bytes can be
// replaced again and again:
//     "." + the name cut to 32 bytes + ".scorlet-" + 16 hex digits of a hash of the whole
//     name + "-" + 8 random hex digits + ".tmp"
// A killed export leaves such a file behind. The next replacement of the same path removes
// those of that name that are regular files of the user's own and not locked by a writer; it
// reads the folder itself, or takes what `sweep` found there.
//
// On Windows the same steps use the Windows calls: the temporary file is created new
// (CREATE_NEW, never through a link) and shared with nobody but a rename, flushed, and moved
// over the path with MoveFileExW (replace, write through). A file at the path that another
// program holds open without sharing it, or that is read-only, is not replaced: the move fails
// and the old file stays. A leftover is removed only when nobody holds it open, so never while
// another export writes it. There the system looks a name's leftovers up by their prefix
// (FindFirstFileExW), and the sweep is not used.
class FileReplacement
{
public:
    explicit FileReplacement(const QString &path, LeftoverSweep *sweep = nullptr);
    // A replacement not committed is abandoned: its temporary file is removed.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    bool open();
    bool write(const QByteArray &bytes);
    // True once the new file stands at the path. It is on disk; whether its name is too,
    // synced() says: when the folder cannot be flushed after the rename, a power cut may
    // still bring back the old file.
    bool commit();
    bool synced() const { return m_synced; }

    // The system's error number of the first failure (of the folder's flush, for a commit
    // that was not synced), or 0.
    int error() const { return m_error; }
    QString errorString() const;

private:
#ifdef Q_OS_UNIX
    void removeLeftovers();
    void removeLeftover(const QByteArray &name);
    bool createTemporary();
    void abandon();
    bool fail();

    LeftoverSweep *m_sweep;

    QByteArray m_folder;
    QByteArray m_name;
    // The leftovers of this name begin with this.
    QByteArray m_temporaryStem;
    QByteArray m_temporary;
    int m_folderFd = -1;
    int m_fd = -1;
#else
    void removeLeftovers();
    bool createTemporary();
    void abandon();
    bool fail();

    QString m_folder;
    QString m_path;
    QString m_temporaryStem;
    QString m_temporary;
    Qt::HANDLE m_handle = nullptr;
#endif
    bool m_failed = false;
    bool m_synced = false;
    int m_error = 0;
};
