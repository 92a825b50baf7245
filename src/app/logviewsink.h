#pragma once

#include "seams.h"

class GuiPrompts;
class QPlainTextEdit;

// The engine's log, shown in the main window's log view.
class LogViewSink : public LogSink
{
public:
    explicit LogViewSink(QPlainTextEdit &view) : view(view) {}
    void appendLine(const QString &line) override;
    void clear() override;

private:
    QPlainTextEdit &view;
};

// The engine's notices, shown as information boxes without a parent window.
class PromptNoticeSink : public NoticeSink
{
public:
    void setPrompts(GuiPrompts *prompts) { this->prompts = prompts; }
    void notice(const QString &title, const QString &text) override;

private:
    GuiPrompts *prompts = nullptr;
};
