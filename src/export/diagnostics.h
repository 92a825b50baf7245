#pragma once

#include <QDebug>
#include <QLoggingCategory>
#include <QString>

// Diagnostic lines go to the default category's debug output, one message per line, as
// built. Callers test diagnosticsEnabled() before building a line, so that a run whose
// diagnostics are switched off (scorlet-export without --verbose) does not pay for them.
inline bool diagnosticsEnabled()
{
    return QLoggingCategory::defaultCategory()->isDebugEnabled();
}

inline void diagnostic(const QString &line)
{
    qDebug().noquote() << line;
}
