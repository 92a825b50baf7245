#include "startup.h"

#include "diagnostics.h"
#include "gui.h"
#include "windowrules.h"

#include <QApplication>
#include <QIcon>

#include <cstring>

namespace {

QtMessageHandler nextHandler = nullptr;

void routeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && context.category &&
        std::strcmp(context.category, diagnosticsCategoryName) == 0) {
        // The default format names no category for "default".
        const QMessageLogContext bare(context.file, context.line, context.function, "default");
        nextHandler(type, bare, message);
        return;
    }
    nextHandler(type, context, message);
}

} // namespace

QString programVersion()
{
    return QStringLiteral("Version " SCORLET_VERSION);
}

void installDiagnosticOutput()
{
    // Hands back Qt's own handler when no other was installed.
    nextHandler = qInstallMessageHandler(routeMessage);
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
