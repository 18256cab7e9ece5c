#pragma once

#include "app/menus/CommandManager.h"
#include "app/shell/AppDelegate.h"
#include "location/EngineTestSupport.h"
#include "location/GPSWindowController.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/menus/ContextMenuPresenter.h"
#include "platform/menus/Menu.h"
#include "platform/desktop/Workspace.h"

#include <QCoreApplication>
#include <QEvent>

namespace corvane::test {

// A GPS window on a test engine (fake steps, sends and store), with the
// shell's delegate for its menu updator and command history, and recording
// alerts and workspace.
class GPSWindowTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        makeEngine();
        LocationSimulator::setShared(engine);
        alerts = std::make_shared<RecordingAlertPresenter>();
        AlertPresenter::setShared(alerts);
        workspace = std::make_shared<RecordingWorkspace>();
        Workspace::setShared(workspace);
        AppDelegate::Environment environment;
        environment.commandManager = commands;
        environment.rootMenuFactory = [](const QString &title) {
            return std::make_shared<Menu>(title);
        };
        delegate = AppDelegate::make(environment);
        GPSWindowController::setSidebarIsHidden(false);
    }

    void TearDown() override
    {
        EXPECT_TRUE(waitForBackgroundWork());
        GPSWindowController::setShared(nullptr);
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delegate.reset();
        AlertPresenter::setShared(nullptr);
        Workspace::setShared(nullptr);
        LocationSimulator::setShared(nullptr);
        EngineTest::TearDown();
    }

    std::shared_ptr<GPSWindowController> makeWindow()
    {
        GPSWindowController::Environment environment;
        environment.engine = engine;
        environment.after = [](double, std::function<void()>) {};
        controller = GPSWindowController::make(environment);
        GPSWindowController::setShared(controller);
        return controller;
    }

    std::shared_ptr<CommandManager> commands = CommandManager::make();
    std::shared_ptr<AppDelegate> delegate;
    std::shared_ptr<RecordingAlertPresenter> alerts;
    std::shared_ptr<RecordingWorkspace> workspace;
    std::shared_ptr<GPSWindowController> controller;
};

} // namespace corvane::test
