#include "GPSTestSupport.h"

#include "app/qt/QtContextMenuPresenter.h"
#include "app/shell/MainMenuUpdator.h"
#include "location/GPSSplitView.h"
#include "location/GPSViewController.h"
#include "location/GPSWindow.h"
#include "location/LocationPresetRepository.h"
#include "platform/queues/DispatchQueue.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QToolBar>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {

using Status = LocationSimulator::PlaybackStatus;

class GPSWindow : public GPSWindowTest {
protected:
    // The identifiers of the enabled items among the window's ten.
    QStringList enabledItems()
    {
        QStringList enabled;
        for (const char *identifier :
             {GPSWindowController::toggleItem, GPSWindowController::loadItem,
              GPSWindowController::drawItem, GPSWindowController::playItem,
              GPSWindowController::pauseItem, GPSWindowController::restartItem,
              GPSWindowController::clearItem, GPSWindowController::optionsItem,
              GPSWindowController::goItem})
            if (controller->item(identifier)->isEnabled())
                enabled.append(identifier);
        return enabled;
    }

    bool sendKey(QEvent::Type type, int key)
    {
        QKeyEvent event(type, key, Qt::NoModifier);
        QCoreApplication::sendEvent(controller->window(), &event);
        return event.isAccepted();
    }
};

TEST_F(GPSWindow, ToolbarItemsFollowTheRouteAndTheDrawing)
{
    makeWindow();
    EXPECT_EQ(controller->toolbarItemIdentifiers(),
              QStringList({"RestartItem", "PlayItem", "SpaceItem", "LoadItem", "DrawItem", "GoItem",
                           "ClearItem", "SpaceItem", "ToggleItem", "SettingsItem"}));
    EXPECT_EQ(controller->toolbar()->objectName(), "LocationMainWindowToolbar");
    EXPECT_EQ(controller->item("PlayItem")->toolTip(), "Start GPS Playback");
    EXPECT_EQ(controller->item("EditGroup"), nullptr);
    EXPECT_EQ(enabledItems(),
              QStringList({"ToggleItem", "LoadItem", "DrawItem", "SettingsItem", "GoItem"}));

    engine->useWithLocations(route(1));
    DispatchQueue::drainMain();
    EXPECT_EQ(enabledItems(), QStringList({"ToggleItem", "LoadItem", "DrawItem", "ClearItem",
                                           "SettingsItem", "GoItem"}));
    engine->useWithLocations(route(2));
    DispatchQueue::drainMain();
    EXPECT_EQ(enabledItems().size(), 9);

    EXPECT_TRUE(controller->playbackMenuAction()->isEnabled());
    controller->startDraw(DrawMode::walk);
    EXPECT_EQ(controller->mapPane()->drawMode(), DrawMode::walk);
    EXPECT_TRUE(enabledItems().isEmpty());
    EXPECT_FALSE(controller->playbackMenuAction()->isEnabled());
    controller->mapPane()->cancelDraw();
    EXPECT_EQ(enabledItems().size(), 9);
    EXPECT_TRUE(controller->playbackMenuAction()->isEnabled());
    // The toolbar's own draw button, without a menu choice, draws by bike.
    controller->item("DrawItem")->trigger();
    EXPECT_EQ(controller->mapPane()->drawMode(), DrawMode::bike);
}

