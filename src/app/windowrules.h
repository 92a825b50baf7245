#pragma once

#include <QPoint>
#include <QSize>
#include <QString>

// Where the main window first appears: half the desktop's width and height, centred on it.
struct WindowPlacement
{
    QSize size;
    QPoint position;
};
WindowPlacement placementOnDesktop(const QSize &desktop);

QString windowTitleFor(const QString &version);

// The text of a recent-documents entry: its 1-based position, a space and the path. A menu
// takes "&" as a mnemonic marker, so it is doubled to show the path as it is.
QString recentEntryText(int position, const QString &path);
