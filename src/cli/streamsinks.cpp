#include "streamsinks.h"

#include "diagnostics.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#else
#include <qt_windows.h>
#endif

namespace {

bool verboseDiagnostics = false;
// Per standard stream number: the error that a write to it reports because it was closed
// when the program started, or 0.
int closedAtStart[3] = {0, 0, 0};
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
    // Qt's message functions let nothing through: short of memory, the message is still
    // said, if not whole.
    try {
        if (diagnosticLine) {
            // Without --verbose such lines are not even built; this is a second guard.
            if (verboseDiagnostics)
                writeLine(stderr, message);
            return;
        }
        writeLine(stderr, QStringLiteral("scorlet-export: ") + message);
    } catch (const std::bad_alloc &) {
        std::fputs("scorlet-export: a message was lost for want of memory\n", stderr);
    }
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

QString withControlsEscaped(const QString &text)
{
    const auto isControl = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F);
    };
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return text;
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (!isControl(c)) {
            escaped += c;
            continue;
        }
        switch (c.unicode()) {
        case u'\n':
            escaped += QLatin1String("\\n");
            break;
        case u'\r':
            escaped += QLatin1String("\\r");
            break;
        case u'\t':
            escaped += QLatin1String("\\t");
            break;
        default:
            escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        }
    }
    return escaped;
}

bool writeLine(FILE *stream, const QString &line, int *error)
{
    // Named by the stream: a stream without a handle may have no number on Windows.
    const int number = stream == stdout ? 1 : stream == stderr ? 2 : fileno(stream);
    if (number >= 0 && number < 3 && closedAtStart[number] != 0) {
        if (error)
            *error = closedAtStart[number];
        return false;
    }
    if (std::ferror(stream))
        return false;
    // Standard error is read on a terminal, and texts from a document reach it: a name must
    // not be able to clear the screen or forge a line of its own.
    QByteArray bytes = (stream == stderr ? withControlsEscaped(line) : line).toLocal8Bit();
    bytes.append('\n');
    errno = 0;
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size()) &&
        std::fflush(stream) == 0;
#ifdef Q_OS_WIN
    // The C run-time reports a pipe whose reader has gone as an invalid argument.
    if (!written && (GetLastError() == ERROR_NO_DATA || GetLastError() == ERROR_BROKEN_PIPE))
        errno = EPIPE;
#endif
    if (!written && error)
        *error = errno != 0 ? errno : EIO;
    return written;
}

void holdClosedStandardStreams()
{
#ifdef Q_OS_UNIX
    for (int number = 0; number < 3; ++number) {
        if (fcntl(number, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() takes the lowest free number, which is this one.
        const int held = open("/dev/null", O_RDWR);
        if (held == number)
            closedAtStart[number] = EBADF;
        else if (held >= 0)
            close(held);
    }
#else
    // A program started without a stream has no handle for it, and writes to it vanish.
    const DWORD streams[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int number = 0; number < 3; ++number) {
        const HANDLE handle = GetStdHandle(streams[number]);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
            closedAtStart[number] = EBADF;
    }
#endif
}

void ignoreBrokenPipes()
{
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

void StreamLogSink::appendLine(const QString &line)
{
    int error = 0;
    if (!writeLine(m_stream, line, &error) && m_error == 0)
        m_error = error != 0 ? error : EIO;
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
