#include "exportdatabase.h"

#include "diagnostics.h"
#include "seams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// The percentage of the file's questions answered correctly, truncated. Integer
// arithmetic, because the quotient in floating point falls just short of whole values
// (29 of 100 would give 28).
int gradeFor(int correct, int questionCount)
{
    if (questionCount <= 0)
        return 0;
    return int((qint64(100) * correct) / questionCount);
}

// A key that a CSV reader would split or end early goes inside double quotes.
QString csvField(const QString &key)
{
    const bool needsQuotes = key.contains(QLatin1Char(',')) || key.contains(QLatin1Char('"')) ||
                             key.contains(QLatin1Char('\r')) || key.contains(QLatin1Char('\n'));
    if (!needsQuotes)
        return key;
    QString quoted = key;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The file key comes from a page keyword that anyone can type. Separators would send
// the file into another folder, and the other characters cannot stand in a Windows file
// name, so such a file is not written at all.
bool isSafeFileKey(const QString &key)
{
    static const QString forbidden = QStringLiteral("/\\<>:\"|?*");
    for (const QChar c : key) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return false;
    }
    return true;
}

QByteArray csvContent(const ExportFile &file)
{
    QString text;
    for (const StudentRecord &student : file.students) {
        text += csvField(student.key);
        text += QLatin1Char(',');
        text += QString::number(gradeFor(student.correct, file.questionCount));
        text += QLatin1String("\r\n");
    }
    return text.toLocal8Bit();
}

// Replaces the file only once every byte is on disk, so a failure leaves the old file as
// it was and no partial file behind.
bool writeWhole(const QString &filePath, const QByteArray &content)
{
    // QSaveFile writes to where a link points, which may be outside the document's folder:
    // the link itself is replaced instead, as deleting the old file first always did.
    if (QFileInfo(filePath).isSymLink() && !QFile::remove(filePath))
        return false;
    QSaveFile out(filePath);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(content) != content.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace

void exportDatabase::clear()
{
    questions.clear();
    if (log)
        log->clear();
    exportFiles.clear();
}

ExportFile &exportDatabase::addExportFile(const QString &key, const QString &stem)
{
    auto found = exportFiles.find(key);
    if (found != exportFiles.end())
        return found->second;

    ExportFile file;
    file.key = key;
    if (key == QLatin1String("NULL"))
        file.filePath = stem + QLatin1String(".csv");
    else
        file.filePath = stem + QLatin1Char('_') + key + QLatin1String(".csv");
    file.baseName = QFileInfo(file.filePath).baseName();
    return exportFiles.emplace(key, std::move(file)).first->second;
}

void exportDatabase::tallyCorrect()
{
    // Counted afresh, so a second write of the same tables gives the same grades.
    for (auto &entry : exportFiles) {
        for (StudentRecord &student : entry.second.students) {
            int correct = 0;
            for (const AnswerState &answer : std::as_const(student.answers)) {
                if (answer.correct)
                    ++correct;
            }
            student.correct = correct;
        }
    }
}

void exportDatabase::writeCsvFiles(const QString &folder)
{
    tallyCorrect();
    failedFiles = 0;

    // One file after another, on the calling thread: each is written whole before the next.
    for (const auto &entry : exportFiles) {
        const ExportFile &file = entry.second;
        const QString nativePath = QDir::toNativeSeparators(file.filePath);
        const QString shownName = file.baseName + QLatin1String(".csv");

        logEmptyLine();
        logLine(QStringLiteral("Creating export file %1").arg(nativePath));
        logEmptyLine();

        if (!isSafeFileKey(file.key) || !writeWhole(file.filePath, csvContent(file))) {
            ++failedFiles;
            logLine(QStringLiteral("FAILED to create CSV file."));
            logLine(QStringLiteral("The file could be locked or opened by another application."));
            continue;
        }

        logLine(QStringLiteral("Finished exporting to %1 ").arg(shownName));
        logLine(QStringLiteral("The CSV file is located in this folder %1. It is in the same "
                               "location as your Plexa file.")
                    .arg(folder));
        logLine(QStringLiteral("Please locate the %1 file and import it into your grade book.")
                    .arg(shownName));
        logEmptyLine();
    }

    logLine(QStringLiteral("All Export(s) completed."));
    logLine(QStringLiteral("-------------------------"));

    if (diagnosticsEnabled())
        diagnostic(QStringLiteral("report end...."));
}

void exportDatabase::logLine(const QString &line)
{
    if (log)
        log->appendLine(line);
}

void exportDatabase::logEmptyLine()
{
    logLine(QString());
}

void exportDatabase::notice(const QString &title, const QString &text)
{
    if (notices)
        notices->notice(title, text);
}
