#pragma once

#include <QSize>
#include <QString>

class gui;

QString programVersion();

// Diagnostic lines, when switched on, reach the platform's debug output as the bare lines
// they are, without the category name that the default message format puts before them.
// Every other message goes on as before.
void installDiagnosticOutput();

// What the entry point does between creating the main window and showing it: the version,
// the application-wide window icon, size and place on a desktop of `desktop` pixels, the
// title, the remembered folder and the start-up guide, in that order.
void prepareMainWindow(gui &window, const QSize &desktop);