TEST_F(GPSWindow, MenusOfTheToolbar)
{
    makeWindow();
    QStringList openTitles;
    for (QAction *action : controller->openMenu()->actions())
        openTitles.append(action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(openTitles, QStringList({"Open GPX File", "-", "City Run", "City Bicycle Ride",
                                       "Freeway Drive"}));
    EXPECT_EQ(controller->item("LoadItem")->menu(), controller->openMenu());

    QStringList drawTitles;
    for (QAction *action : controller->drawMenu()->actions()) {
        drawTitles.append(action->text());
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
    }
    EXPECT_EQ(drawTitles, QStringList({"Walking (2 m/s)", "Biking (7 m/s)", "Driving (25 m/s)",
                                       "Flying (175 m/s)"}));
    controller->drawMenu()->actions().at(3)->trigger();
    EXPECT_EQ(controller->mapPane()->drawMode(), DrawMode::fly);
}

TEST_F(GPSWindow, TheGoMenuAnswersTheMouse)
{
    ContextMenuPresenter::setShared(std::make_shared<QtContextMenuPresenter>());
    const auto preset = LocationPresetRepository::shared()->presets().at(0);
    makeWindow();
    controller->showWindow();
    QMenu *menu = controller->item("GoItem")->menu();
    EXPECT_EQ(menu->parentWidget(), controller->window());
    // Clicks the Go button, then the row titled `title` through the menu's
    // window as the pointer would; whether the row lit up under it.
    const auto choose = [&](const QString &title) {
        bool highlighted = false;
        QTimer::singleShot(0, [&] {
            for (QAction *action : menu->actions())
                if (action->text() == title) {
                    const QPoint at = menu->actionGeometry(action).center();
                    QTest::mouseMove(menu->windowHandle(), at);
                    highlighted = menu->activeAction() == action;
                    QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, at);
                }
            menu->close();
        });
        QTest::mouseClick(controller->toolbar()->widgetForAction(controller->item("GoItem")),
                          Qt::LeftButton);
        DispatchQueue::drainMain();
        return highlighted;
    };
    EXPECT_TRUE(choose(preset->title()));
    ASSERT_EQ(engine->locations().size(), 1u);
    EXPECT_EQ(engine->locations().front().coordinate, preset->coordinate());
    EXPECT_TRUE(choose("Custom…"));
    ASSERT_EQ(alerts->presented.size(), 1u);
    EXPECT_EQ(alerts->presented[0].messageText, "Enter Coordinate");
    controller.reset();
    GPSWindowController::setShared(nullptr);
    ContextMenuPresenter::setShared(nullptr);
}

TEST_F(GPSWindow, PlayAndPauseSwapInPlace)
{
    makeWindow();
    controller->showWindow();
    engine->useWithLocations(route(3));
    DispatchQueue::drainMain();
    QCoreApplication::processEvents();
    const auto place = [this](const char *identifier) {
        return controller->toolbar()->widgetForAction(controller->item(identifier))->geometry();
    };
    const QRect play = place("PlayItem"), open = place("LoadItem");
    controller->togglePlayback();
    DispatchQueue::drainMain();
    QCoreApplication::processEvents();
    EXPECT_EQ(place("PauseItem"), play);
    EXPECT_EQ(place("LoadItem"), open);
    EXPECT_EQ(controller->toolbarItemIdentifiers().at(1), "PauseItem");
    EXPECT_FALSE(controller->toolbarItemIdentifiers().contains("PlayItem"));
    const QStringList playing = controller->toolbarItemIdentifiers();
    NotificationCenter::defaultCenter().post(LocationSimulator::statusChanged, engine);
    DispatchQueue::drainMain();
    EXPECT_EQ(controller->toolbarItemIdentifiers(), playing);
    EXPECT_EQ(controller->playbackMenuAction()->text(), "Pause");

    controller->item("PauseItem")->trigger();
    DispatchQueue::drainMain();
    EXPECT_EQ(engine->playbackState(), Status::stopped);
    EXPECT_EQ(controller->toolbarItemIdentifiers().at(1), "PlayItem");
    EXPECT_EQ(controller->toolbarItemIdentifiers().count("PauseItem"), 0);
}

TEST_F(GPSWindow, TogglingIsRecordedForQuickRepeatEvenWhenNothingChanges)
{
    makeWindow();
    engine->useWithLocations(route(1));
    DispatchQueue::drainMain();
    posted = {};
    controller->togglePlayback();
    DispatchQueue::drainMain();
    EXPECT_EQ(engine->playbackState(), Status::stopped);
    EXPECT_EQ(posted.count(LocationSimulator::statusChanged), 0);
    ASSERT_EQ(commands->recentCommands().size(), 1u);
    const auto command = commands->recentCommands().front();
    EXPECT_EQ(command.title, "Toggle GPS Playback");
    EXPECT_EQ(command.selector, "toggle");
    EXPECT_EQ(command.loadTarget(), engine);
    EXPECT_TRUE(command.mainThreadOnly);

    // Quick Repeat from a worker toggles the engine on the main thread.
    engine->useWithLocations(route(3));
    DispatchQueue::drainMain();
    std::thread([command] { CommandManager::repeat(command); }).join();
    ASSERT_TRUE(waitUntil([&] { return engine->playbackState() == Status::playing; }));
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(controller->toolbarItemIdentifiers().at(1), "PauseItem");
}

