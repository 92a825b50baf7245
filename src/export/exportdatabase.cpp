#include "exportdatabase.h"

#include "diagnostics.h"
#include "filereplacement.h"
#include "seams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>

#include <algorithm>
#include <numeric>
#include <utility>
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
bool writeCsv(ExportFile &file, const Gradebook::Options &options, const QString &assignment,
              LeftoverSweep &sweep)
{
    FileReplacement out(file.filePath(), &sweep);
    const auto failed = [&] {
        file.error = out.error();
        return false;
    };
    if (!out.open())
        return failed();
    const StudentTable &students = std::as_const(file).students();
    const bool plain = options.layout == Gradebook::Layout::Plain;
    const bool unicode = plain && !localEncodingHolds(students);
    const auto encoded = [unicode](const QString &text) {
        return unicode ? text.toUtf8() : text.toLocal8Bit();
    };
    const std::vector<quint32> order = rowOrder(students, options.sorted());

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
        const Gradebook::Identity identity =
            options.needsIdentity() ? file.identity(i) : Gradebook::Identity();
        if (options.requireId && identity.id.isEmpty()) {
            file.leaveOut(i);
            continue;
        }
        const int grade = gradeFor(students.correctAt(i), file.questionCount);
        ++file.rowsWritten;
        if (!plain) {
            bytes += Gradebook::studentRow(options.layout, students.keyAt(i).toString(), identity,
                                           grade);
            if (!flushPiece(out, bytes, false))
                return failed();
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
                return failed();
        }
    }
    bytes += encoded(text);
    if (!flushPiece(out, bytes, true) || !out.commit())
        return failed();
    file.synced = out.synced();
    file.error = out.error();
    return true;
}

// A grade column's name: the document's base name, or its whole file name when the base name
// is empty, since an empty header would leave the grade book a column without a name.
QString documentName(const ExportFile &file, const QString &documentFileName)
{
    const QString baseName = QFileInfo(file.stem()).fileName();
    return baseName.isEmpty() ? documentFileName : baseName;
}

// Where each of a student's id, name and label comes from, two bits each: not given by any
// response so far, the same text as the student's key (which the student table keeps), or a
// text of its own. One more bit marks a student left out for want of an id.
enum IdentitySource : quint8 { unknownText = 0, keyText = 1, ownText = 2 };
constexpr int identityFields = 3;
constexpr quint8 leftOutBit = 0x40;

IdentitySource sourceOf(quint8 sources, int field)
{
    return IdentitySource((sources >> (2 * field)) & 3);
}

} // namespace

// A student's own identity texts are few (most students are known by their id, and their key
// is that id), so they are found through a hash of student and field, and a student whose
// texts are all the key costs one byte.
struct ExportFile::Students
{
    explicit Students(const QuestionCatalogue *questions)
        : table(questions), seed(QHashSeed::globalSeed())
    {
    }

    std::size_t hashOf(quint32 student, int field) const
    {
        return qHash(quint64(student) * identityFields + quint64(field), seed);
    }
    qint64 findText(quint32 student, int field) const
    {
        const std::size_t hash = hashOf(student, field);
        for (quint32 entry = textChains.first(hash); entry != HashChains::end;
             entry = textChains.next(entry)) {
            if (textPlaces[entry].student == student && textPlaces[entry].field == quint32(field))
                return textPlaces[entry].position;
        }
        return -1;
    }
    void addText(quint32 student, int field, const QString &text)
    {
        textPlaces.reserveOne();
        textChains.reserveOne();
        const quint32 position = texts.add(text);
        textPlaces.pushReserved(TextPlace{student, quint32(field), position});
        textChains.linkReserved(hashOf(student, field), [this](quint32 entry) {
            return hashOf(textPlaces[entry].student, int(textPlaces[entry].field));
        });
    }

    StudentTable table;
    // By student number, for as many students as identities were noted for.
    ChunkedArray<quint8> sources;
    struct TextPlace
    {
        quint32 student;
        quint32 field;
        quint32 position;
    };
    ChunkedArray<TextPlace> textPlaces;
    HashChains textChains;
    KeyArena texts;
    std::size_t seed;
    qsizetype leftOut = 0;
};

// A page routed to a file of its own costs the reader about as much as the page's bytes allow
// (see docs/performance.md); what is left of the memory bound is about a file's record.
static_assert(sizeof(void *) != 8 || sizeof(ExportFile) <= 40, "a file's record grew");

