#include "exportdatabase.h"

#include "diagnostics.h"
#include "filereplacement.h"
#include "seams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <numeric>
#include <vector>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

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
void appendField(QString &text, QStringView key)
{
    const bool needsQuotes =
        key.contains(u',') || key.contains(u'"') || key.contains(u'\r') || key.contains(u'\n');
    if (!needsQuotes) {
        text += key;
        return;
    }
    text += u'"';
    for (const QChar c : key) {
        if (c == u'"')
            text += u'"';
        text += c;
    }
    text += u'"';
}

void appendNumber(QString &text, int number)
{
    char16_t digits[12];
    int at = 12;
    qint64 rest = number < 0 ? -qint64(number) : number;
    do {
        digits[--at] = char16_t(u'0' + rest % 10);
        rest /= 10;
    } while (rest);
    if (number < 0)
        digits[--at] = u'-';
    text += QStringView(digits + at, 12 - at);
}

// The file key comes from a page keyword that anyone can type. It stands inside the file's
// name, between the document's base name and ".csv", so reserved device names and trailing
// dots are no concern; what is refused is what would take the file elsewhere or make its name
// deceive: separators (another folder), the characters that cannot stand in a Windows file
// name, and control characters (C0, DEL and C1), which terminals and file managers act on or
// hide. Such a file is not written at all.
bool isSafeFileKey(const QString &key)
{
    static const QString forbidden = QStringLiteral("/\\<>:\"|?*");
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || forbidden.contains(c))
            return false;
    }
    return true;
}

// Windows takes these names, whatever the extension and letter case, for devices: a CSV file
// of such a name would be written to the device, not to a file, so it is refused like an
// unsafe key. Other systems have no such names.
bool isDeviceName(const QString &baseName)
{
#ifdef Q_OS_WIN
    // Windows drops trailing blanks before it compares.
    QStringView name(baseName);
    while (name.endsWith(u' '))
        name.chop(1);
    static const QStringList devices = {QStringLiteral("con"), QStringLiteral("prn"),
                                        QStringLiteral("aux"), QStringLiteral("nul")};
    if (devices.contains(name, Qt::CaseInsensitive))
        return true;
    return name.size() == 4 && name.at(3) >= u'1' && name.at(3) <= u'9' &&
           (name.startsWith(u"com", Qt::CaseInsensitive) ||
            name.startsWith(u"lpt", Qt::CaseInsensitive));
#else
    Q_UNUSED(baseName);
    return false;
#endif
}

// Whether the locale's 8-bit encoding holds every key as it is. On Windows that is the ANSI
// code page, which turns what it lacks into "?" or a look-alike (best fit), so that two
// students could share one row; elsewhere Qt's 8-bit encoding is UTF-8, which holds all.
bool localEncodingHolds(const StudentTable &students)
{
#ifdef Q_OS_WIN
    // These code pages take no question about lost characters, and lose none.
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8 || codePage == 54936)
        return true;
    for (quint32 i = 0; i < quint32(students.size()); ++i) {
        const QStringView key = students.keyAt(i);
        if (key.isEmpty())
            continue;
        BOOL lost = FALSE;
        const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS,
                                             reinterpret_cast<const wchar_t *>(key.utf16()),
                                             int(key.size()), nullptr, 0, nullptr, &lost);
        if (size == 0 || lost)
            return false;
    }
    return true;
#else
    Q_UNUSED(students);
    return true;
#endif
}

// Lines are converted and written a piece at a time, so that neither the text of a large file
// nor its 8-bit copy is ever held whole.
constexpr qsizetype pieceChars = 16 * 1024;

// Appends the bytes to the replacement once they make a piece, or at the end when `last`.
bool flushPiece(FileReplacement &out, QByteArray &bytes, bool last)
{
    if (bytes.size() < pieceChars && !(last && !bytes.isEmpty()))
        return true;
    const bool written = out.write(bytes);
    bytes.resize(0);
    return written;
}

// The students in code-point order of their keys, for sorted rows; otherwise nothing, and the
// rows follow the table at no cost in memory.
std::vector<quint32> rowOrder(const StudentTable &students, bool sorted)
{
    if (!sorted)
        return {};
    std::vector<quint32> order(size_t(students.size()));
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&students](quint32 a, quint32 b) {
        return Gradebook::codePointLess(students.keyAt(a), students.keyAt(b));
    });
    return order;
}