TEST_F(GPSWindow, ClearStopsPlaybackAndRewindNeedsARoute)
{
    makeWindow();
    engine->useWithLocations(route(3));
    controller->togglePlayback();
    DispatchQueue::drainMain();
    ASSERT_EQ(engine->playbackState(), Status::playing);
    posted = {};
    controller->clearLocations();
    DispatchQueue::drainMain();
    EXPECT_EQ(engine->playbackState(), Status::stopped);
    EXPECT_EQ(posted.count(LocationSimulator::statusChanged), 1);
    EXPECT_TRUE(engine->locations().empty());
    EXPECT_FALSE(scheduler->isPending());
    EXPECT_EQ(controller->toolbarItemIdentifiers().at(1), "PlayItem");
    EXPECT_FALSE(controller->item("ClearItem")->isEnabled());

    engine->setPlaybackState(Status::playing);
    controller->restart();
    EXPECT_EQ(engine->playbackState(), Status::stopped);

    // A route rewinds to its first point and keeps its state.
    engine->useWithLocations(route(3));
    engine->setCurrentIndex(2);
    controller->restart();
    EXPECT_EQ(engine->currentIndex(), 0);
    EXPECT_EQ(engine->playbackState(), Status::stopped);
}

TEST_F(GPSWindow, OptionsFlagOutlivesTheWindowAndTitlesTheMenuBar)
{
    makeWindow();
    EXPECT_EQ(controller->optionsMenuAction()->text(), "Hide Options");
    EXPECT_FALSE(controller->playbackMenuAction()->isEnabled());
    engine->useWithLocations(route(2));
    DispatchQueue::drainMain();
    EXPECT_TRUE(controller->playbackMenuAction()->isEnabled());
    EXPECT_EQ(controller->playbackMenuAction()->text(), "Play");

    controller->optionsMenuAction()->trigger();
    EXPECT_TRUE(GPSWindowController::sidebarIsHidden());
    EXPECT_TRUE(delegate->menuUpdator()->sidebarIsHidden());
    EXPECT_EQ(controller->optionsMenuAction()->text(), "Show Options");
    EXPECT_TRUE(controller->splitView()->isSidebarCollapsed());

    // The status menu shows whichever controller is shared at the time.
    const auto first = GPSWindowController::shared();
    GPSWindowController::opener()->showWindow();
    EXPECT_TRUE(first->window()->isVisible());
    first->window()->close();
    EXPECT_TRUE(first->window()->isHidden());
    const auto second = GPSWindowController::shared();
    EXPECT_NE(second, first);
    EXPECT_TRUE(second->splitView()->isSidebarCollapsed());
    EXPECT_EQ(second->optionsMenuAction()->text(), "Show Options");
    second->togglePlaybackOptions();
    EXPECT_FALSE(second->splitView()->isSidebarCollapsed());
    EXPECT_EQ(second->optionsMenuAction()->text(), "Hide Options");
}

TEST_F(GPSWindow, ArrowKeysPanOnReleaseUnlessDrawing)
{
    makeWindow();
    controller->window()->resize(900, 600);
    controller->showWindow();
    DispatchQueue::drainMain();
    MapView *map = controller->mapPane()->mapView();
    const double longitude = map->centreCoordinate().longitude();

    EXPECT_TRUE(sendKey(QEvent::KeyPress, Qt::Key_Right));
    EXPECT_DOUBLE_EQ(map->centreCoordinate().longitude(), longitude);
    EXPECT_TRUE(sendKey(QEvent::KeyRelease, Qt::Key_Right));
    ASSERT_TRUE(waitUntil([map] { return !map->isAnimating(); }, std::chrono::seconds(10)));
    EXPECT_GT(map->centreCoordinate().longitude(), longitude);
    EXPECT_FALSE(sendKey(QEvent::KeyPress, Qt::Key_A));

    controller->startDraw(DrawMode::walk);
    const double drawing = map->centreCoordinate().longitude();
    EXPECT_FALSE(sendKey(QEvent::KeyPress, Qt::Key_Left));
    EXPECT_FALSE(sendKey(QEvent::KeyRelease, Qt::Key_Left));
    EXPECT_DOUBLE_EQ(map->centreCoordinate().longitude(), drawing);
}

} // namespace
