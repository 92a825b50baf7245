#include "cliapp.h"
#include "streamsinks.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    holdClosedStandardStreams();
    ignoreBrokenPipes();
    installMessageHandler();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("scorlet-export"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SCORLET_VERSION));
    return runCli(QCoreApplication::arguments().mid(1));
}
