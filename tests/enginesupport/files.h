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

#ifdef Q_OS_WIN
#include <QProcess>

#include <qt_windows.h>
#endif

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

#ifdef Q_OS_WIN
// Holds a file open as a spreadsheet holds a grade book: sharing nothing, so that no other
// program may read, write, rename or delete it while the hold lasts.
class ExclusiveHold
{
public:
    explicit ExclusiveHold(const QString &path)
        : m_handle(
              CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                          GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~ExclusiveHold()
    {
        if (isHeld())
            CloseHandle(m_handle);
    }
    ExclusiveHold(const ExclusiveHold &) = delete;
    ExclusiveHold &operator=(const ExclusiveHold &) = delete;
    bool isHeld() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

// Runs Windows' own registry tool (reg add, reg query, reg delete), so that a test reads and
// writes the registry as a teacher or another program would, not through Qt. Its output, or a
// null string when it failed (reg query of a value that is not there).
inline QString registryTool(const QStringList &arguments)
{
    QProcess reg;
    reg.start(QStringLiteral("reg.exe"), arguments);
    if (!reg.waitForFinished(60000) || reg.exitStatus() != QProcess::NormalExit ||
        reg.exitCode() != 0)
        return QString();
    const QString out = QString::fromLocal8Bit(reg.readAllStandardOutput());
    return out.isNull() ? QStringLiteral("") : out;
}

// The string value `name` under HKEY_CURRENT_USER\`key`, or a null string when there is none.
inline QString registryValue(const QString &key, const QString &name)
{
    const QString out = registryTool(
        {QStringLiteral("query"), QStringLiteral("HKCU\\") + key, QStringLiteral("/v"), name});
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        const QString prefix = name + QStringLiteral("    REG_SZ    ");
        if (trimmed.startsWith(prefix))
            return trimmed.mid(prefix.size());
        if (trimmed == name + QStringLiteral("    REG_SZ"))
            return QStringLiteral("");
    }
    return QString();
}
#endif