// The file's lines, one per student. The new file replaces the old one only once every byte is
// on disk, so a failure leaves the old file as it was and no partial file behind.
//
// The plain file is the window's own: no header, the locale's encoding, which a spreadsheet on
// the same machine reads. When that encoding cannot hold a key, the file is UTF-8 with a
// byte-order mark instead, lossless and read as UTF-8 by spreadsheets and grade books. A
// grade-book layout is UTF-8 with its header row.
bool writeCsv(ExportFile &file, const Gradebook::Options &options, const QString &assignment)
{
    FileReplacement out(file.filePath);
    if (!out.open())
        return false;
    const StudentTable &students = file.students;
    const bool plain = options.layout == Gradebook::Layout::Plain;
    const bool unicode = plain && !localEncodingHolds(students);
    const auto encoded = [unicode](const QString &text) {
        return unicode ? text.toUtf8() : text.toLocal8Bit();
    };
    const std::vector<quint32> order = rowOrder(students, options.sorted());
    const Gradebook::Identity nobody;

    QByteArray bytes;
    if (unicode)
        bytes += "\xEF\xBB\xBF";
    if (!plain) {
        if (options.byteOrderMark)
            bytes += "\xEF\xBB\xBF";
        bytes += Gradebook::headerRow(options.layout, assignment);
    }
    QString text;
    text.reserve(pieceChars + 64);
    for (quint32 row = 0; row < quint32(students.size()); ++row) {
        const quint32 i = order.empty() ? row : order[row];
        const Gradebook::Identity &identity =
            i < quint32(file.identities.size()) ? file.identities[i] : nobody;
        if (options.requireId && identity.id.isEmpty()) {
            file.withoutId << (identity.name.isEmpty() ? identity.label : identity.name);
            continue;
        }
        const int grade = gradeFor(students.correctAt(i), file.questionCount);
        ++file.rowsWritten;
        if (!plain) {
            bytes += Gradebook::studentRow(options.layout, students.keyAt(i).toString(), identity,
                                           grade);
            if (!flushPiece(out, bytes, false))
                return false;
            continue;
        }
        appendField(text, students.keyAt(i));
        text += u',';
        appendNumber(text, grade);
        text += u"\r\n";
        if (text.size() >= pieceChars) {
            bytes += encoded(text);
            text.resize(0);
            if (!flushPiece(out, bytes, false))
                return false;
        }
    }
    bytes += encoded(text);
    return flushPiece(out, bytes, true) && out.commit();
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

    const QString filePath = key == QLatin1String("NULL")
                                 ? stem + QLatin1String(".csv")
                                 : stem + QLatin1Char('_') + key + QLatin1String(".csv");
    ExportFile file;
    file.key = key;
    file.filePath = filePath;
    file.baseName = QFileInfo(filePath).baseName();
    file.students = StudentTable(&questions);
    file.documentName = QFileInfo(stem).fileName();
    return exportFiles.emplace(key, std::move(file)).first->second;
}

void exportDatabase::tallyCorrect()
{
    for (auto &entry : exportFiles)
        entry.second.students.tallyCorrect();
}

void exportDatabase::writeCsvFiles(const QString &folder)
{
    tallyCorrect();
    failedFiles = 0;

    // One file after another, on the calling thread: each is written whole before the next.
    for (auto &entry : exportFiles) {
        ExportFile &file = entry.second;
        const QString nativePath = QDir::toNativeSeparators(file.filePath);
        const QString shownName = file.baseName + QLatin1String(".csv");

        logEmptyLine();
        logLine(QStringLiteral("Creating export file %1").arg(nativePath));
        logEmptyLine();

        file.written = false;
        file.rowsWritten = 0;
        file.withoutId.clear();
        const QString assignment = Gradebook::assignmentName(
            gradebook, file.documentName, file.key == QLatin1String("NULL") ? QString() : file.key);
        file.written = isSafeFileKey(file.key) && !isDeviceName(file.baseName) &&
                       writeCsv(file, gradebook, assignment);
        if (!file.written) {
            file.rowsWritten = 0;
            file.withoutId.clear();
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
