#include "streamsinks.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>

namespace {

bool verboseDiagnostics = false;

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool defaultCategory =
        context.category == nullptr || std::strcmp(context.category, "default") == 0;
    if (type == QtDebugMsg && defaultCategory) {
        // Normally such lines are not even built without --verbose; this also holds when
        // QT_LOGGING_RULES switches them back on.
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
}
