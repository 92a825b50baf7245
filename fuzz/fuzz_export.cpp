// Arbitrary bytes as a document file in a folder of its own, exported whole with diagnostics
// on. Whatever the bytes, the run ends with its closing lines or the open failure, writes
// only CSV files of its own into that folder, leaves no temporary file, and every line it
// writes reads back as one student key and a grade from 0 to 100.

#include "../tests/enginesupport/recording.h"
#include "../tests/enginesupport/rfc4180.h"

#include <diagnostics.h>
#include <razuzezoz.h>
#include <seams.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

class CountingNotices : public NoticeSink
{
public:
    int count = 0;
    void notice(const QString &title, const QString &text) override
    {
        count += int(title.isEmpty()) + int(text.size() > 0);
    }
};

// Built but thrown away, so that every diagnostic line is formatted without filling the
// fuzzer's output.
void discardMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    volatile qsizetype size = message.size();
    (void)size;
}

[[noreturn]] void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "invariant broken: %s %s\n", what, detail.toLocal8Bit().constData());
    std::abort();
}

void checkCsv(const QString &path, const ExportFile &file)
{
    QFile csv(path);
    if (!csv.open(QIODevice::ReadOnly))
        fail("cannot read back", path);
    QList<QStringList> records;
    if (!parseRfc4180(QString::fromUtf8(csv.readAll()), records))
        fail("not RFC 4180", path);
    if (records.size() != file.students().size())
        fail("one line per student", path);
    QSet<QString> keys;
    for (const QStringList &record : std::as_const(records)) {
        if (record.size() != 2)
            fail("two fields per line", record.join(QLatin1Char('|')));
        bool ok = false;
        const int grade = record.at(1).toInt(&ok);
        if (!ok || grade < 0 || grade > 100 || QString::number(grade) != record.at(1))
            fail("grade out of range", record.at(1));
        const qint64 student = file.students().indexOf(record.at(0));
        if (student < 0)
            fail("key not in the table", record.at(0));
        if (file.students().correctAt(quint32(student)) > file.questionCount)
            fail("more right than asked", record.at(0));
        keys.insert(record.at(0));
    }
    if (keys.size() != records.size())
        fail("a student twice", path);
}

// One whole run, checked; returns the log and every CSV file's lines, sorted, for comparing
// runs.
QStringList exportOnce(raZuzezoz &engine, const QString &document, const RecordingLog &log)
{
    const ExportTarget target = exportTargetFor(document);
    engine.folder = target.nativeFolder;
    engine.exportPlexa(document, target.stem);

    if (log.lines.isEmpty() || !log.lines.first().startsWith(QStringLiteral("Importing file ")))
        fail("first line");
    if (!engine.lastRun.opened) {
        if (log.lines.size() != 2 || log.lines.at(1) != QStringLiteral("FAILED to open plexa "))
            fail("open failure lines");
    } else if (log.lines.size() < 3 ||
               log.lines.at(log.lines.size() - 2) != QStringLiteral("All Export(s) completed.") ||
               log.lines.last() != QStringLiteral("-------------------------")) {
        fail("closing lines");
    }

    // Only the document and the CSV files of this run, each read back whole.
    QStringList fingerprint = log.lines;
    const QString folder = QFileInfo(document).absolutePath();
    QSet<QString> expected{QFileInfo(document).fileName()};
    const QDir dir(folder);
    for (const ExportFile &file : engine.database.exportFiles) {
        const QFileInfo info(file.filePath());
        if (!info.exists())
            continue;
        if (QDir::cleanPath(info.absolutePath()) != QDir::cleanPath(dir.absolutePath()) ||
            !info.isFile())
            fail("written outside the folder", file.filePath());
        expected.insert(info.fileName());
        checkCsv(file.filePath(), file);
        QFile csv(file.filePath());
        if (!csv.open(QIODevice::ReadOnly))
            fail("cannot read back", file.filePath());
        QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\r\n"));
        lines.sort();
        fingerprint << info.fileName() << lines;
    }
    const QStringList present =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : present) {
        if (!expected.contains(name))
            fail("stray file", name);
    }
    return fingerprint;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Whatever the environment says, the diagnostic lines are built.
    diagnosticsCategory().setEnabled(QtDebugMsg, true);
    qInstallMessageHandler(discardMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir base;
    if (!base.isValid())
        fail("no temporary folder");
    const QString folder = base.filePath(QStringLiteral("lesson"));
    QDir(folder).removeRecursively();
    if (!QDir().mkpath(folder))
        fail("cannot make", folder);
    const QString document = folder + QStringLiteral("/Quiz.unit.plexa");
    {
        QFile file(document);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            fail("cannot write", document);
    }

    RecordingLog log;
    CountingNotices notices;
    {
        raZuzezoz engine;
        engine.database.log = &log;
        engine.database.notices = &notices;
        // A second run of the same engine must not see anything of the first.
        const QStringList first = exportOnce(engine, document, log);
        const int firstNotices = notices.count;
        notices.count = 0;
        if (exportOnce(engine, document, log) != first || notices.count != firstNotices)
            fail("a second run differs from the first");
    }
    const QStringList outside =
        QDir(base.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (outside != QStringList{QStringLiteral("lesson")})
        fail("written next to the folder", outside.join(QLatin1Char(' ')));
    return 0;
}
