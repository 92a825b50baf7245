#pragma once

#include "guiprompts.h"
#include "logviewsink.h"
#include "razuzezoz.h"

#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

class QAction;

// The program's only window: the log, the export engine, the remembered folder and the
// commands that choose a document to export.
class gui : public QMainWindow
{
    Q_OBJECT

public:
    explicit gui(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~gui() override;

    void writeStartupGuide();
    // The host application's recent documents in its order, empty entries left out.
    QStringList recentDocuments() const;

    // Replaces what asks the user: the file dialog, the boxes and the recent popup.
    void setPrompts(std::unique_ptr<GuiPrompts> replacement);

    // The engine writes into logView, so logView is declared (and built) before it.
    QPlainTextEdit logView;
    QAction *exportAction = nullptr;
    QAction *exportRecentAction = nullptr;
    QAction *exitAction = nullptr;
    QAction *usageAction = nullptr;
    QAction *aboutAction = nullptr;
    raZuzezoz engine;
    QString lastFolder;
    QSettings settings;
    QString version;
    QMenu recentMenu;

private slots:
    void chooseRecent();
    void exportPlexaToCSV(QString plex);
    void exportPlexaToCSV();
    void exitApp();
    void usage();
    void about();

private:
    std::unique_ptr<GuiPrompts> prompts;
    LogViewSink logSink{logView};
    PromptNoticeSink noticeSink;
};
