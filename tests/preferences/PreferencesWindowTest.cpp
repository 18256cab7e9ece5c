#include "PanesTestSupport.h"
#include "platform/desktop/SettingsOpener.h"
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

TEST_F(PreferencesWindowTest, TheWindowListsItsFourPanesInOrderAndFallsBackToTheFirst)
{
    auto controller = makePreferencesWindowController(nullptr);
    const auto panes = controller->tabViewController()->panes();
    QStringList identifiers;
    QStringList titles;
    for (const SettingsPane *pane : panes) {
        identifiers << pane->paneIdentifier().rawValue;
        titles << pane->paneTitle();
        EXPECT_FALSE(pane->toolbarItemIcon().isNull()) << pane->paneTitle().toStdString();
    }
    EXPECT_EQ(identifiers, (QStringList{"general", "statusBar", "locations", "capture"}));
    EXPECT_EQ(titles, (QStringList{"General", "Status Bars", "Locations", "Capture"}));
    EXPECT_TRUE(controller->isAnimated());
    EXPECT_TRUE(controller->hidesToolbarForSingleItem());

    // How the device menus and the GPS window open their panes.
    SettingsOpener::setHandler(
        [&](const QString &pane) { controller->showPane(Settings::PaneIdentifier{pane}); });
    SettingsOpener::showPane("statusBar");
    EXPECT_EQ(controller->window()->windowTitle(), "Status Bars");
    SettingsOpener::showPane("locations");
    EXPECT_EQ(controller->window()->windowTitle(), "Locations");
    SettingsOpener::setHandler({});
    controller->showPane(Settings::PaneIdentifier{"nonesuch"});
    EXPECT_EQ(controller->window()->windowTitle(), "General");
    controller->window()->close();
}
