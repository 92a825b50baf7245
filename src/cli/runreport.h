#pragma once

#include "filereplacement.h"

#include <QByteArray>
#include <QString>

class raZuzezoz;

// The JSON account of one call of scorlet-export, for scripts and school IT: what each
// document gave and which CSV files were written.
//
// It is written as the CSV files are: into a temporary file beside its name, made before the
// first document is exported, then renamed over the name, so that a link there is replaced
// and never followed, and a reader finds the old report or the whole new one. Each document's
// part goes out as soon as its run is done, so the account of a document with a million files
// is never held whole.
class RunReport
{
public:
    explicit RunReport(const QString &file);

    // Makes the temporary file; false when it cannot be made (errorString()).
    bool open();
    // After the engine's run of `document`.
    void addRun(const QString &document, const raZuzezoz &engine);
    // Writing stops here for good (memory ran out while the report was being written): the
    // old report stays.
    void giveUp(const QString &why);
    // Ends the account and puts it in place; false, with the old report left as it was,
    // when any part of it could not be written (errorString()). After a true result, synced()
    // tells whether the folder was flushed as well.
    bool finish(int exitStatus, bool logWhole);
    bool synced() const { return m_out.synced(); }
    QString errorString() const;

private:
    void append(const QByteArray &bytes);
    void flush(bool last);

    FileReplacement m_out;
    QByteArray m_pending;
    bool m_anyDocument = false;
    QString m_gaveUp;
};
