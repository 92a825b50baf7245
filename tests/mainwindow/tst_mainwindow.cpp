#include "diagnostics.h"
#include "documents.h"
#include "files.h"
#include "gui.h"
#include "helptexts.h"
#include "messagecapture.h"
#include "startup.h"
#include "windowrules.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// The application's override cursor as a shape, -1 for none.
int overrideShape()
{
    const QCursor *cursor = QGuiApplication::overrideCursor();
    return cursor ? int(cursor->shape()) : -1;
}

// Answers every question at once and remembers what it was asked.
class FakePrompts : public GuiPrompts
{
public:
    struct Box
    {
        QWidget *parent = nullptr;
        QString title;
        QString text;
        int cursor = -1;
    };
    struct Dialog
    {
        QWidget *parent = nullptr;
        QString caption;
        QString folder;
        QString filter;
    };

    QString fileAnswer;
    // 1-based entry to choose from the popup; 0 dismisses it.
    int popupChoice = 0;

    QList<Dialog> dialogs;
    QList<Box> informations;
    QList<Box> abouts;
    QStringList popupEntries;
    QStringList popupPaths;
    QPoint popupAt;
    int popups = 0;
    // What closing the dialog or the popup leaves to be drawn again.
    std::function<void()> closed = [] {};

    QString openFileName(QWidget *parent, const QString &caption, const QString &folder,
                         const QString &filter) override
    {
        dialogs.append({parent, caption, folder, filter});
        closed();
        return fileAnswer;
    }
    void information(QWidget *parent, const QString &title, const QString &text) override
    {
        informations.append({parent, title, text, overrideShape()});
    }
    void about(QWidget *parent, const QString &title, const QString &text) override
    {
        abouts.append({parent, title, text});
    }
    QAction *popup(QMenu &menu, const QPoint &at) override
    {
        ++popups;
        popupAt = at;
        popupEntries.clear();
        popupPaths.clear();
        const QList<QAction *> entries = menu.actions();
        for (QAction *entry : entries) {
            popupEntries.append(entry->isSeparator() ? QStringLiteral("<separator>")
                                                     : entry->text());
            popupPaths.append(entry->data().toString());
        }
        closed();
        if (popupChoice < 1 || popupChoice > entries.size())
            return nullptr;
        return entries.at(popupChoice - 1);
    }
};

// A main window as the entry point leaves it, with its prompts answered by a fake.
struct Window
{
    gui window;
    FakePrompts *prompts = nullptr;

    explicit Window(const QSize &desktop = QSize(1920, 1080))
    {
        auto fake = std::make_unique<FakePrompts>();
        prompts = fake.get();
        window.setPrompts(std::move(fake));
        prepareMainWindow(window, desktop);
    }
    QString log() const { return window.logView.toPlainText(); }
};

// Counts the times a widget was drawn.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QList<QMenu *> menusOf(QMainWindow &window)
{
    QList<QMenu *> menus;
    const QList<QAction *> titles = window.menuBar()->actions();
    for (QAction *title : titles)
        menus.append(title->menu());
    return menus;
}

QToolBar *toolBarOf(QMainWindow &window)
{
    const QList<QToolBar *> bars = window.findChildren<QToolBar *>();
    return bars.size() == 1 ? bars.first() : nullptr;
}

// A command as the user reaches it: "File/1" is the File menu's first entry, "toolbar/2" the
// toolbar's second button.
QAction *command(QMainWindow &window, const QString &where)
{
    const QStringList parts = where.split(QLatin1Char('/'));
    const int index = parts.at(1).toInt() - 1;
    QList<QAction *> actions;
    if (parts.at(0) == QLatin1String("toolbar")) {
        actions = toolBarOf(window)->actions();
    } else {
        const QList<QMenu *> menus = menusOf(window);
        actions = menus.at(parts.at(0) == QLatin1String("File") ? 0 : 1)->actions();
    }
    return actions.value(index);
}

// On Windows the host's list and our setting are in the registry, where the test puts and
// reads them with Windows' own registry tool: HKEY_CURRENT_USER\Software\Zazizi\Canvaro,
// value recentDocuments (a list of strings, or one string), and
// HKEY_CURRENT_USER\Software\Zentriq\Scorlet, value plexDirectory.
#ifdef Q_OS_WIN
const QString hostKey = QStringLiteral("HKCU\\Software\\Zazizi\\Canvaro");
const QString ourKey = QStringLiteral("HKCU\\Software\\Zentriq\\Scorlet");

