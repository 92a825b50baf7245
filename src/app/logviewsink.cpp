#include "logviewsink.h"

#include "guiprompts.h"

#include <QPlainTextEdit>

void LogViewSink::appendLine(const QString &line)
{
    view.appendPlainText(line);
}

void LogViewSink::clear()
{
    view.clear();
}

void PromptNoticeSink::notice(const QString &title, const QString &text)
{
    if (prompts)
        prompts->information(nullptr, title, text);
}
