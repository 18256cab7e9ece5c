#include "common/TestSupport.h"
#include "settings/SegmentedControlStyleViewController.h"
#include "settings/SettingsTabViewController.h"
#include "settings/SettingsTestSupport.h"
#include "settings/SettingsWindowController.h"
#include "settings/UserInteractionPausableWindow.h"
#include "settings/WidgetPane.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QToolBar>
#include <QWindow>

using namespace corvane;
using namespace corvane::test;

namespace {

class SettingsWindowTest : public SettingsWindowTestBase {
protected:
    // Three panes: tall, short and wide.
    std::unique_ptr<SettingsWindowController> make(Settings::Style style, bool animated = true,
                                                   qsizetype count = 3, bool hides = true)
    {
        const QList<SettingsPane *> all = {
            new SizedPane("general", "General", QSize(420, 360)),
            new SizedPane("capture", "Capture", QSize(300, 120)),
            new SizedPane("locations", "Locations", QSize(520, 240))};
        panes = all.mid(0, count);
        qDeleteAll(all.mid(count));
        return std::make_unique<SettingsWindowController>(panes, style, animated, hides);
    }

    SizedPane *pane(int index) const { return static_cast<SizedPane *>(panes[index]); }

    static QAction *toolbarAction(SettingsWindowController &controller, const QString &identifier)
    {
        for (QAction *action : controller.tabViewController()->toolbar()->actions()) {
            if (action->objectName() == identifier)
                return action;
        }
        return nullptr;
    }

    static bool waitForTransition(SettingsWindowController &controller)
    {
        return waitUntil([&] { return !controller.tabViewController()->isTransitioning(); });
    }

