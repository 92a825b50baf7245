#include "gui.h"
#include "startup.h"

#include <QApplication>
#include <QScreen>

#include <memory>

int main(int argc, char **argv)
{
    // The images are compiled into the window's static library; pull them in.
    Q_INIT_RESOURCE(scorlet);
    installDiagnosticOutput();

    QCoreApplication::setOrganizationName(QStringLiteral("Zentriq"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("zentriq.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Scorlet"));

    QApplication app(argc, argv);
    // Lets desktops match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.zentriq.Scorlet"));

    auto window = std::make_unique<gui>();
    // The whole virtual desktop, read once; only its size counts, not its origin.
    const QScreen *screen = QGuiApplication::primaryScreen();
    prepareMainWindow(*window, screen ? screen->virtualGeometry().size() : QSize());
    window->show();

    return app.exec();
}
