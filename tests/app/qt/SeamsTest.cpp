#include "app/menus/urls/URLPromptingAlert.h"
#include "app/qt/FilePanelLayout.h"
#include "app/qt/ImageCache.h"
#include "app/qt/QtAlertPresenter.h"
#include "app/qt/QtFilePanels.h"
#include "app/qt/QtStatusItem.h"
#include "common/TestSupport.h"
#include "location/CoordinatePromptingAlert.h"
#include "model/Runtime.h"
#include "platform/hotkeys/OptionKeyPoller.h"
#include "platform/desktop/PanelFolder.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QPushButton>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

class FakeModifiers : public ModifierSource {
public:
    KeyModifiers currentModifiers() const override { return modifiers; }
    KeyModifiers modifiers;
};

// Runs `answer` on the next modal dialog once it shows.
void whenModalShows(std::function<void(QWidget *)> answer)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start();
}

void pressKey(QWidget *widget, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

// The file dialog a panel shows, once it shows.
QFileDialog *shownFileDialog()
{
    QFileDialog *dialog = nullptr;
    test::waitUntil([&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *found = qobject_cast<QFileDialog *>(widget); found && found->isVisible())
                dialog = found;
        return dialog != nullptr;
    });
    return dialog;
}

struct PanelRun {
    QString openedIn;
    std::optional<QString> chosen;
};

enum class PanelKind { save, open, modalOpen };

// Opens a panel of that kind and name, notes the folder it opens in, goes to
// `folder` if given, and there chooses `name`, or cancels without one.
// `look` sees the panel first, as it opens.
PanelRun runPanel(PanelKind kind, const QString &identifier, const QString &directory = {},
                  const QString &folder = {}, const QString &name = {},
                  const QStringList &types = {},
                  const std::function<void(QFileDialog *)> &look = {})
{
    PanelRun run;
    const auto answer = [&](QFileDialog *dialog) {
        run.openedIn = dialog->directory().absolutePath();
        if (look)
            look(dialog);
        if (!folder.isEmpty())
            dialog->setDirectory(folder);
        if (name.isEmpty()) {
            dialog->reject();
        } else {
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText(name);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    };
    const auto first = [](const QStringList &paths) {
        return paths.isEmpty() ? std::nullopt : std::optional(paths.constFirst());
    };
    const OpenPanelSpec open{
        .allowedTypes = types, .directory = directory, .identifier = identifier};
    if (kind == PanelKind::modalOpen) {
        whenModalShows([&](QWidget *modal) { answer(qobject_cast<QFileDialog *>(modal)); });
        run.chosen = first(QtOpenPanel().runModal(open));
        return run;
    }
    bool done = false;
    const auto finish = [&](const std::optional<QString> &path) {
        run.chosen = path;
        done = true;
    };
    if (kind == PanelKind::save)
        QtSavePanel().begin({.directory = directory, .identifier = identifier}, finish);
    else
        QtOpenPanel().begin(open, [&](const QStringList &paths) { finish(first(paths)); });
    QFileDialog *dialog = shownFileDialog();
    if (!dialog) {
        ADD_FAILURE() << "no file dialog";
        return run;
    }
    answer(dialog);
    EXPECT_TRUE(test::waitUntil([&] { return done; }));
    return run;
}

AlertSpec confirmation()
{
    AlertSpec spec;
    spec.messageText = "Erase?";
    spec.cautionIcon = true;
    spec.showsSuppressionButton = true;
    spec.buttons = {{"Erase", AlertSpec::KeyEquivalent::None},
                    {"Cancel", AlertSpec::KeyEquivalent::Return}};
    return spec;
}

} // namespace

TEST(OptionKeyPollerTest, OneCallbackPerChangeAndNoTimerAfterStop)
{
    auto source = std::make_shared<FakeModifiers>();
    source->modifiers = KeyModifier::Option;
    OptionKeyPoller poller(source);
    int changes = 0;
    poller.start([&changes](bool) { ++changes; });
    EXPECT_TRUE(poller.optionHeld());
    EXPECT_TRUE(poller.isRunning());

    test::pumpFor(250ms);
    EXPECT_EQ(changes, 0);

    source->modifiers = KeyModifier::Command;
    EXPECT_TRUE(test::waitUntil([&] { return changes == 1; }));
    test::pumpFor(250ms);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(poller.optionHeld());

    poller.stop();
    EXPECT_FALSE(poller.isRunning());
    source->modifiers = KeyModifier::Option;
    test::pumpFor(250ms);
    EXPECT_EQ(changes, 1);
}