ExportFile::ExportFile(ExportFiles *table, quint32 index, quint32 stem)
    : m_table(table), m_index(index), m_stem(stem)
{
}

ExportFile::~ExportFile() = default;

QString ExportFile::key() const
{
    return m_table->m_keys.key(m_index).toString();
}

QString ExportFile::stem() const
{
    return m_table->m_stems.at(m_stem);
}

QString ExportFile::filePath() const
{
    const QStringView key = m_table->m_keys.key(m_index);
    QString path = stem();
    if (key != QLatin1String("NULL")) {
        path += QLatin1Char('_');
        path += key;
    }
    return path + QLatin1String(".csv");
}

QString ExportFile::baseName() const
{
    // QFileInfo's base name, worked out on the text: a document may have a million files.
    const QString path = filePath();
    const QStringView name = QStringView(path).mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return (dot < 0 ? name : name.left(dot)).toString();
}

QList<int> ExportFile::pages() const
{
    QList<int> pages;
    const ChunkedArray<ExportFiles::PagePlace> &places = m_table->m_pages;
    for (quint32 i = 0; i < places.size(); ++i) {
        if (places[i].file == m_index)
            pages.append(places[i].page);
    }
    return pages;
}

void ExportFile::addPage(int page)
{
    m_table->m_pages.push(ExportFiles::PagePlace{page, m_index});
}

const StudentTable &ExportFile::students() const
{
    static const StudentTable none;
    return m_students ? m_students->table : none;
}

StudentTable &ExportFile::editStudents()
{
    if (!m_students)
        m_students = std::make_unique<Students>(m_table->m_questions);
    return m_students->table;
}

bool ExportFile::identityComplete(quint32 student) const
{
    if (!m_students || student >= m_students->sources.size())
        return false;
    const quint8 sources = m_students->sources[student];
    for (int field = 0; field < identityFields; ++field) {
        if (sourceOf(sources, field) == unknownText)
            return false;
    }
    return true;
}

void ExportFile::noteIdentity(quint32 student, const QString &id, const QString &name,
                              const QString &label)
{
    Students &students = *m_students;
    ChunkedArray<quint8> &sources = students.sources;
    while (sources.size() <= student)
        sources.push(0);
    const QStringView key = students.table.keyAt(student);
    const QString *const texts[identityFields] = {&id, &name, &label};
    for (int field = 0; field < identityFields; ++field) {
        const QString &text = *texts[field];
        if (text.isEmpty() || sourceOf(sources[student], field) != unknownText)
            continue;
        IdentitySource source = keyText;
        if (text != key) {
            students.addText(student, field, text);
            source = ownText;
        }
        sources[student] |= quint8(source << (2 * field));
    }
}

Gradebook::Identity ExportFile::identity(quint32 student) const
{
    if (!m_students || student >= m_students->sources.size())
        return Gradebook::Identity();
    const Students &students = *m_students;
    const quint8 sources = students.sources[student];
    QString texts[identityFields];
    for (int field = 0; field < identityFields; ++field) {
        switch (sourceOf(sources, field)) {
        case keyText:
            texts[field] = students.table.keyAt(student).toString();
            break;
        case ownText:
            texts[field] = students.texts.at(quint32(students.findText(student, field))).toString();
            break;
        default:
            break;
        }
    }
    return Gradebook::Identity{texts[0], texts[1], texts[2]};
}

qsizetype ExportFile::withoutIdCount() const
{
    return m_students ? m_students->leftOut : 0;
}

void ExportFile::forEachWithoutId(const std::function<void(const QString &name)> &visit) const
{
    if (withoutIdCount() == 0)
        return;
    const ChunkedArray<quint8> &sources = m_students->sources;
    for (quint32 student = 0; student < sources.size(); ++student) {
        if (!(sources[student] & leftOutBit))
            continue;
        const Gradebook::Identity who = identity(student);
        visit(who.name.isEmpty() ? who.label : who.name);
    }
}

QStringList ExportFile::withoutId() const
{
    QStringList names;
    forEachWithoutId([&names](const QString &name) { names << name; });
    return names;
}

void ExportFile::leaveOut(quint32 student)
{
    ChunkedArray<quint8> &sources = m_students->sources;
    while (sources.size() <= student)
        sources.push(0);
    if (!(sources[student] & leftOutBit)) {
        sources[student] |= leftOutBit;
        ++m_students->leftOut;
    }
}

