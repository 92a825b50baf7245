#include "logviewsink.h"

#include "busycursor.h"
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
    if (!prompts)
        return;
    // The box comes in the middle of an export; it waits for a click, so it gets the normal
    // cursor, and the wait cursor comes back when it is closed.
    const NormalCursor forTheBox;
    prompts->information(nullptr, title, text);
}
