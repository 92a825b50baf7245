#include "startup.h"

#include "gui.h"
#include "windowrules.h"

#include <QApplication>
#include <QIcon>

QString programVersion()
{
    return QStringLiteral("Version " SCORLET_VERSION);
}

void prepareMainWindow(gui &window, const QSize &desktop)
{
    window.version = programVersion();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/scorlet/Resources/zezadidbg.bmp")));

    if (desktop.isValid()) {
        const WindowPlacement placement = placementOnDesktop(desktop);
        window.resize(placement.size);
        window.move(placement.position);
    }

    window.setWindowTitle(windowTitleFor(window.version));
    window.lastFolder =
        window.settings.value(QStringLiteral("plexDirectory"), QString()).toString();
    window.writeStartupGuide();
}