TEST(OptionKeyPollerTest, StopFromInsideTheCallbackIsSafe)
{
    auto source = std::make_shared<FakeModifiers>();
    OptionKeyPoller poller(source);
    int changes = 0;
    poller.start([&](bool) {
        ++changes;
        poller.stop();
    });
    source->modifiers = KeyModifier::Option;
    EXPECT_TRUE(test::waitUntil([&] { return changes == 1; }));
    EXPECT_FALSE(poller.isRunning());
}

TEST(ImageCacheTest, AccentTintColoursOnlyTheImagesOwnPixels)
{
    const QImage on = ImageCache::shared().resolve(ImageRef::resource("On"));
    ASSERT_FALSE(on.isNull());
    const QImage tinted =
        ImageCache::shared().resolve(ImageRef::resource("On").tinted(ImageRef::TintColor::Accent));
    ASSERT_EQ(tinted.size(), on.size());
    const QColor accent = ImageCache::accentColor();
    const QPoint centre(on.width() / 2, on.height() / 2);
    EXPECT_EQ(QColor(tinted.pixel(centre)).rgb(), accent.rgb());
    EXPECT_EQ(qAlpha(tinted.pixel(0, 0)), 0);

    const QImage white = ImageCache::shared().resolve(ImageRef::resource("On")
                                                          .tinted(ImageRef::TintColor::Accent)
                                                          .tinted(ImageRef::TintColor::White));
    EXPECT_EQ(QColor(white.pixel(centre)).rgb(), QColor(Qt::white).rgb());
}

TEST(ImageCacheTest, SymbolsFollowTheSwitchAndMissingArtGivesNothing)
{
    EXPECT_FALSE(ImageCache::shared().resolve(ImageRef::symbol("trash")).isNull());
    EXPECT_TRUE(ImageCache::shared().resolve(ImageRef::symbol("no.such.symbol")).isNull());
    EXPECT_TRUE(ImageCache::shared().resolve(ImageRef::resource("No Such Image")).isNull());
    ImageRef::setSymbolsEnabled(false);
    EXPECT_TRUE(ImageCache::shared().resolve(ImageRef::symbol("trash")).isNull());
    ImageRef::setSymbolsEnabled(true);

    const QImage padded =
        ImageCache::shared().resolve(ImageRef::symbol("gear").padded(QMarginsF(0, 2, 4, 2)));
    EXPECT_EQ(padded.deviceIndependentSize(), QSizeF(20, 20));
}

TEST(QtAlertPresenterTest, ReturnAnswersTheCancelButton)
{
    whenModalShows([](QWidget *dialog) { pressKey(dialog, Qt::Key_Return); });
    const AlertResponse response = QtAlertPresenter().run(confirmation());
    EXPECT_EQ(response.buttonIndex, 1);
    EXPECT_FALSE(response.suppressed);
}

