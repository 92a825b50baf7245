#pragma once

#include <QSize>
#include <QString>

class gui;

QString programVersion();

// What the entry point does between creating the main window and showing it: the version,
// the application-wide window icon, size and place on a desktop of `desktop` pixels, the
// title, the remembered folder and the start-up guide, in that order.
void prepareMainWindow(gui &window, const QSize &desktop);
