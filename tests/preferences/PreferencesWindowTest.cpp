#include "PanesTestSupport.h"
#include "preferences/PreferencesWindow.h"
#include "settings/SettingsPane.h"
#include "settings/SettingsTabViewController.h"
#include "settings/SettingsWindowController.h"
#include "settings/UserInteractionPausableWindow.h"

using namespace corvane;
using namespace corvane::test;

namespace {

class PreferencesWindowTest : public PaneTestBase {};

} // namespace

TEST_F(PreferencesWindowTest, TheWindowShowsGeneralThenCaptureAndFallsBackToTheFirst)
{
    auto controller = makePreferencesWindowController(nullptr);
    const auto panes = controller->tabViewController()->panes();
    ASSERT_EQ(panes.size(), 2);
    EXPECT_EQ(panes[0]->paneIdentifier().rawValue, "general");
    EXPECT_EQ(panes[0]->paneTitle(), "General");
    EXPECT_EQ(panes[1]->paneIdentifier().rawValue, "capture");
    EXPECT_EQ(panes[1]->paneTitle(), "Capture");
    EXPECT_FALSE(panes[0]->toolbarItemIcon().isNull());
    EXPECT_FALSE(panes[1]->toolbarItemIcon().isNull());
    EXPECT_TRUE(controller->isAnimated());
    EXPECT_TRUE(controller->hidesToolbarForSingleItem());

    controller->showPane(Settings::PaneIdentifier{"capture"});
    EXPECT_EQ(controller->window()->windowTitle(), "Capture");
    // A pane not built yet shows the first one.
    controller->showPane(Settings::PaneIdentifier{"locations"});
    EXPECT_EQ(controller->window()->windowTitle(), "General");
    controller->window()->close();
}