void setHostList(const QVariant &list)
{
    registryTool({"delete", hostKey, "/v", "recentDocuments", "/f"});
    const QStringList entries = list.toStringList();
    // A list of strings holds no empty one; such a list is left to the settings store.
    if (list.isValid() && !entries.contains(QString()) && !entries.isEmpty()) {
        const bool single = list.typeId() == QMetaType::QString;
        QVERIFY(!registryTool({"add", hostKey, "/v", "recentDocuments", "/t",
                               single ? "REG_SZ" : "REG_MULTI_SZ", "/d",
                               entries.join(QStringLiteral("\\0")), "/f"})
                     .isNull());
        return;
    }
    QSettings host(QStringLiteral("Zazizi"), QStringLiteral("Canvaro"));
    if (list.isValid())
        host.setValue(QStringLiteral("recentDocuments"), list);
    host.sync();
}

QString storedFolder()
{
    const QString value = registryValue(QStringLiteral("Software\\Zentriq\\Scorlet"),
                                        QStringLiteral("plexDirectory"));
    return value.isNull() ? QStringLiteral("") : value;
}

void setStoredFolder(const QString &folder)
{
    if (folder.isNull())
        registryTool({"delete", ourKey, "/v", "plexDirectory", "/f"});
    else
        QVERIFY(!registryTool(
                     {"add", ourKey, "/v", "plexDirectory", "/t", "REG_SZ", "/d", folder, "/f"})
                     .isNull());
}
#else
void setHostList(const QVariant &list)
{
    QSettings host(QStringLiteral("Zazizi"), QStringLiteral("Canvaro"));
    if (list.isValid())
        host.setValue(QStringLiteral("recentDocuments"), list);
    else
        host.remove(QStringLiteral("recentDocuments"));
    host.sync();
}

QString storedFolder()
{
    return QSettings().value(QStringLiteral("plexDirectory")).toString();
}

void setStoredFolder(const QString &folder)
{
    QSettings settings;
    if (folder.isNull())
        settings.remove(QStringLiteral("plexDirectory"));
    else
        settings.setValue(QStringLiteral("plexDirectory"), folder);
    settings.sync();
}
#endif

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void placement_data();
    void placement();
    void startUp_data();
    void startUp();

    void menus();
    void toolBar();
    void commands_data();
    void commands();

    void startupGuide();
    void usageBox();
    void aboutBox();
    void noticesHaveNoParent();
    void diagnosticLinesAsWritten();

    void exportChosenPath_data();
    void exportChosenPath();
#ifdef Q_OS_UNIX
    void busyWhileTheRunLasts_data();
    void busyWhileTheRunLasts();
#endif
    void cancelledDialogChangesNothing();
    void lastFolderIsTheDialogStart();

    void recentList_data();
    void recentList();
    void recentChoiceBecomesStartFolder();
    void sampleLessonFromRecentList();

    // Last: once the application is told to exit, no further event loop would run.
    void exitEndsTheLoop();

private:
    QTemporaryDir work;
};

void TestMainWindow::init()
{
    setStoredFolder(QString());
    setHostList(QVariant());
}

void TestMainWindow::placement_data()
{
    QTest::addColumn<QSize>("desktop");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("full hd") << QSize(1920, 1080) << QSize(960, 540) << QPoint(480, 270);
    // Odd sizes: every halving truncates, so the window ends one pixel short of centred.
    QTest::newRow("odd sizes") << QSize(1025, 769) << QSize(512, 384) << QPoint(256, 192);
    QTest::newRow("two screens side by side")
        << QSize(3840, 1080) << QSize(1920, 540) << QPoint(960, 270);
}

void TestMainWindow::placement()
{
    QFETCH(QSize, desktop);
    QFETCH(QSize, size);
    QFETCH(QPoint, position);
    const WindowPlacement placement = placementOnDesktop(desktop);
    QCOMPARE(placement.size, size);
    QCOMPARE(placement.position, position);
}