// Quitting closes what is open, a second alert opened from the first too.
TEST(QtAlertPresenterTest, OpenAlertsAreClosedWithoutAButtonOnRequest)
{
    QtAlertPresenter presenter;
    AlertResponse inner;
    whenModalShows([&](QWidget *) {
        whenModalShows([&](QWidget *) { presenter.closeOpenAlerts(); });
        inner = presenter.run(confirmation());
    });
    const AlertResponse outer = presenter.run(confirmation());
    EXPECT_EQ(outer.buttonIndex, -1);
    EXPECT_EQ(inner.buttonIndex, -1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    presenter.closeOpenAlerts();
}

TEST(QtAlertPresenterTest, IndexFollowsTheButtonsOrderAndSuppressionIsReported)
{
    whenModalShows([](QWidget *dialog) {
        for (auto *box : dialog->findChildren<QAbstractButton *>()) {
            if (box->text() == "Do not ask again")
                box->setChecked(true);
        }
        for (auto *button : dialog->findChildren<QPushButton *>()) {
            if (button->text() == "Erase")
                button->click();
        }
    });
    const AlertResponse response = QtAlertPresenter().run(confirmation());
    EXPECT_EQ(response.buttonIndex, 0);
    EXPECT_TRUE(response.suppressed);
}

TEST(QtAlertPresenterTest, AnAmpersandInAButtonTitleIsShownAsWritten)
{
    AlertSpec spec;
    spec.messageText = "Re-launch Required";
    spec.buttons = {{"Apply & Relaunch"}, {"Cancel", AlertSpec::KeyEquivalent::Return}};
    QString shown;
    whenModalShows([&](QWidget *dialog) {
        for (auto *button : dialog->findChildren<QPushButton *>()) {
            if (!button->text().contains("Relaunch"))
                continue;
            shown = button->text();
            EXPECT_TRUE(QKeySequence::mnemonic(shown).isEmpty());
            button->click();
        }
    });
    EXPECT_EQ(QtAlertPresenter().run(spec).buttonIndex, 0);
    EXPECT_EQ(shown, "Apply && Relaunch");
}

TEST(QtAlertPresenterTest, TheURLPromptEnablesOpenForTextAndHelpKeepsItOpen)
{
    auto workspace = std::make_shared<RecordingWorkspace>();
    Workspace::setShared(workspace);
    const AlertSpec spec =
        URLPromptingAlert::make("iPhone 15", Runtime(Runtime::System::iOS, "17.2"));
    EXPECT_EQ(spec.informativeText, "Will be opened on iPhone 15 - 17.2 (iOS 17.2).");
    std::vector<bool> enabled;
    bool stayedOpen = false;
    bool focused = false;
    QSize fieldSize;
    whenModalShows([&](QWidget *dialog) {
        QPushButton *open = nullptr;
        for (auto *button : dialog->findChildren<QPushButton *>()) {
            if (button->text() == "Open")
                open = button;
            if (button->text() == "?")
                button->click();
        }
        stayedOpen = dialog->isVisible();
        auto *line = dialog->findChild<QLineEdit *>();
        focused = dialog->focusWidget() == line;
        fieldSize = line->size();
        enabled.push_back(open->isEnabled());
        line->setText(" \t ");
        enabled.push_back(open->isEnabled());
        line->setText({});
        line->insert("e");
        enabled.push_back(open->isEnabled());
        line->backspace();
        enabled.push_back(open->isEnabled());
        line->setText(" example.com ");
        // Return answers "Open" once it is enabled.
        pressKey(dialog, Qt::Key_Return);
    });
    const AlertResponse response = QtAlertPresenter().run(spec);
    Workspace::setShared(nullptr);
    EXPECT_EQ(enabled, (std::vector<bool>{false, false, true, false}));
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(focused);
    EXPECT_EQ(fieldSize, QSize(300, 24));
    ASSERT_EQ(workspace->requests.size(), 1u);
    EXPECT_EQ(workspace->requests[0].operation, "openUrl");
    EXPECT_EQ(workspace->requests[0].argument, URLPromptingAlert::faqDeepLinksAddress);
    EXPECT_EQ(response.buttonIndex, 0);
    EXPECT_EQ(response.text, " example.com ");
}

TEST(QtAlertPresenterTest, TheCoordinatePromptGoesOnlyWithACoordinate)
{
    QSize fieldSize;
    bool focused = false;
    QString placeholder;
    std::vector<bool> goEnabled;
    whenModalShows([&](QWidget *dialog) {
        auto *line = dialog->findChild<QLineEdit *>();
        fieldSize = line->size();
        focused = dialog->focusWidget() == line;
        placeholder = line->placeholderText();
        QPushButton *go = nullptr;
        for (auto *button : dialog->findChildren<QPushButton *>())
            if (button->text() == "Go")
                go = button;
        goEnabled.push_back(go->isEnabled());
        for (const char *text : {"37.5, -122.25", "37.5", "0, 0", ""}) {
            line->setText(text);
            goEnabled.push_back(go->isEnabled());
        }
        // Return does nothing while "Go" is disabled.
        pressKey(line, Qt::Key_Return);
        line->setText("37.5, -122.25");
        pressKey(line, Qt::Key_Return);
    });
    const AlertResponse response = QtAlertPresenter().run(CoordinatePromptingAlert::spec());
    EXPECT_EQ(fieldSize, QSize(200, 24));
    EXPECT_TRUE(focused);
    EXPECT_EQ(placeholder, "37.3350703, -122.0091543");
    EXPECT_EQ(goEnabled, std::vector<bool>({false, true, false, false, false}));
    EXPECT_EQ(response.buttonIndex, CoordinatePromptingAlert::goButton);
    const auto coordinate = CoordinatePromptingAlert::coordinate(response);
    ASSERT_TRUE(coordinate);
    EXPECT_EQ(coordinate->latitude(), 37.5);
    EXPECT_EQ(coordinate->longitude(), -122.25);
}

TEST(QtFilePanelsTest, OpenPanelChoosesAppFolderAsFile)
{
    QTemporaryDir dir;
    const QString app = dir.filePath("Demo.app");
    ASSERT_TRUE(QDir().mkpath(app + "/Contents/MacOS"));
    OpenPanelSpec spec;
    spec.title = "Select Application";
    spec.prompt = "Select Application";
    spec.allowedTypes = {"app"};
    spec.directory = dir.path();

    QStringList chosen;
    bool done = false;
    QtOpenPanel().begin(spec, [&](const QStringList &paths) {
        chosen = paths;
        done = true;
    });
    QFileDialog *dialog = shownFileDialog();
    ASSERT_TRUE(dialog);
    // As a user who clicks the bundle or types its name.
    dialog->findChild<QLineEdit *>("fileNameEdit")->setText("Demo.app");
    QMetaObject::invokeMethod(dialog, "accept");
    ASSERT_TRUE(test::waitUntil([&] { return done; }));
    EXPECT_EQ(chosen, QStringList({QDir::cleanPath(app)}));
}

// A dialog opened from one of the program's windows comes up in front of it,
// as its transient; the active window stands in for an unnamed or a hidden
// one, never the status button. Without a window of ours, an alert stays on
// top.
TEST(QtDialogParentTest, DialogsComeUpTiedToTheWindowTheyAreOpenedFrom)
{
    QWidget settings, gps, statusButton, closed;
    statusButton.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    for (QWidget *window : {&settings, &gps, &statusButton, &closed})
        window->show();
    closed.hide();
    ASSERT_TRUE(closed.windowHandle());
    const struct {
        QWidget *active;
        QWindow *named;
        QWidget *parent;
    } cases[] = {{&settings, gps.windowHandle(), &gps},
                 {&settings, nullptr, &settings},
                 {&gps, closed.windowHandle(), &gps},
                 {&statusButton, nullptr, nullptr}};
    for (const auto &c : cases) {
        for (int kind = 0; kind < 3; ++kind) {
            c.active->activateWindow();
            ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == c.active; }));
            QWidget *parent = &statusButton;
            QWindow *transient = nullptr;
            bool onTop = false;
            whenModalShows([&](QWidget *dialog) {
                parent = dialog->parentWidget();
                transient = dialog->windowHandle()->transientParent();
                onTop = dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
                QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            });
            if (kind == 0)
                QtAlertPresenter().run({.parentWindow = c.named});
            else if (kind == 1)
                QtOpenPanel().runModal({.parentWindow = c.named});
            else
                QtSavePanel().runModal({.parentWindow = c.named});
            EXPECT_EQ(parent, c.parent) << kind;
            EXPECT_EQ(transient, c.parent ? c.parent->windowHandle() : nullptr) << kind;
            EXPECT_EQ(onTop, kind == 0 && !c.parent) << kind;
        }
    }
}

