#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

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
// those of that name that are regular files of the user's own and not locked by a writer.
//
// On Windows the same steps use the Windows calls: the temporary file is created new
// (CREATE_NEW, never through a link) and shared with nobody but a rename, flushed, and moved
// over the path with MoveFileExW (replace, write through). A file at the path that another
// program holds open without sharing it, or that is read-only, is not replaced: the move fails
// and the old file stays. A leftover is removed only when nobody holds it open, so never while
// another export writes it.
class FileReplacement
{
public:
    explicit FileReplacement(const QString &path);
    // A replacement not committed is abandoned: its temporary file is removed.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    bool open();
    bool write(const QByteArray &bytes);
    // True once the new file stands at the path, on disk.
    bool commit();

private:
#ifdef Q_OS_UNIX
    void removeLeftovers();
    bool createTemporary();
    void abandon();

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

    QString m_folder;
    QString m_path;
    QString m_temporaryStem;
    QString m_temporary;
    Qt::HANDLE m_handle = nullptr;
#endif
    bool m_failed = false;
};