void TestMainWindow::startUp_data()
{
    QTest::addColumn<QSize>("desktop");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("first start") << QSize(1920, 1080) << QString() << QRect(480, 270, 960, 540);
    QTest::newRow("folder remembered")
        << QSize(1025, 769) << "/home/ann/Lessons/Week 3" << QRect(256, 192, 512, 384);
}

void TestMainWindow::startUp()
{
    QFETCH(QSize, desktop);
    QFETCH(QString, stored);
    QFETCH(QRect, geometry);
    if (!stored.isEmpty())
        setStoredFolder(stored);

    Window w(desktop);
    QCOMPARE(w.window.version, QStringLiteral("Version 1.0.0.8"));
    QCOMPARE(w.window.size(), geometry.size());
    QCOMPARE(w.window.pos(), geometry.topLeft());
    // Exactly one space between the last full stop and the version.
    QCOMPARE(w.window.windowTitle(),
             QStringLiteral("Plexa Exporter. Powered by Zentriq for Dunmere. Version 1.0.0.8"));
    QCOMPARE(w.window.lastFolder, stored);
    QVERIFY(w.log().startsWith(QStringLiteral("To create your CSV file")));
    QCOMPARE(QApplication::windowIcon().availableSizes(), QList<QSize>{QSize(512, 512)});
}

void TestMainWindow::menus()
{
    Window w;
    const QList<QAction *> titles = w.window.menuBar()->actions();
    QCOMPARE(titles.size(), 2);
    QCOMPARE(titles.at(0)->text(), QStringLiteral("&File"));
    QCOMPARE(titles.at(1)->text(), QStringLiteral("&Help"));

    const QList<QStringList> expected = {
        {QStringLiteral("&Export Plexa to CSV"), QStringLiteral("&Export recent Plexa to CSV"),
         QStringLiteral("&Exit")},
        {QStringLiteral("&Usage"), QStringLiteral("&About")},
    };
    const QList<QMenu *> menus = menusOf(w.window);
    for (int m = 0; m < menus.size(); ++m) {
        QStringList texts;
        const QList<QAction *> entries = menus.at(m)->actions();
        for (QAction *entry : entries) {
            QVERIFY(!entry->isSeparator());
            QVERIFY(entry->shortcut().isEmpty());
            QVERIFY(entry->icon().isNull());
            QVERIFY(entry->statusTip().isEmpty());
            texts.append(entry->text());
        }
        QCOMPARE(texts, expected.at(m));
    }
    QVERIFY(w.window.findChildren<QStatusBar *>().isEmpty());
    QCOMPARE(w.window.centralWidget(), &w.window.logView);
}

void TestMainWindow::toolBar()
{
    Window w;
    QToolBar *bar = toolBarOf(w.window);
    QVERIFY(bar);
    QCOMPARE(bar->windowTitle(), QStringLiteral("main toolbar"));
    const QList<QAction *> buttons = bar->actions();
    QCOMPARE(buttons.size(), 2);
    QCOMPARE(buttons.at(0)->text(), QStringLiteral("Export Plexa to CSV"));
    QCOMPARE(buttons.at(1)->text(), QStringLiteral("Export recent Plexa to CSV"));
    QCOMPARE(buttons.at(0)->icon().availableSizes(), QList<QSize>{QSize(32, 32)});
    QCOMPARE(buttons.at(1)->icon().availableSizes(), QList<QSize>{QSize(48, 48)});
    // The buttons are the toolbar's own, not the menu entries shown twice.
    for (QAction *button : buttons) {
        QCOMPARE(button->parent(), bar);
        QVERIFY(button->shortcut().isEmpty());
    }
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonIconOnly);
}

void TestMainWindow::commands_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("leadsTo");
    QTest::newRow("File, export") << "File/1"
                                  << "dialog";
    QTest::newRow("File, export recent") << "File/2"
                                         << "recent";
    QTest::newRow("Help, usage") << "Help/1"
                                 << "usage";
    QTest::newRow("Help, about") << "Help/2"
                                 << "about";
    QTest::newRow("folder button") << "toolbar/1"
                                   << "dialog";
    QTest::newRow("clock button") << "toolbar/2"
                                  << "recent";
}