// Without a browser or a file manager (nothing on the PATH, none on the bus),
// each way of opening something says so in an alert.
TEST(WorkspaceTest, WhatTheDesktopCannotOpenIsShownInAnAlert)
{
    QTemporaryDir dir;
    const QString notes = dir.filePath("notes.txt"), bin = dir.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin) && test::writeFile(notes, "notes"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin));
    auto alerts = std::make_shared<RecordingAlertPresenter>();
    AlertPresenter::setShared(alerts);
    Workspace workspace;
    const struct {
        std::function<bool()> open;
        QString message, informative;
    } cases[] = {
        {[&] { return workspace.openUrl(QUrl("https://example.com/a")); },
         "The web page could not be opened",
         "No web browser is set up to open “https://example.com/a”."},
        {[&] { return workspace.openUrl(QUrl::fromLocalFile(notes)); },
         "The file could not be opened", "No application is set up to open “" + notes + "”."},
        {[&] { return workspace.revealFile(notes); }, "The file could not be shown",
         "No file manager is set up to show “" + notes + "”."},
        {[&] { return workspace.showFolder(bin); }, "The folder could not be opened",
         "No file manager is set up to open “" + bin + "”."},
    };
    for (const auto &c : cases) {
        alerts->presented.clear();
        EXPECT_FALSE(c.open());
        ASSERT_TRUE(test::waitUntil([&] { return !alerts->presented.empty(); }));
        EXPECT_EQ(alerts->presented[0].messageText, c.message);
        EXPECT_EQ(alerts->presented[0].informativeText, c.informative);
    }
    AlertPresenter::setShared(nullptr);
    qputenv("PATH", path);
}

