#pragma once

// Files and folders as the tests set them up and look at them afterwards.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>

inline QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every entry of the folder, hidden ones included, so that a left-over temporary file shows.
inline QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Every entry below `root` (links not followed), with the content of the regular files; a
// pipe or device is never opened, as reading it could block or never end.
inline QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        QByteArray content;
        if (info.isSymLink())
            content = "<link to " + QFile::encodeName(info.symLinkTarget()) + '>';
        else if (info.isDir())
            content = "<dir>";
        else if (!info.isFile())
            content = "<special>";
        else
            content = readFile(path);
        entries.insert(QDir(root).relativeFilePath(path), content);
    }
    return entries;
}