void TestMainWindow::commands()
{
    QFETCH(QString, where);
    QFETCH(QString, leadsTo);
    setHostList(QStringList{QStringLiteral("/lessons/a.plexa")});
    Window w;
    QAction *action = command(w.window, where);
    QVERIFY(action);
    action->trigger();

    FakePrompts &asked = *w.prompts;
    QCOMPARE(asked.dialogs.size(), leadsTo == QLatin1String("dialog") ? 1 : 0);
    QCOMPARE(asked.popups, leadsTo == QLatin1String("recent") ? 1 : 0);
    QCOMPARE(asked.informations.size(), leadsTo == QLatin1String("usage") ? 1 : 0);
    QCOMPARE(asked.abouts.size(), leadsTo == QLatin1String("about") ? 1 : 0);
    if (leadsTo == QLatin1String("dialog")) {
        QCOMPARE(asked.dialogs.first().parent, &w.window);
        QCOMPARE(asked.dialogs.first().caption, QStringLiteral("Open Plexa"));
        QCOMPARE(asked.dialogs.first().filter, QStringLiteral("Plexa files (*.plexa)"));
    }
}

void TestMainWindow::exitEndsTheLoop()
{
    Window w;
    QEventLoop loop;
    QTimer::singleShot(0, w.window.exitAction, &QAction::trigger);
    // Only a guard against hanging should the entry not end the loop.
    QTimer::singleShot(30000, &loop, [&loop] { loop.exit(99); });
    QCOMPARE(loop.exec(), 0);
}

void TestMainWindow::startupGuide()
{
    Window w;
    const QStringList lines = {
        QStringLiteral("To create your CSV file please select the File option on the menubar and "
                       "click the Export Plexa to CSV option."),
        QString(),
        QStringLiteral("You can also click the folder icon in the toolbar which will take you "
                       "straight to the Export dialog."),
        QString(),
        QStringLiteral("You will be presented with a dialog to choose the folder and a Plexa that "
                       "you wish to export."),
        QString(),
        QStringLiteral("The application will open this plexa and create a CSV file within the "
                       "same folder as the plexa file."),
        QStringLiteral("The CSV file will have the same name as the plexa but it's extension will "
                       "be csv ."),
        QString(),
        QStringLiteral("If you have another plexa that you wish to export just follow the same "
                       "instructions."),
        QString(),
        QStringLiteral("You can also click the icon with the picture of a clock on it. This "
                       "allows you to export the most recent Zazizi you have used within "
                       "Canvaro."),
    };
    QCOMPARE(w.log().split(QLatin1Char('\n')), lines);
}

void TestMainWindow::usageBox()
{
    Window w;
    w.window.usageAction->trigger();
    QCOMPARE(w.prompts->informations.size(), 1);
    const FakePrompts::Box box = w.prompts->informations.first();
    QCOMPARE(box.parent, &w.window);
    QCOMPARE(box.title, QStringLiteral("Plexa Exporter"));
    QVERIFY(box.text.startsWith(QStringLiteral("The exporter takes an existing Plexa")));
    QVERIFY(box.text.endsWith(QStringLiteral("within Canvaro.")));
    const QStringList lines = box.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines.at(3), QString());
    QCOMPARE(lines.at(4), QStringLiteral("To create your CSV file please select the File option "
                                         "& click the Export Plexa to CSV option."));
    QVERIFY(lines.at(8).endsWith(QStringLiteral("extension will be csv.")));
}

void TestMainWindow::aboutBox()
{
    Window w;
    w.window.aboutAction->trigger();
    QCOMPARE(w.prompts->abouts.size(), 1);
    const FakePrompts::Box box = w.prompts->abouts.first();
    QCOMPARE(box.parent, &w.window);
    QCOMPARE(box.title, QStringLiteral("Plexa Exporter"));
    const QStringList lines = box.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("Plexa Exporter Version 1.0.0.8"));
    QVERIFY(!lines.at(1).isEmpty());
}

void TestMainWindow::noticesHaveNoParent()
{
    Window w;
    w.window.engine.database.notices->notice(QStringLiteral("error duplicate question?"),
                                             QStringLiteral("<b>2 + 2</b>"));
    QCOMPARE(w.prompts->informations.size(), 1);
    QCOMPARE(w.prompts->informations.first().parent, nullptr);
    QCOMPARE(w.prompts->informations.first().text, QStringLiteral("<b>2 + 2</b>"));
}