TEST(QtFilePanelsTest, TypeNamesBecomeFilters)
{
    const QString images = OpenPanel::nameFilters({"public.image"}).join(" ");
    EXPECT_TRUE(images.contains("*.png"));
    EXPECT_FALSE(images.contains("*.mp4"));
    EXPECT_TRUE(OpenPanel::nameFilters({"public.movie"}).join(" ").contains("*.mp4"));
    EXPECT_EQ(OpenPanel::nameFilters({"xcappdata"}), QStringList({"(*.xcappdata)"}));
    EXPECT_TRUE(OpenPanel::allows({"public.image"}, "/tmp/picture.JPG"));
    EXPECT_FALSE(OpenPanel::allows({"app"}, "/tmp/picture.jpg"));
}

// A panel opens in the folder it is given, else where a panel of that name,
// open or save, last chose something while that folder is there, else in the
// home folder; never in the working directory.
TEST(QtFilePanelsTest, APanelOpensInItsFolderElseWhereItsLastChoiceWasElseAtHome)
{
    const test::ScopedDefaults defaults;
    QTemporaryDir dir;
    const QString given = dir.filePath("given"), used = dir.filePath("used"),
                  work = dir.filePath("work"), file = dir.filePath("file.txt");
    for (const QString &folder : {given, used, work})
        ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(test::writeFile(file, "x"));
    const QString previousWorkingDir = QDir::currentPath();
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previousWorkingDir); });
    ASSERT_TRUE(QDir::setCurrent(work));
    const QString home = QDir::homePath(), gone = dir.filePath("gone");

    const struct {
        QString directory;
        QString identifier;
        std::optional<QString> kept;
        QString opensIn;
    } cases[] = {
        {"", "", std::nullopt, home},    {"", "TestPanel", std::nullopt, home},
        {"", "TestPanel", used, used},   {"", "TestPanel", gone, home},
        {"", "TestPanel", file, home},   {"", "TestPanel", "used", home},
        {"", "OtherPanel", used, home},  {given, "TestPanel", used, given},
        {gone, "TestPanel", used, used},
    };
    for (const auto &c : cases) {
        for (const PanelKind kind : {PanelKind::open, PanelKind::save}) {
            if (c.kept)
                UserDefaults::standard()->set(PanelFolder::defaultsKey("TestPanel"), *c.kept);
            else
                UserDefaults::standard()->remove(PanelFolder::defaultsKey("TestPanel"));
            EXPECT_EQ(runPanel(kind, c.identifier, c.directory).openedIn, c.opensIn)
                << int(kind) << " " << c.identifier.toStdString() << " "
                << c.kept.value_or("-").toStdString();
        }
    }

    // A choice, of a bundle or a plain file, through a panel run modally or
    // opened, is where that panel opens next; a cancelled panel keeps the
    // folder.
    const QString routes = dir.filePath("routes"), media = dir.filePath("media");
    ASSERT_TRUE(QDir().mkpath(used + "/Old.xcappdata") && QDir().mkpath(routes));
    ASSERT_TRUE(test::writeFile(routes + "/Walk.gpx", "<gpx/>") &&
                test::writeFile(media + "/photo.jpg", "jpeg"));
    const struct {
        PanelKind kind;
        QString identifier, folder, name;
        QStringList types;
        QString opensIn;
    } choices[] = {
        {PanelKind::save, "Exports", given, "New.xcappdata", {}, given},
        {PanelKind::open, "Archives", used, "Old.xcappdata", {"xcappdata"}, used},
        {PanelKind::open, "Archives", work, "", {}, used},
        {PanelKind::modalOpen, "SelectGPX", routes, "Walk.gpx", {"gpx", "csv"}, routes},
        {PanelKind::open, "Routes", routes, "Walk.gpx", {"gpx"}, routes},
        {PanelKind::modalOpen, "SelectMedia", media, "photo.jpg", {"public.image"}, media},
    };
    for (const auto &c : choices)
        EXPECT_EQ(runPanel(c.kind, c.identifier, {}, c.folder, c.name, c.types).chosen,
                  c.name.isEmpty() ? std::nullopt : std::optional(c.folder + "/" + c.name))
            << c.identifier.toStdString();
    for (const auto &c : choices)
        EXPECT_EQ(runPanel(c.kind, c.identifier).openedIn, c.opensIn) << c.identifier.toStdString();
    EXPECT_EQ(runPanel(PanelKind::open, "Exports").openedIn, given);
}

