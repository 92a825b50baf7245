#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Grade-book layouts: the CSV a grade book imports without editing. `Plain` is the export's
// own file (no header, the student key unquoted, in the locale's encoding) and is written by
// the engine's default path; every other layout is UTF-8 with a header row, RFC 4180
// quoting and CR LF line ends, its rows in code-point order of the student key.
namespace Gradebook {

enum class Layout { Plain, Header, Moodle, Canvas, Blackboard, Schoology };

// "plain", "header", "moodle", ... in the order of Layout.
QStringList layoutNames();
std::optional<Layout> layoutNamed(QStringView name);

// Who a row is for, from the student's first response: any of them may be empty.
struct Identity
{
    QString id;
    QString name;
    QString label;
};

// What a caller asks of the files beyond the default.
struct Options
{
    Layout layout = Layout::Plain;
    // Names the grade column instead of the document's base name and file key.
    QString assignment;
    bool byteOrderMark = false;
    // Rows in code-point order of the key; every layout but Plain sorts anyway.
    bool sort = false;
    // Students without a student id are left out of the file (and reported by the caller).
    bool requireId = false;

    bool needsIdentity() const { return layout != Layout::Plain || requireId; }
    bool sorted() const { return sort || layout != Layout::Plain; }
};

// The grade column's name: `assignment` when given, else the document's base name and, for
// a keyword file, a blank and the file key ("fractions-week3 PERIOD 2").
QString assignmentName(const Options &options, const QString &stem, const QString &fileKey);

// Whether `a` comes before `b` in Unicode code-point order (QString's own order compares
// UTF-16 units, which puts U+10000 and above before U+E000..U+FFFF).
bool codePointLess(QStringView a, QStringView b);

// The header row and one student's row of a layout other than Plain, each with its CR LF.
QByteArray headerRow(Layout layout, const QString &assignment);
QByteArray studentRow(Layout layout, const QString &key, const Identity &identity, int grade);

// The field as RFC 4180 wants it: in quotes, with each quote doubled, when it holds a comma,
// a quote or a line break, or when `always`.
QByteArray csvField(const QString &text, bool always = false);

} // namespace Gradebook
