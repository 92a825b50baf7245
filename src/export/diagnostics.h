#pragma once

#include <QDebug>
#include <QLoggingCategory>
#include <QString>

// Diagnostic lines are the debug output of the category "scorlet.diagnostics", one message per
// line, as built. They carry every student's id, name and answer, so they are off unless asked
// for (QT_LOGGING_RULES="scorlet.diagnostics.debug=true", or scorlet-export --verbose): a
// program started from the desktop would otherwise copy them into the system log. Callers
// test diagnosticsEnabled() before building a line, so that a run without diagnostics does
// not pay for them.
inline constexpr char diagnosticsCategoryName[] = "scorlet.diagnostics";

inline QLoggingCategory &diagnosticsCategory()
{
    // Only the debug output starts off; the other levels are on, as for any category.
    static QLoggingCategory category(diagnosticsCategoryName, QtInfoMsg);
    return category;
}

inline bool diagnosticsEnabled()
{
    return diagnosticsCategory().isDebugEnabled();
}

inline void diagnostic(const QString &line)
{
    qCDebug(diagnosticsCategory()).noquote() << line;
}