// A panel draws a file from its name and kind, reading none: PNG bytes named
// as text show as text, without a name's type they stay unknown, a FIFO
// stalls nothing. A place on a pseudo file system, kept by us or by Qt,
// chosen or only visited, is not opened and not kept, by us or by Qt.
TEST(QtFilePanelsTest, APanelReadsNoFileToDrawItAndKeepsNoPseudoPlace)
{
    const test::ScopedDefaults defaults;
    QTemporaryDir dir;
    const QString shown = dir.filePath("shown"), theme = dir.filePath("icons/probe");
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06", 24);
    QImage square(16, 16, QImage::Format_ARGB32);
    square.fill(Qt::red);
    ASSERT_TRUE(
        QDir().mkpath(shown) && QDir().mkpath(theme + "/16x16") &&
        test::writeFile(shown + "/notes.txt", png) && test::writeFile(shown + "/picture", png) &&
        ::mkfifo(QFile::encodeName(shown + "/pipe").constData(), 0600) == 0 &&
        test::writeFile(theme + "/index.theme", "[Icon Theme]\nName=probe\nDirectories=16x16\n"
                                                "[16x16]\nSize=16\nType=Fixed\n") &&
        square.save(theme + "/16x16/text-plain.png") &&
        square.save(theme + "/16x16/image-png.png"));
    const QStringList themePaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    QIcon::setThemeSearchPaths({dir.filePath("icons")});
    QIcon::setThemeName("probe");
    const auto restore = qScopeGuard([&] {
        QIcon::setThemeSearchPaths(themePaths);
        QIcon::setThemeName(themeName);
    });
    const QString home = QDir::homePath(), key = PanelFolder::defaultsKey("Probe");
    const auto qtSettings = [] {
        auto settings = std::make_unique<QSettings>(QSettings::UserScope, "QtProject");
        settings->beginGroup("FileDialog");
        return settings;
    };
    const auto keptByQt = [&] {
        const auto settings = qtSettings();
        QStringList urls = settings->value("history").toStringList();
        urls.append(settings->value("lastVisited").toString());
        for (const QString &url : urls)
            EXPECT_FALSE(PanelFolder::isPseudoPlace(QUrl(url).toLocalFile())) << url.toStdString();
    };
    // Name, type and icon of each row the list shows of `shown`.
    std::map<QString, QStringList> rows;
    const auto read = [&](QFileDialog *dialog) {
        auto *tree = dialog->findChild<QTreeView *>("treeView");
        const QModelIndex root = tree->rootIndex();
        if (dialog->directory().absolutePath() != shown ||
            !test::waitUntil([&] { return tree->model()->rowCount(root) >= 2; }))
            return;
        test::pumpFor(50ms);
        for (int row = 0; row < tree->model()->rowCount(root); ++row) {
            const QModelIndex name = tree->model()->index(row, 0, root);
            rows[name.data().toString()] = {tree->model()->index(row, 2, root).data().toString(),
                                            name.data(Qt::DecorationRole).value<QIcon>().name()};
        }
    };

    enum class Kept { ours, qts, chosen, visited };
    const struct {
        QString place;
        Kept kept;
    } cases[] = {
        {shown, Kept::ours},           {"/proc", Kept::ours},        {"/sys/kernel", Kept::ours},
        {"/dev", Kept::ours},          {"/proc/self/fd", Kept::qts}, {"/sys", Kept::qts},
        {"/dev/shm", Kept::qts},       {"/proc", Kept::chosen},      {"/dev/pts", Kept::chosen},
        {"/sys/class", Kept::visited},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.place.toStdString() + " " + std::to_string(int(c.kept)));
        UserDefaults::standard()->remove(key);
        qtSettings()->remove("");
        const QString url = QUrl::fromLocalFile(c.place).toString();
        if (c.kept == Kept::ours)
            UserDefaults::standard()->set(key, c.place);
        if (c.kept == Kept::qts) {
            qtSettings()->setValue("lastVisited", url);
            qtSettings()->setValue("history", QStringList{url});
        }
        if (c.kept == Kept::chosen || c.kept == Kept::visited) {
            runPanel(c.kept == Kept::chosen ? PanelKind::save : PanelKind::open, "Probe", {},
                     c.place, c.kept == Kept::chosen ? "x.txt" : "");
            EXPECT_FALSE(UserDefaults::standard()->string(key));
            keptByQt();
        }
        for (const PanelKind kind : {PanelKind::open, PanelKind::save})
            EXPECT_EQ(runPanel(kind, "Probe", {}, {}, {}, {}, read).openedIn,
                      c.place == shown ? shown : home);
        keptByQt();
    }
    const QMimeDatabase mimes;
    EXPECT_EQ(rows,
              (std::map<QString, QStringList>{
                  {"notes.txt", {mimes.mimeTypeForName("text/plain").comment(), "text-plain"}},
                  {"picture", {mimes.mimeTypeForName("application/octet-stream").comment(), ""}}}));
}

