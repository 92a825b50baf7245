#pragma once

#include "keytable.h"

#include <QString>
#include <QStringList>

#include <vector>

class exportDatabase;

// What keeps one call of scorlet-export from replacing what is not its own: a later document's
// CSV file over one an earlier document wrote, and the report over a document, a grade book,
// a device or the export log.

// Where a folder is, whatever path leads there: on Unix its device and inode (so that links,
// ".." after a link, bind mounts and a folder spelled in other letter case all lead to one),
// elsewhere its canonical path, case-folded. A folder that does not exist is named by its
// cleaned absolute path.
QString folderIdentity(const QString &folder);

// The CSV files written so far in this call, each with the document that wrote it. Files are
// compared by their folder's identity and their name case-folded: on a USB stick or a Windows
// share, quiz_a.csv and quiz_A.csv are one file.
class WrittenFiles
{
public:
    // Whether `document` may write the files its page pass planned, which then become its
    // own; if not, says on standard error which file would be replaced, and whose it is. The
    // same document given again may write its own files again. The files are kept only when
    // `laterDocuments`: the last document of a call has nothing to guard its files against.
    bool claim(const QString &document, const exportDatabase &database, bool laterDocuments);

private:
    // A file by a 64-bit hash of its identity, a few bytes each however many files a document
    // plans. Two files of one hash would only make a document be left out that need not be;
    // the same file always has the same hash, so no replacement goes unseen.
    struct Claim
    {
        quint64 hash;
        quint32 writer;
    };
    qint64 find(quint64 hash) const;

    struct Writer
    {
        QString identity;
        QString document;
    };
    std::vector<Writer> m_writers;
    ChunkedArray<Claim> m_claims;
    HashChains m_chains;
};

// Why `report` may not be the call's report, or a null string: it is ours only where nothing
// else is, so never a document of the call, a name that one of its CSV files may take, a
// device, pipe or folder, or the file that standard output or error goes to. A link at its
// name is replaced, never followed; a link to a device or pipe (/dev/stdout) is refused all
// the same, as whoever wrote it meant the report to go there, which it would not.
QString reportPathProblem(const QString &report, const QStringList &documents,
                          const QString &outputDir);
