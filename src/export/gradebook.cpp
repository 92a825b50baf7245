#include "gradebook.h"

#include <QList>

namespace Gradebook {

namespace {

// What one column of a layout holds.
enum class Column { Key, Id, Name, Empty, Grade };

struct LayoutColumns
{
    const char *name;
    // The header cells; the grade column's cell is the assignment's name.
    QList<const char *> headers;
    QList<Column> columns;
    // Blackboard's comma-separated upload wants every field in quotes.
    bool quoteAll = false;
};

// The header texts and columns follow each grade book's import documentation (see
// docs/gradebooks.md for the pages): a student identifier column it matches on, a name
// column for the teacher, and one grade column.
const LayoutColumns &layoutOf(Layout layout)
{
    static const LayoutColumns layouts[] = {
        {"plain", {nullptr, nullptr}, {Column::Key, Column::Grade}},
        {"header", {"Student", nullptr}, {Column::Key, Column::Grade}},
        {"moodle", {"ID number", "Full name", nullptr}, {Column::Id, Column::Name, Column::Grade}},
        {"canvas",
         {"Student", "ID", "SIS User ID", "SIS Login ID", "Section", nullptr},
         {Column::Name, Column::Empty, Column::Id, Column::Empty, Column::Empty, Column::Grade}},
        {"blackboard",
         {"Last Name", "First Name", "Username", nullptr},
         {Column::Name, Column::Empty, Column::Id, Column::Grade},
         true},
        {"schoology",
         {"Unique User ID", "Name", nullptr},
         {Column::Id, Column::Name, Column::Grade}},
    };
    return layouts[int(layout)];
}

constexpr Layout allLayouts[] = {Layout::Plain,  Layout::Header,     Layout::Moodle,
                                 Layout::Canvas, Layout::Blackboard, Layout::Schoology};

const QByteArray lineEnd = QByteArrayLiteral("\r\n");

} // namespace

QStringList layoutNames()
{
    QStringList names;
    for (Layout layout : allLayouts)
        names << QLatin1String(layoutOf(layout).name);
    return names;
}

std::optional<Layout> layoutNamed(QStringView name)
{
    for (Layout layout : allLayouts) {
        if (name == QLatin1String(layoutOf(layout).name))
            return layout;
    }
    return std::nullopt;
}

QString assignmentName(const Options &options, const QString &stem, const QString &fileKey)
{
    if (!options.assignment.isEmpty())
        return options.assignment;
    return fileKey.isEmpty() ? stem : stem + QLatin1Char(' ') + fileKey;
}

bool codePointLess(QStringView a, QStringView b)
{
    // Equal UTF-16 units up to the first difference; only there can a surrogate reorder.
    const qsizetype common = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x == y)
            continue;
        // A surrogate stands for a code point above every BMP character.
        const bool xHigh = QChar::isSurrogate(x);
        const bool yHigh = QChar::isSurrogate(y);
        if (xHigh != yHigh)
            return yHigh;
        return x < y;
    }
    return a.size() < b.size();
}

QByteArray csvField(const QString &text, bool always)
{
    const QByteArray utf8 = text.toUtf8();
    const bool quote = always || utf8.contains(',') || utf8.contains('"') || utf8.contains('\r') ||
                       utf8.contains('\n');
    if (!quote)
        return utf8;
    QByteArray field;
    field.reserve(utf8.size() + 2);
    field += '"';
    for (char c : utf8) {
        if (c == '"')
            field += '"';
        field += c;
    }
    field += '"';
    return field;
}

QByteArray headerRow(Layout layout, const QString &assignment)
{
    const LayoutColumns &shape = layoutOf(layout);
    QByteArray row;
    for (qsizetype i = 0; i < shape.headers.size(); ++i) {
        if (i > 0)
            row += ',';
        const char *header = shape.headers[i];
        row += csvField(header ? QString::fromLatin1(header) : assignment, shape.quoteAll);
    }
    return row + lineEnd;
}

QByteArray studentRow(Layout layout, const QString &key, const Identity &identity, int grade)
{
    const LayoutColumns &shape = layoutOf(layout);
    QByteArray row;
    for (qsizetype i = 0; i < shape.columns.size(); ++i) {
        if (i > 0)
            row += ',';
        QString text;
        switch (shape.columns[i]) {
        case Column::Key:
            text = key;
            break;
        case Column::Id:
            text = identity.id;
            break;
        case Column::Name:
            // The teacher's way of telling whose row it is when no name was given.
            text = identity.name.isEmpty() ? identity.label : identity.name;
            break;
        case Column::Empty:
            break;
        case Column::Grade:
            text = QString::number(grade);
            break;
        }
        row += csvField(text, shape.quoteAll);
    }
    return row + lineEnd;
}

} // namespace Gradebook