// Each panel opens at a size that shows a long name and each file's size,
// type and date whole, or at the size and column widths the user left that
// panel with, as long as the screen holds them; what the user changes is
// kept when the panel closes, chosen or cancelled.
TEST(QtFilePanelsTest, APanelShowsItsColumnsWholeAndKeepsTheSizeItIsGiven)
{
    const test::ScopedDefaults defaults;
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Folder")));
    ASSERT_TRUE(test::writeFile(dir.filePath("Morning run along the harbour wall.gpx"),
                                QByteArray(973868, ' ')));
    ASSERT_TRUE(test::writeFile(dir.filePath("a.csv"), "1,2"));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize screen = area.size();

    struct Shown {
        QSize size;
        QRect frame;
        std::vector<int> columns, contents;
        int listWidth = 0;
    };
    // Opens the panel, reads what it shows, does `change` and cancels.
    const auto open = [&](PanelKind kind, const QString &identifier,
                          const std::function<void(QFileDialog *, QTreeView *)> &change = {}) {
        Shown shown;
        const auto read = [&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            auto *tree = dialog->findChild<QTreeView *>("treeView");
            EXPECT_TRUE(
                test::waitUntil([&] { return tree->model()->rowCount(tree->rootIndex()) == 3; }));
            test::pumpFor(50ms);
            shown.size = dialog->size();
            shown.frame = dialog->frameGeometry();
            shown.listWidth = tree->viewport()->width();
            for (int column = 0; column < tree->header()->count(); ++column) {
                shown.columns.push_back(tree->header()->sectionSize(column));
                shown.contents.push_back(
                    static_cast<QAbstractItemView *>(tree)->sizeHintForColumn(column));
            }
            if (change)
                change(dialog, tree);
            dialog->reject();
        };
        if (kind == PanelKind::modalOpen) {
            whenModalShows(read);
            QtOpenPanel().runModal({.allowedTypes = {"gpx", "csv"},
                                    .directory = dir.path(),
                                    .identifier = identifier});
        } else {
            bool done = false;
            QtSavePanel().begin({.directory = dir.path(), .identifier = identifier},
                                [&](const std::optional<QString> &) { done = true; });
            if (QFileDialog *dialog = shownFileDialog())
                read(dialog);
            EXPECT_TRUE(test::waitUntil([&] { return done; }));
        }
        return shown;
    };

    for (const PanelKind kind : {PanelKind::modalOpen, PanelKind::save}) {
        SCOPED_TRACE(int(kind));
        const QString name = kind == PanelKind::save ? "Exports" : "Routes";
        const Shown first = open(kind, name);
        ASSERT_EQ(first.columns.size(), 4u);
        int total = 0;
        for (size_t column = 0; column < 4; ++column) {
            EXPECT_GE(first.columns[column], first.contents[column]) << column;
            total += first.columns[column];
        }
        EXPECT_LE(total, first.listWidth);
        EXPECT_TRUE(area.contains(first.frame));

        // Made smaller, with a wider name column, the panel opens so again.
        const QSize given = first.size - QSize(40, 30);
        open(kind, name, [&](QFileDialog *dialog, QTreeView *tree) {
            dialog->resize(given);
            tree->header()->resizeSection(0, first.columns[0] + 50);
        });
        const Shown again = open(kind, name);
        EXPECT_EQ(again.size, given);
        EXPECT_EQ(again.columns[0], first.columns[0] + 50);
        EXPECT_EQ(open(kind, "Other" + name).size, first.size);
    }

    // What the settings file holds is read only where it makes sense.
    const struct {
        QVariant size;
        QSize opens;
    } kept[] = {
        {"500x400", {500, 400}}, {"99999x99999", {}},   {"0x400", {}},
        {"500 x 400", {}},       {QByteArray("x"), {}},
    };
    const QSize fitted = open(PanelKind::modalOpen, "Fresh").size;
    for (const auto &k : kept) {
        UserDefaults::standard()->set(FilePanelLayout::sizeKey("Kept"), k.size);
        UserDefaults::standard()->set(FilePanelLayout::columnsKey("Kept"), QByteArray("columns"));
        const Shown shown = open(PanelKind::modalOpen, "Kept");
        if (k.opens.isValid())
            EXPECT_EQ(shown.size, k.opens);
        else if (k.size.toString().startsWith("9"))
            EXPECT_TRUE(shown.size.width() < screen.width() &&
                        shown.size.height() < screen.height());
        else
            EXPECT_EQ(shown.size, fitted) << k.size.toString().toStdString();
        EXPECT_GE(shown.columns[0], shown.contents[0]);
    }
}