    QList<SettingsPane *> panes;
};

TEST(SettingsTitleTest, SinglePaneTitleNamesTheApplicationThroughEachFallback)
{
    using Settings::ApplicationNames;
    const auto title = [](const ApplicationNames &names) {
        return Settings::windowTitle(1, "General", names);
    };
    EXPECT_EQ(title({"Corvane", "corvane-name", "corvane-bin"}), "Corvane Settings");
    EXPECT_EQ(title({"", "corvane-name", "corvane-bin"}), "corvane-name Settings");
    EXPECT_EQ(title({"", "", "corvane-bin"}), "corvane-bin Settings");
    EXPECT_EQ(title({}), "<Unknown App Name> Settings");
    EXPECT_EQ(Settings::windowTitle(2, "General", {"Corvane", "", ""}), "General");
}

TEST_F(SettingsWindowTest, WindowTitleFollowsPaneCount)
{
    const QString oldName = QGuiApplication::applicationDisplayName();
    QGuiApplication::setApplicationDisplayName("Corvane Test");
    {
        auto single = make(Settings::Style::toolbarItems, false, 1);
        single->showPane(std::nullopt);
        EXPECT_EQ(single->window()->windowTitle(), "Corvane Test Settings");
    }
    QGuiApplication::setApplicationDisplayName(oldName);

    auto controller = make(Settings::Style::toolbarItems, false, 2);
    controller->showPane(Settings::PaneIdentifier{"capture"});
    EXPECT_EQ(controller->window()->windowTitle(), "Capture");
    controller->showPane(Settings::PaneIdentifier{"general"});
    EXPECT_EQ(controller->window()->windowTitle(), "General");
}

TEST_F(SettingsWindowTest, ToolbarHidesOnlyForASinglePaneWhenAsked)
{
    const auto toolbarShown = [](SettingsWindowController &controller) {
        return controller.tabViewController()->toolbar()->isVisibleTo(controller.window());
    };
    for (bool hides : {true, false}) {
        SCOPED_TRACE(hides);
        auto single = make(Settings::Style::toolbarItems, false, 1, hides);
        EXPECT_EQ(toolbarShown(*single), !hides);
        auto two = make(Settings::Style::toolbarItems, false, 2, hides);
        EXPECT_TRUE(toolbarShown(*two));
        two->setHidesToolbarForSingleItem(!hides);
        EXPECT_TRUE(toolbarShown(*two));
    }

    // Shown or hidden later, the toolbar leaves the pane its size.
    auto single = make(Settings::Style::toolbarItems, false, 1, true);
    single->showPane(std::nullopt);
    single->setHidesToolbarForSingleItem(false);
    EXPECT_EQ(single->tabViewController()->size(), QSize(420, 360));

    // The user has no way to hide it.
    QToolBar *toolbar = single->tabViewController()->toolbar();
    EXPECT_EQ(single->window()->createPopupMenu(), nullptr);
    EXPECT_FALSE(toolbar->toggleViewAction()->isEnabled());
    EXPECT_FALSE(toolbar->isMovable());
    EXPECT_FALSE(toolbar->isFloatable());
}

TEST_F(SettingsWindowTest, ShowPaneChoosesThePane)
{
    auto controller = make(Settings::Style::toolbarItems);
    SettingsTabViewController *tabs = controller->tabViewController();
    EXPECT_FALSE(tabs->activeTab());

    controller->showPane(Settings::PaneIdentifier{"nowhere"});
    EXPECT_EQ(tabs->activeTab(), 0);
    EXPECT_TRUE(pane(0)->isVisible());

    controller->showPane(Settings::PaneIdentifier{"locations"});
    EXPECT_EQ(tabs->activeTab(), 2);
    EXPECT_FALSE(tabs->isTransitioning()) << "a pane asked for by name is shown at once";
    EXPECT_TRUE(pane(2)->isVisible());
    EXPECT_FALSE(pane(0)->isVisible());

    controller->showPane(std::nullopt);
    EXPECT_EQ(tabs->activeTab(), 2);
    EXPECT_EQ(controller->window()->windowTitle(), "Locations");
}

TEST_F(SettingsWindowTest, AskingForTheShownPaneOnlyReselectsAndRetitles)
{
    auto controller = make(Settings::Style::toolbarItems);
    controller->showPane(Settings::PaneIdentifier{"capture"});
    const QRect frame = controller->window()->geometry();
    ASSERT_EQ(pane(1)->appearances, 1);

    toolbarAction(*controller, "general")->setChecked(true);
    controller->window()->setWindowTitle("Elsewhere");
    controller->showPane(Settings::PaneIdentifier{"capture"});

    EXPECT_EQ(controller->window()->geometry(), frame);
    EXPECT_TRUE(pane(1)->isVisible());
    EXPECT_EQ(pane(1)->appearances, 1);
    EXPECT_TRUE(toolbarAction(*controller, "capture")->isChecked());
    EXPECT_FALSE(toolbarAction(*controller, "general")->isChecked());
    EXPECT_EQ(controller->window()->windowTitle(), "Capture");
}

TEST_F(SettingsWindowTest, PanesAreToldEachTimeTheyAreShown)
{
    auto controller = make(Settings::Style::toolbarItems, false);
    controller->showPane(std::nullopt);
    EXPECT_EQ(pane(0)->appearances, 1);

    toolbarAction(*controller, "capture")->trigger();
    toolbarAction(*controller, "general")->trigger();
    EXPECT_EQ(pane(1)->appearances, 1);
    EXPECT_EQ(pane(0)->appearances, 2);

    // Closed and opened again on the same pane.
    controller->window()->close();
    controller->showWindow();
    EXPECT_EQ(pane(0)->appearances, 3);
    // Closed and opened on another pane: that pane once, the old one not.
    controller->window()->close();
    controller->showPane(Settings::PaneIdentifier{"locations"});
    EXPECT_EQ(pane(2)->appearances, 1);
    EXPECT_EQ(pane(0)->appearances, 3);
}

TEST_F(SettingsWindowTest, ToolbarItemSwitchesAnimatedAndKeepsTopLeft)
{
    auto controller = make(Settings::Style::toolbarItems);
    controller->showPane(Settings::PaneIdentifier{"general"});
    const QRect tall = controller->window()->geometry();
    EXPECT_EQ(controller->tabViewController()->size(), QSize(420, 360));

    toolbarAction(*controller, "capture")->trigger();
    EXPECT_TRUE(controller->tabViewController()->isTransitioning());
    EXPECT_EQ(controller->window()->windowTitle(), "Capture");
    ASSERT_TRUE(waitForTransition(*controller));

    const QRect shortFrame = controller->window()->geometry();
    EXPECT_EQ(shortFrame.topLeft(), tall.topLeft());
    EXPECT_EQ(shortFrame.height(), tall.height() - 240);
    EXPECT_EQ(controller->tabViewController()->size(), QSize(300, 120));
    EXPECT_TRUE(pane(1)->isVisible());
    EXPECT_FALSE(pane(0)->isVisible());
}

TEST_F(SettingsWindowTest, SegmentSwitchesAnimatedAndKeepsCentre)
{
    auto controller = make(Settings::Style::segmentedControl);
    controller->showPane(Settings::PaneIdentifier{"locations"});
    const QRect wide = controller->window()->geometry();
    auto *style = dynamic_cast<SegmentedControlStyleViewController *>(
        controller->tabViewController()->settingsStyleController());
    ASSERT_NE(style, nullptr);
    EXPECT_TRUE(style->segments()->button(2)->isChecked());

    style->segments()->button(0)->click();
    EXPECT_TRUE(controller->tabViewController()->isTransitioning());
    ASSERT_TRUE(waitForTransition(*controller));

    const QRect narrow = controller->window()->geometry();
    EXPECT_EQ(controller->tabViewController()->activeTab(), 0);
    EXPECT_EQ(narrow.top(), wide.top());
    EXPECT_EQ(narrow.width(), 420);
    EXPECT_EQ(narrow.x(), wide.x() + 50);
    EXPECT_EQ(controller->tabViewController()->size(), QSize(420, 360));
}

TEST_F(SettingsWindowTest, SwitchingDuringAnAnimationEndsAtTheLastPane)
{
    auto controller = make(Settings::Style::toolbarItems);
    controller->showPane(Settings::PaneIdentifier{"general"});
    toolbarAction(*controller, "capture")->trigger();
    toolbarAction(*controller, "locations")->trigger();
    ASSERT_TRUE(waitForTransition(*controller));
    EXPECT_EQ(controller->tabViewController()->size(), QSize(520, 240));
    EXPECT_FALSE(pane(1)->isVisible());
    EXPECT_TRUE(pane(2)->isVisible());
}

TEST_F(SettingsWindowTest, StoredPlaceWinsOverCentring)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    QRect moved;
    {
        auto first = make(Settings::Style::toolbarItems, false);
        first->showPane(std::nullopt);
        const QRect centred = first->window()->geometry();
        EXPECT_EQ(centred.center(), screen->availableGeometry().center());
        first->window()->move(37, 41);
        ASSERT_TRUE(waitUntil([&] { return first->window()->pos() == QPoint(37, 41); }));
        moved = first->window()->frameGeometry();
        ASSERT_NE(moved, first->window()->geometry()) << "the platform draws no frame";
        first->window()->close();
    }
    // What is stored is the frame, and the frame is what comes back, so the
    // title bar does not move the window down at each start.
    EXPECT_EQ(defaults->string(Settings::frameAutosaveName),
              QString("37 41 %1 %2").arg(moved.width()).arg(moved.height()));
    auto second = make(Settings::Style::toolbarItems, false);
    second->showPane(Settings::PaneIdentifier{"capture"});
    EXPECT_EQ(second->window()->frameGeometry().topLeft(), moved.topLeft());
    EXPECT_EQ(second->tabViewController()->size(), QSize(300, 120)) << "the size is the pane's";
}