// What reaches the platform's handler, as "<category>|<message>".
QStringList &handled()
{
    static QStringList messages;
    return messages;
}

void recordMessage(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    handled().append(QLatin1String(context.category) + QLatin1Char('|') + message);
}

void TestMainWindow::diagnosticLinesAsWritten()
{
    handled().clear();
    const QtMessageHandler before = qInstallMessageHandler(recordMessage);
    installDiagnosticOutput();
    diagnosticsCategory().setEnabled(QtDebugMsg, true);
    const auto restore = qScopeGuard([before] {
        diagnosticsCategory().setEnabled(QtDebugMsg, false);
        qInstallMessageHandler(before);
    });
    diagnostic(QStringLiteral("report end...."));
    qCWarning(diagnosticsCategory()).noquote() << "warned";
    // Qt's default format leaves out the name of the default category only.
    QCOMPARE(handled(), (QStringList{"default|report end....", "scorlet.diagnostics|warned"}));
}

void TestMainWindow::exportChosenPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("stemName");
    // The base name ends at the first full stop, not the last.
    QTest::newRow("folder with a space, two dots") << "Week 3"
                                                   << "quiz.final.plexa"
                                                   << "quiz";
    QTest::newRow("plain name") << "lessons"
                                << "fractions.plexa"
                                << "fractions";
    QTest::newRow("ampersand in folder") << "A & B"
                                         << "test.plexa"
                                         << "test";
}

void TestMainWindow::exportChosenPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, fileName);
    QFETCH(QString, stemName);
    const QString absoluteFolder = work.filePath(folder);
    QVERIFY(QDir().mkpath(absoluteFolder));
    const QString path = absoluteFolder + QLatin1Char('/') + fileName;

    Window w;
    w.prompts->fileAnswer = path;
    w.window.exportAction->trigger();

    QCOMPARE(w.window.lastFolder, absoluteFolder);
    QCOMPARE(storedFolder(), absoluteFolder);
    QCOMPARE(w.window.engine.folder, QDir::toNativeSeparators(absoluteFolder));
    QCOMPARE(w.window.engine.plexaPath, path);
    QCOMPARE(w.window.engine.outputStem, absoluteFolder + QLatin1Char('/') + stemName);
    // No document there: the run reports it, and the guide is gone.
    QCOMPARE(w.log().split(QLatin1Char('\n')),
             (QStringList{QStringLiteral("Importing file ") + QDir::toNativeSeparators(path),
                          QStringLiteral("FAILED to open plexa ")}));
}

#ifdef Q_OS_UNIX
void TestMainWindow::busyWhileTheRunLasts_data()
{
    QTest::addColumn<bool>("fromRecentList");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("notices");

    const QJsonValue sameQuestion = doc::test(1, {doc::numeric("q")});
    const QByteArray twoDuplicates =
        doc::document({doc::page(sameQuestion), doc::page(sameQuestion), doc::page(sameQuestion)});
    QTest::newRow("dialog, cannot open") << false << QByteArray("not a document") << 0;
    QTest::newRow("recent list, cannot open") << true << QByteArray("not a document") << 0;
    QTest::newRow("dialog, two notices") << false << twoDuplicates << 2;
    QTest::newRow("recent list, two notices") << true << twoDuplicates << 2;
}

