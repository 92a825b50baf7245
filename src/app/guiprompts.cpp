#include "guiprompts.h"

#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

GuiPrompts::~GuiPrompts() = default;

QString GuiPrompts::openFileName(QWidget *parent, const QString &caption, const QString &folder,
                                 const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

void GuiPrompts::information(QWidget *parent, const QString &title, const QString &text)
{
    // The engine's notices carry question texts from the document; as plain text a "<" in
    // them can never turn the box into rich text.
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void GuiPrompts::about(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::about(parent, title, text);
}

QAction *GuiPrompts::popup(QMenu &menu, const QPoint &at)
{
    return menu.exec(at);
}