void ExportFile::clearLeftOut()
{
    if (!m_students || m_students->leftOut == 0)
        return;
    ChunkedArray<quint8> &sources = m_students->sources;
    for (quint32 student = 0; student < sources.size(); ++student)
        sources[student] &= quint8(~leftOutBit);
    m_students->leftOut = 0;
}

ExportFile &ExportFiles::add(const QString &key, const QString &stem)
{
    const qint64 existing = m_keys.indexOf(key);
    if (existing >= 0)
        return m_files[std::size_t(existing)];
    // Every step that may fail comes before the key is taken, so that a failure leaves no
    // key without its record.
    if (m_stems.isEmpty() || m_stems.constLast() != stem)
        m_stems.append(stem);
    const quint32 index = quint32(m_files.size());
    m_files.emplace_back(this, index, quint32(m_stems.size() - 1));
    bool added = false;
    try {
        m_keys.findOrAdd(key, added);
    } catch (...) {
        m_files.pop_back();
        throw;
    }
    return m_files.back();
}

ExportFile *ExportFiles::find(QStringView key)
{
    const qint64 index = m_keys.indexOf(key);
    return index < 0 ? nullptr : &m_files[std::size_t(index)];
}

const ExportFile *ExportFiles::find(QStringView key) const
{
    const qint64 index = m_keys.indexOf(key);
    return index < 0 ? nullptr : &m_files[std::size_t(index)];
}

void ExportFiles::clear()
{
    m_files.clear();
    m_keys.clear();
    m_stems.clear();
    m_pages.clear();
    std::vector<quint32>().swap(m_order);
}

void ExportFiles::releaseUnwrittenStudents() noexcept
{
    for (ExportFile &file : m_files) {
        if (!file.written)
            file.m_students.reset();
    }
}

const std::vector<quint32> &ExportFiles::inKeyOrder() const
{
    if (m_order.size() != m_files.size()) {
        m_order.resize(m_files.size());
        std::iota(m_order.begin(), m_order.end(), 0u);
        std::sort(m_order.begin(), m_order.end(),
                  [this](quint32 a, quint32 b) { return m_keys.key(a) < m_keys.key(b); });
    }
    return m_order;
}

void exportDatabase::clear()
{
    questions.clear();
    if (log)
        log->clear();
    exportFiles.clear();
}

ExportFile &exportDatabase::addExportFile(const QString &key, const QString &stem)
{
    return exportFiles.add(key, stem);
}

void exportDatabase::tallyCorrect()
{
    for (ExportFile &file : exportFiles) {
        if (!file.students().isEmpty())
            file.editStudents().tallyCorrect();
    }
}

void exportDatabase::writeCsvFiles(const QString &folder)
{
    tallyCorrect();
    failedFiles = 0;
    LeftoverSweep sweep;
    // The files of a run share its stem, and so the name of their grade column.
    QString stem;
    QString columnName;

    // One file after another, on the calling thread: each is written whole before the next.
    for (ExportFile &file : exportFiles) {
        const QString nativePath = QDir::toNativeSeparators(file.filePath());
        const QString baseName = file.baseName();
        const QString shownName = baseName + QLatin1String(".csv");

        logEmptyLine();
        logLine(QStringLiteral("Creating export file %1").arg(nativePath));
        logEmptyLine();

        file.written = false;
        file.synced = false;
        file.error = 0;
        file.rowsWritten = 0;
        file.clearLeftOut();
        const QString key = file.key();
        if (stem.isNull() || file.stem() != stem) {
            stem = file.stem();
            columnName = documentName(file, documentFileName);
        }
        const QString assignment = Gradebook::assignmentName(
            gradebook, columnName, key == QLatin1String("NULL") ? QString() : key);
        file.written = isSafeFileKey(key) && !isDeviceName(baseName) &&
                       writeCsv(file, gradebook, assignment, sweep);
        if (!file.written) {
            file.rowsWritten = 0;
            file.clearLeftOut();
            ++failedFiles;
            logLine(QStringLiteral("FAILED to create CSV file."));
            logLine(QStringLiteral("The file could be locked or opened by another application."));
            continue;
        }

        // A file whose folder could not be flushed still stands at its name, new and whole:
        // the log says so, and the caller learns from `synced` that a power cut may undo it.
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