// The run keeps the event loop busy: the window is drawn again over the closed dialog or
// popup before it starts, the wait cursor shows while it lasts, a notice box in between has
// the normal cursor, and the cursor is back to normal however the run ends.
void TestMainWindow::busyWhileTheRunLasts()
{
    QFETCH(bool, fromRecentList);
    QFETCH(QByteArray, document);
    QFETCH(int, notices);
    const QString path = work.filePath(QStringLiteral("busy.plexa"));
    QVERIFY(writeFile(path, document));
    setHostList(QStringList{path});

    Window w;
    w.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    PaintCounter drawn;
    w.window.logView.viewport()->installEventFilter(&drawn);
    int drawnWhenClosed = -1;
    w.prompts->closed = [&] {
        drawnWhenClosed = drawn.paints;
        w.window.logView.viewport()->update();
    };
    // Cursor and paint count whenever the run touches the log, from its first clear on.
    QList<int> cursors;
    QList<int> paints;
    connect(&w.window.logView, &QPlainTextEdit::textChanged, &w.window, [&] {
        cursors.append(overrideShape());
        paints.append(drawn.paints);
    });
    MessageCapture diagnostics({QtDebugMsg}, MessageCapture::PassOn, diagnosticsCategoryName);

    w.prompts->fileAnswer = path;
    w.prompts->popupChoice = 1;
    (fromRecentList ? w.window.exportRecentAction : w.window.exportAction)->trigger();

    QCOMPARE(w.window.engine.plexaPath, path);
    QVERIFY(!cursors.isEmpty());
    QVERIFY2(paints.first() > drawnWhenClosed, "the run started before the window was drawn");
    QCOMPARE(cursors, QList<int>(cursors.size(), int(Qt::WaitCursor)));
    QCOMPARE(w.prompts->informations.size(), notices);
    for (const FakePrompts::Box &box : w.prompts->informations)
        QCOMPARE(box.cursor, -1);
    QCOMPARE(overrideShape(), -1);
    // Nobody asked for the diagnostic lines.
    QVERIFY(diagnostics.lines().isEmpty());
}
#endif

void TestMainWindow::cancelledDialogChangesNothing()
{
    const QString remembered = work.filePath(QStringLiteral("remembered"));
    setStoredFolder(remembered);
    Window w;
    QCOMPARE(w.window.lastFolder, remembered);
    const QString guide = w.log();

    w.prompts->fileAnswer = QString();
    w.window.exportAction->trigger();

    QCOMPARE(w.prompts->dialogs.size(), 1);
    QCOMPARE(w.window.lastFolder, remembered);
    QCOMPARE(storedFolder(), remembered);
    QCOMPARE(w.log(), guide);
    QVERIFY(w.window.engine.plexaPath.isEmpty());
    QVERIFY(w.window.engine.folder.isEmpty());
}

void TestMainWindow::lastFolderIsTheDialogStart()
{
    Window fresh;
    fresh.window.exportAction->trigger();
    QCOMPARE(fresh.prompts->dialogs.first().folder, QString());

    const QString first = work.filePath(QStringLiteral("first"));
    fresh.prompts->fileAnswer = first + QStringLiteral("/one.plexa");
    fresh.window.exportAction->trigger();
    fresh.window.exportAction->trigger();
    QCOMPARE(fresh.prompts->dialogs.last().folder, first);

    // A later start picks the folder up from the settings store.
    Window restarted;
    restarted.window.exportAction->trigger();
    QCOMPARE(restarted.prompts->dialogs.first().folder, first);
}

void TestMainWindow::recentList_data()
{
    QTest::addColumn<QVariant>("host");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("exported");

    const QString empty;
    QTest::newRow("host never ran") << QVariant() << 1 << QStringList() << empty;
    QTest::newRow("host list empty") << QVariant(QStringList()) << 1 << QStringList() << empty;
    QTest::newRow("every entry empty")
        << QVariant(QStringList{QString(), QString()}) << 1 << QStringList() << empty;

    // Numbering runs on after an empty entry is left out.
    QTest::newRow("empty second entry")
        << QVariant(QStringList{"/l/a.plexa", "", "/l/c.plexa"}) << 2
        << QStringList{"1 /l/a.plexa", "2 /l/c.plexa"} << "/l/c.plexa";
    QTest::newRow("popup dismissed")
        << QVariant(QStringList{"/l/a.plexa"}) << 0 << QStringList{"1 /l/a.plexa"} << empty;

    QStringList twelve;
    QStringList twelveEntries;
    for (int i = 1; i <= 12; ++i) {
        twelve.append(QStringLiteral("/lessons/%1 quiz.plexa").arg(i));
        twelveEntries.append(QStringLiteral("%1 /lessons/%1 quiz.plexa").arg(i));
    }
    QTest::newRow("twelfth of twelve")
        << QVariant(twelve) << 12 << twelveEntries << "/lessons/12 quiz.plexa";

    // A menu would take the "&" as a mnemonic: the entry shows it doubled, the path is kept.
    QTest::newRow("ampersand") << QVariant(QStringList{"/l/Q&A/quiz.plexa", "/l/R&&D.plexa"}) << 1
                               << QStringList{"1 /l/Q&&A/quiz.plexa", "2 /l/R&&&&D.plexa"}
                               << "/l/Q&A/quiz.plexa";
    QTest::newRow("two ampersands")
        << QVariant(QStringList{"/l/Q&A/quiz.plexa", "/l/R&&D.plexa"}) << 2
        << QStringList{"1 /l/Q&&A/quiz.plexa", "2 /l/R&&&&D.plexa"} << "/l/R&&D.plexa";
    QTest::newRow("spaces kept") << QVariant(QStringList{" /l/x.plexa "}) << 1
                                 << QStringList{"1  /l/x.plexa "} << " /l/x.plexa ";
}

