#pragma once

#include <QPoint>
#include <QString>

class QAction;
class QMenu;
class QWidget;

// Everything the main window asks of the user and waits for: the open-file dialog, the
// information and about boxes and the recent-documents popup. The window owns one; tests
// replace it with one that answers at once.
class GuiPrompts
{
public:
    virtual ~GuiPrompts();

    // The chosen path, or an empty string when the user cancelled.
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &folder,
                                 const QString &filter);
    // An information box with a single Ok button; the text is shown as written.
    virtual void information(QWidget *parent, const QString &title, const QString &text);
    virtual void about(QWidget *parent, const QString &title, const QString &text);
    // Shows `menu` at `at` with no entry preselected; null when dismissed.
    virtual QAction *popup(QMenu &menu, const QPoint &at);
};