TEST_F(SettingsWindowTest, UnusableStoredPlaceIsIgnored)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QString &stored : {QString("-90000 -90000 400 300"), QString("12 twelve 4 4"),
                                  QString("10 10 0 0"), QString("")}) {
        SCOPED_TRACE(stored.toStdString());
        defaults->set(Settings::frameAutosaveName, stored);
        auto controller = make(Settings::Style::toolbarItems, false);
        controller->showPane(std::nullopt);
        EXPECT_EQ(controller->window()->geometry().center(), available.center());
    }
}

TEST_F(SettingsWindowTest, PausedWindowIgnoresClicksAndKeys)
{
    auto *button = new QPushButton("Press");
    button->setFixedSize(120, 40);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    SettingsWindowController controller(
        QList<SettingsPane *>{new WidgetPane({"general"}, "General", QIcon(), button)});
    controller.showPane(std::nullopt);
    UserInteractionPausableWindow *window = controller.window();
    ASSERT_TRUE(waitUntil([&] { return window->windowHandle() && window->isVisible(); }));
    button->setFocus();

    QWindow *handle = window->windowHandle();
    const auto click = [&] {
        const QPointF local = button->mapTo(window, QPointF(button->rect().center()));
        const QPointF global = window->mapToGlobal(local);
        QMouseEvent press(QEvent::MouseButtonPress, local, local, global, Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, local, local, global, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &press);
        QCoreApplication::sendEvent(handle, &release);
    };
    const auto pressSpace = [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
        QCoreApplication::sendEvent(handle, &press);
        QCoreApplication::sendEvent(handle, &release);
    };

    window->setUserInteractionEnabled(false);
    click();
    pressSpace();
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(clicks, 0);

    window->setUserInteractionEnabled(true);
    click();
    EXPECT_EQ(clicks, 1);
    pressSpace();
    EXPECT_EQ(clicks, 2);

    // A new window handle (as a change of flags makes) is paused as well.
    controller.setStaysOnTop(true);
    ASSERT_TRUE(waitUntil([&] { return window->windowHandle() && window->isVisible(); }));
    handle = window->windowHandle();
    window->setUserInteractionEnabled(false);
    click();
    EXPECT_EQ(clicks, 2);
}

TEST_F(SettingsWindowTest, PanesMadeFromDescriptionsKeepTheirOrder)
{
    int made = 0;
    const auto content = [&made] {
        ++made;
        auto *widget = new QWidget;
        widget->setFixedSize(200, 100);
        return widget;
    };
    const Settings::Pane general({"general"}, "General", QIcon(), content);
    const Settings::Pane capture({"capture"}, "Capture", QIcon(), content);
    SettingsWindowController controller(
        std::vector<const SettingsPaneConvertible *>{&general, &capture},
        Settings::Style::segmentedControl, false);
    const QList<SettingsPane *> &made_panes = controller.tabViewController()->panes();
    ASSERT_EQ(made_panes.size(), 2);
    EXPECT_EQ(made_panes[0]->paneTitle(), "General");
    EXPECT_EQ(made_panes[1]->paneIdentifier(), Settings::PaneIdentifier{"capture"});
    EXPECT_EQ(made, 2);
    controller.showPane(std::nullopt);
    EXPECT_EQ(controller.tabViewController()->size(), QSize(200, 100));
}

} // namespace
