#include "outputguard.h"

#include "exportdatabase.h"
#include "razuzezoz.h"
#include "streamsinks.h"

#include <QDir>
#include <QFileInfo>
#include <QHashFunctions>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

QString folderIdentity(const QString &folder)
{
    const QFileInfo info(folder);
#ifdef Q_OS_UNIX
    struct stat found;
    if (::stat(QFile::encodeName(info.absoluteFilePath()).constData(), &found) == 0)
        return QStringLiteral("%1:%2").arg(quint64(found.st_dev)).arg(quint64(found.st_ino));
#else
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical.toCaseFolded();
#endif
    return QDir::cleanPath(info.absoluteFilePath());
}

namespace {

// A file by its folder's identity and its name case-folded, hashed.
quint64 fileHash(const QString &folderIdentity, const QString &name)
{
    const QString identity = folderIdentity + QLatin1Char('/') + name.toCaseFolded();
    return quint64(qHash(identity, QHashSeed::globalSeed()));
}

// One document reached by two spellings or through a link is still one document.
QString documentIdentity(const QString &document)
{
    const QFileInfo info(document);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

} // namespace

qint64 WrittenFiles::find(quint64 hash) const
{
    for (quint32 entry = m_chains.first(hash); entry != HashChains::end;
         entry = m_chains.next(entry)) {
        if (m_claims[entry].hash == hash)
            return entry;
    }
    return -1;
}

bool WrittenFiles::claim(const QString &document, const exportDatabase &database,
                         bool laterDocuments)
{
    const QString identity = documentIdentity(document);
    // Every file of a run lies in the one folder of its stem.
    QString folder;
    QString folderId;
    const auto hashOf = [&](const QString &path) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        if (folder.isNull() || QStringView(path).left(slash + 1) != folder) {
            folder = path.left(slash + 1);
            folderId = folderIdentity(folder);
        }
        return fileHash(folderId, path.mid(slash + 1));
    };

    for (const ExportFile &file : database.exportFiles) {
        const QString path = file.filePath();
        const qint64 earlier = find(hashOf(path));
        if (earlier >= 0 && m_writers[m_claims[quint32(earlier)].writer].identity != identity) {
            writeLine(stderr,
                      QStringLiteral("scorlet-export: %1: not exported: its CSV file "
                                     "%2 would replace the one written for %3")
                          .arg(QDir::toNativeSeparators(document), QDir::toNativeSeparators(path),
                               QDir::toNativeSeparators(
                                   m_writers[m_claims[quint32(earlier)].writer].document)));
            return false;
        }
    }
    if (!laterDocuments)
        return true;
    m_writers.push_back(Writer{identity, document});
    const quint32 writer = quint32(m_writers.size() - 1);
    for (const ExportFile &file : database.exportFiles) {
        const quint64 hash = hashOf(file.filePath());
        if (find(hash) >= 0)
            continue;
        m_claims.reserveOne();
        m_chains.reserveOne();
        m_claims.pushReserved(Claim{hash, writer});
        m_chains.linkReserved(hash, [this](quint32 entry) { return m_claims[entry].hash; });
    }
    return true;
}

QString reportPathProblem(const QString &report, const QStringList &documents,
                          const QString &outputDir)
{
    const QFileInfo info(report);
    const QString shown = QDir::toNativeSeparators(report);
#ifdef Q_OS_UNIX
    // As given: a cleaned path would take "link/.." away by the text.
    const QByteArray path = QFile::encodeName(report);
    struct stat named;
    struct stat target;
    const bool exists = ::lstat(path.constData(), &named) == 0;
    if (exists && !S_ISREG(named.st_mode) && !S_ISLNK(named.st_mode))
        return QStringLiteral("the report is not a regular file: %1").arg(shown);
    if (exists && ::stat(path.constData(), &target) == 0) {
        if (!S_ISREG(target.st_mode))
            return QStringLiteral("the report is a link to something other than a regular "
                                  "file: %1")
                .arg(shown);
        for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
            struct stat output;
            if (::fstat(stream, &output) == 0 && output.st_dev == target.st_dev &&
                output.st_ino == target.st_ino)
                return QStringLiteral("the report would replace the file that standard %1 goes "
                                      "to: %2")
                    .arg(stream == STDOUT_FILENO ? QStringLiteral("output")
                                                 : QStringLiteral("error"),
                         shown);
        }
    }
#else
    if (info.exists() && !info.isFile() && !info.isSymLink())
        return QStringLiteral("the report is not a regular file: %1").arg(shown);
#endif

    // Each folder as the system finds it, also after "link/..".
    const QString reportFolder = folderIdentity(exportTargetFor(report).folder);
    const QString reportName = info.fileName().toCaseFolded();
    for (const QString &document : documents) {
        const QFileInfo documentInfo(document);
        bool sameFile = folderIdentity(exportTargetFor(document).folder) == reportFolder &&
                        documentInfo.fileName().toCaseFolded() == reportName;
#ifdef Q_OS_UNIX
        struct stat opened;
        // Another name of the document itself.
        if (exists && ::stat(QFile::encodeName(document).constData(), &opened) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
            sameFile = true;
#endif
        if (sameFile)
            return QStringLiteral("the report would replace the document %1")
                .arg(QDir::toNativeSeparators(document));

        // The CSV files are the stem's name, then ".csv" or "_", a file key and ".csv".
        const ExportTarget target =
            outputDir.isEmpty() ? exportTargetFor(document) : exportTargetFor(document, outputDir);
        if (folderIdentity(target.folder) != reportFolder)
            continue;
        const QString stem = QFileInfo(target.stem).fileName().toCaseFolded();
        const QString extension = QStringLiteral(".csv");
        if (reportName == stem + extension ||
            (reportName.startsWith(stem + QLatin1Char('_')) && reportName.endsWith(extension)))
            return QStringLiteral("the report could replace a CSV file of %1: %2")
                .arg(QDir::toNativeSeparators(document), shown);
    }
    return QString();
}
