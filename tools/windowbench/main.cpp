// scorlet_window_bench: exports one Plexa document from the main window, as a user would
// through File, "Export Plexa to CSV", and prints how long the window was busy. The file
// dialog is answered at once with the document; everything else is the program's own code.
// The CSV files land next to the document, as the window always writes them.
//
//   QT_QPA_PLATFORM=offscreen scorlet_window_bench [--runs N] DOCUMENT.plexa
//
// One line per run on standard output, "window <slot ms> <shown ms>": the time from the
// click until the export slot returned, and until the window had also drawn the result.
// Exit status 1 when a run did not end with the export's closing lines or raised a notice.

#include "gui.h"
#include "startup.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

class AnsweringPrompts : public GuiPrompts
{
public:
    explicit AnsweringPrompts(const QString &document) : document(document) {}
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return document;
    }
    void information(QWidget *, const QString &, const QString &) override { ++notices; }
    void about(QWidget *, const QString &, const QString &) override {}
    QAction *popup(QMenu &, const QPoint &) override { return nullptr; }

    int notices = 0;

private:
    QString document;
};

int usage()
{
    std::fprintf(stderr, "usage: scorlet_window_bench [--runs N] DOCUMENT.plexa\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // The window remembers the document's folder; keep that out of the user's own settings.
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    Q_INIT_RESOURCE(scorlet);
    installDiagnosticOutput();
    QCoreApplication::setOrganizationName(QStringLiteral("Zentriq"));
    QCoreApplication::setApplicationName(QStringLiteral("Scorlet"));
    QApplication app(argc, argv);

    QStringList arguments = QCoreApplication::arguments().mid(1);
    int runs = 1;
    if (arguments.size() == 3 && arguments.at(0) == QLatin1String("--runs")) {
        bool ok = false;
        runs = arguments.at(1).toInt(&ok);
        if (!ok || runs < 1)
            return usage();
        arguments = arguments.mid(2);
    }
    if (arguments.size() != 1)
        return usage();

    gui window;
    auto prompts = std::make_unique<AnsweringPrompts>(arguments.first());
    AnsweringPrompts &asked = *prompts;
    window.setPrompts(std::move(prompts));
    prepareMainWindow(window, QSize(1920, 1080));
    window.show();
    QCoreApplication::processEvents();

    int status = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        window.exportAction->trigger();
        const qint64 slot = clock.nsecsElapsed();
        // What the event loop does next: lay out and draw the log's new lines.
        QCoreApplication::processEvents();
        const qint64 shown = clock.nsecsElapsed();
        std::printf("window %.1f %.1f\n", slot / 1e6, shown / 1e6);
        std::fflush(stdout);

        const QStringList log = window.logView.toPlainText().split(QLatin1Char('\n'));
        if (log.last() != QLatin1String("-------------------------") || asked.notices > 0) {
            std::fprintf(stderr, "scorlet_window_bench: the export did not run cleanly: %s\n",
                         qPrintable(log.mid(0, 3).join(QLatin1String(" | "))));
            status = 1;
        }
    }
    return status;
}