// The status item shows only once it has an icon (an icon-less tray entry is
// an empty slot Qt warns of at every start), and art that cannot be had gives
// a stand-in rather than no icon.
TEST(QtStatusItemTest, ComingUpAndChangingIconWriteNoQtWarning)
{
    // Qt's warnings, less what the offscreen platform says of itself: that it
    // cannot raise a window, and that it has no native tray window to announce.
    static QStringList warnings;
    const auto record = [](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg &&
            !message.startsWith("This plugin does not support") &&
            !message.contains("QPlatformNativeInterface::"))
            warnings.append(message);
    };
    for (const auto presentation :
         {QtStatusItem::Presentation::Tray, QtStatusItem::Presentation::Button}) {
        SCOPED_TRACE(int(presentation));
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(record);
        {
            QtStatusItem item(presentation);
            QToolButton *button = nullptr;
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (widget->objectName() == "CorvaneStatusButton")
                    button = qobject_cast<QToolButton *>(widget);
            EXPECT_EQ(item.usesTray(), button == nullptr);
            item.setVisible(true);
            EXPECT_FALSE(button && button->isVisible());
            item.setIcon(ImageRef::resource("statusIcon"));
            EXPECT_TRUE(!button || button->isVisible());
            item.setIcon(ImageRef::resource("no-such-art"));
            item.setVisible(false);
            item.setVisible(true);
            if (button)
                EXPECT_FALSE(button->icon().isNull());
        }
        qInstallMessageHandler(previous);
        EXPECT_EQ(warnings, QStringList());
    }
}
