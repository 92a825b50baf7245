#include "streamsinks.h"

#include "diagnostics.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>

namespace {

bool verboseDiagnostics = false;
QLoggingCategory::CategoryFilter previousFilter = nullptr;

// The command line has the last word on diagnostics, over QT_LOGGING_RULES and logging
// configuration files: --verbose always shows them, and without it the engine, which asks
// before it builds a line, does not even build them. The filter also runs while the
// diagnostics category itself is being made, so it goes by the name alone.
void filterCategories(QLoggingCategory *category)
{
    if (previousFilter)
        previousFilter(category);
    if (std::strcmp(category->categoryName(), diagnosticsCategoryName) == 0)
        category->setEnabled(QtDebugMsg, verboseDiagnostics);
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool diagnosticLine = type == QtDebugMsg && context.category != nullptr &&
                                std::strcmp(context.category, diagnosticsCategoryName) == 0;
    if (diagnosticLine) {
        // Without --verbose such lines are not even built; this is a second guard.
        if (verboseDiagnostics)
            writeLine(stderr, message);
        return;
    }
    writeLine(stderr, QStringLiteral("scorlet-export: ") + message);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void writeLine(FILE *stream, const QString &line)
{
    QByteArray bytes = line.toLocal8Bit();
    bytes.append('\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void StreamLogSink::appendLine(const QString &line)
{
    writeLine(m_stream, line);
}

void StreamNoticeSink::notice(const QString &title, const QString &text)
{
    // A question text may span lines; the notice must stay one line for whoever reads the
    // stream line by line.
    QString flat = text;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    writeLine(m_stream, title + QLatin1String(": ") + flat);
}

void installMessageHandler()
{
    qInstallMessageHandler(handleMessage);
}

void setVerboseDiagnostics(bool verbose)
{
    verboseDiagnostics = verbose;
    static bool filterInstalled = false;
    if (!filterInstalled) {
        filterInstalled = true;
        previousFilter = QLoggingCategory::installFilter(filterCategories);
    } else {
        // Rerun the filters over every category.
        QLoggingCategory::setFilterRules(QString());
    }
}
