#include "gui.h"

#include "busycursor.h"
#include "helptexts.h"
#include "windowrules.h"

#include <roruri1/canvaro.h>

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QIcon>
#include <QMenuBar>
#include <QPixmap>
#include <QToolBar>

gui::gui(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags), prompts(std::make_unique<GuiPrompts>())
{
    noticeSink.setPrompts(prompts.get());

    QMenu *fileMenu = menuBar()->addMenu(tr("&File"));
    QMenu *helpMenu = menuBar()->addMenu(tr("&Help"));

    setCentralWidget(&logView);
    engine.database.log = &logSink;
    engine.database.notices = &noticeSink;

    exportAction = new QAction(tr("&Export Plexa to CSV"), this);
    exportRecentAction = new QAction(tr("&Export recent Plexa to CSV"), this);
    exitAction = new QAction(tr("&Exit"), this);
    usageAction = new QAction(tr("&Usage"), this);
    aboutAction = new QAction(tr("&About"), this);

    const QPixmap openImage(QStringLiteral(":/scorlet/Resources/open.png"));
    const QPixmap recentImage(QStringLiteral(":/scorlet/Resources/openrecent.png"));

    // The toolbar's buttons are actions of their own, owned by the toolbar.
    QToolBar *toolBar = addToolBar(QStringLiteral("main toolbar"));
    QAction *openButton =
        toolBar->addAction(QIcon(openImage), QStringLiteral("Export Plexa to CSV"));
    QAction *recentButton =
        toolBar->addAction(QIcon(recentImage), QStringLiteral("Export recent Plexa to CSV"));

    const auto exportChosen = qOverload<>(&gui::exportPlexaToCSV);
    connect(openButton, &QAction::triggered, this, exportChosen);
    connect(recentButton, &QAction::triggered, this, &gui::chooseRecent);
    connect(exportAction, &QAction::triggered, this, exportChosen);
    connect(exportRecentAction, &QAction::triggered, this, &gui::chooseRecent);
    connect(exitAction, &QAction::triggered, this, &gui::exitApp);

    fileMenu->addAction(exportAction);
    fileMenu->addAction(exportRecentAction);
    fileMenu->addAction(exitAction);

    connect(usageAction, &QAction::triggered, this, &gui::usage);
    connect(aboutAction, &QAction::triggered, this, &gui::about);
    helpMenu->addAction(usageAction);
    helpMenu->addAction(aboutAction);

    setUnifiedTitleAndToolBarOnMac(true);
}

gui::~gui()
{
    // The sinks go before the engine; make sure it cannot reach them on its way out.
    engine.database.log = nullptr;
    engine.database.notices = nullptr;
}

void gui::setPrompts(std::unique_ptr<GuiPrompts> replacement)
{
    prompts = std::move(replacement);
    noticeSink.setPrompts(prompts.get());
}

void gui::writeStartupGuide()
{
    for (const QString &row : startupGuide())
        engine.database.log->appendLine(row);
}

QStringList gui::recentDocuments() const
{
    QStringList documents;
    Zazizi::Canvaro *host = Zazizi::Canvaro::instance();
    if (!host)
        return documents;
    const QStringList listed = host->mruList();
    for (const QString &path : listed) {
        if (!path.isEmpty())
            documents.append(path);
    }
    return documents;
}

void gui::chooseRecent()
{
    const QStringList documents = recentDocuments();
    if (documents.isEmpty()) {
        prompts->information(nullptr, QStringLiteral("Recent Zazizi"),
                             QStringLiteral("Canvaro's recent Plexa list appears to be empty"));
        return;
    }

    recentMenu.clear();
    for (int i = 0; i < documents.size(); ++i) {
        // The entry keeps its path: the shown text has its "&" doubled.
        QAction *entry = recentMenu.addAction(recentEntryText(i + 1, documents.at(i)));
        entry->setData(documents.at(i));
    }

    const QPoint at(x() + logView.x() + 8, y() + logView.y());
    QAction *chosen = prompts->popup(recentMenu, at);
    if (!chosen)
        return;
    exportPlexaToCSV(chosen->data().toString());
}

void gui::exportPlexaToCSV(QString plex)
{
    QString path = plex;
    if (path.isEmpty()) {
        path =
            prompts->openFileName(this, tr("Open Plexa"), lastFolder, tr("Plexa files (*.plexa)"));
        if (path.isEmpty())
            return;
    }

    // The run keeps the event loop busy until it ends: show that it works, and let the
    // window draw itself over the closed dialog or popup first, without taking any input
    // that could start a second run.
    const BusyCursor busy;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    const ExportTarget target = exportTargetFor(path);
    lastFolder = target.folder;
    engine.folder = target.nativeFolder;
    // Stored before the run, so the folder is remembered even if the run goes wrong.
    settings.setValue(QStringLiteral("plexDirectory"), lastFolder);
    settings.sync();
    engine.exportPlexa(path, target.stem);
}

void gui::exportPlexaToCSV()
{
    exportPlexaToCSV(QString());
}

void gui::exitApp()
{
    QCoreApplication::exit(0);
}

void gui::usage()
{
    prompts->information(this, helpBoxTitle(), usageText());
}

void gui::about()
{
    prompts->about(this, helpBoxTitle(), aboutText(version));
}