void TestMainWindow::recentList()
{
    QFETCH(QVariant, host);
    QFETCH(int, choice);
    QFETCH(QStringList, entries);
    QFETCH(QString, exported);
    setHostList(host);

    Window w;
    const QString guide = w.log();
    w.prompts->popupChoice = choice;
    w.window.exportRecentAction->trigger();

    if (entries.isEmpty()) {
        QCOMPARE(w.prompts->popups, 0);
        QCOMPARE(w.prompts->informations.size(), 1);
        QCOMPARE(w.prompts->informations.first().parent, nullptr);
        QCOMPARE(w.prompts->informations.first().title, QStringLiteral("Recent Zazizi"));
        QCOMPARE(w.prompts->informations.first().text,
                 QStringLiteral("Canvaro's recent Plexa list appears to be empty"));
    } else {
        QCOMPARE(w.prompts->popups, 1);
        QVERIFY(w.prompts->informations.isEmpty());
        QCOMPARE(w.prompts->popupEntries, entries);
    }
    QVERIFY(w.prompts->dialogs.isEmpty());
    QCOMPARE(w.window.engine.plexaPath, exported);
    if (exported.isEmpty())
        QCOMPARE(w.log(), guide);
}

void TestMainWindow::recentChoiceBecomesStartFolder()
{
    const QString folder = work.filePath(QStringLiteral("Week 3"));
    setHostList(QStringList{folder + QStringLiteral("/quiz.final.plexa")});
    Window w;
    w.window.show(); // lays out the menu bar, toolbar and log
    w.prompts->popupChoice = 1;
    w.window.exportRecentAction->trigger();
    QCOMPARE(storedFolder(), folder);

    // The popup opens just inside the log's top-left corner, from the window's frame position.
    const QPoint logCorner = w.window.pos() + w.window.logView.pos();
    QVERIFY(w.window.logView.y() > 0);
    QCOMPARE(w.prompts->popupAt, logCorner + QPoint(8, 0));

    // The popup is rebuilt, not added to, on the next visit.
    w.window.exportRecentAction->trigger();
    QCOMPARE(w.prompts->popupEntries.size(), 1);

    w.window.exportAction->trigger();
    QCOMPARE(w.prompts->dialogs.size(), 1);
    QCOMPARE(w.prompts->dialogs.first().folder, folder);
}

void TestMainWindow::sampleLessonFromRecentList()
{
    const QString folder = work.filePath(QStringLiteral("Term 1 & 2"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/fractions-week3.plexa");
    QVERIFY(QFile::copy(QStringLiteral(SCORLET_EXAMPLES "/fractions-week3.plexa"), path));
    setHostList(QStringList{path});

    Window w;
    w.prompts->popupChoice = 1;
    w.window.exportRecentAction->trigger();

    const QStringList log = w.log().split(QLatin1Char('\n'));
    QCOMPARE(log.first(), QStringLiteral("Importing file ") + QDir::toNativeSeparators(path));
    QCOMPARE(log.mid(log.size() - 2), (QStringList{QStringLiteral("All Export(s) completed."),
                                                   QStringLiteral("-------------------------")}));
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/fractions-week3_PERIOD 2.csv")));
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/fractions-week3_PERIOD 4.csv")));
    QVERIFY(w.prompts->informations.isEmpty());
}

// The settings of the window and of the host's recent list go to a private folder, never to
// the user's own store; so the variable is set before anything reads settings.
int main(int argc, char **argv)
{
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    Q_INIT_RESOURCE(scorlet);
    QCoreApplication::setOrganizationName(QStringLiteral("Zentriq"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("zentriq.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Scorlet"));
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
