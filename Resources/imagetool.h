#ifndef SCORLET_IMAGETOOL_H
#define SCORLET_IMAGETOOL_H

// The frame shared by the programs that draw the application's images: each takes the folder
// it writes into as its only argument.

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

// Runs write on the folder named by the only argument: 0 when it wrote everything, 1 when it
// did not, 2 after printing the usage line when the arguments are wrong.
template <typename Write>
int runImageTool(int argc, char **argv, const char *usage, Write &&write)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << usage << '\n';
        return 2;
    }
    return write(QDir(QString::fromLocal8Bit(argv[1]))) ? 0 : 1;
}

#endif // SCORLET_IMAGETOOL_H
