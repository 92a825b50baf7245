#include "gui.h"
#include "windowrules.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

#include <memory>

int main(int argc, char **argv)
{
    // The images are compiled into the window's static library; pull them in.
    Q_INIT_RESOURCE(scorlet);

    QCoreApplication::setOrganizationName(QStringLiteral("Zentriq"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("zentriq.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Scorlet"));

    QApplication app(argc, argv);

    auto window = std::make_unique<gui>();
    window->version = QStringLiteral("Version 1.0.0.8");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/scorlet/Resources/zezadidbg.bmp")));

    // The whole virtual desktop; only its size counts, not its origin.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const WindowPlacement placement = placementOnDesktop(screen->virtualGeometry().size());
        window->resize(placement.size);
        window->move(placement.position);
    }
    window->setWindowTitle(windowTitleFor(window->version));
    window->lastFolder =
        window->settings.value(QStringLiteral("plexDirectory"), QString()).toString();
    window->writeStartupGuide();
    window->show();

    return app.exec();
}
