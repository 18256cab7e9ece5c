#include "app/menus/root/StatusMenuItems.h"

#include "platform/Loc.h"
#include "platform/defaults/UserDefaults.h"
#include "shortcuts/Shortcut.h"

namespace corvane::StatusMenuItems {

namespace {

MenuItemPtr make(const QString &title, const QString &action, const QString &symbol = {},
                 const QString &key = {})
{
    auto item = MenuItem::make(title, action, key);
    if (!symbol.isEmpty())
        item->setImage(ImageRef::symbol(symbol));
    return item;
}

} // namespace

MenuItemPtr gpsItem()
{
    return make(loc("GPS Simulator…", "GPS_ITEM_TITLE"), "gps:", "location");
}

MenuItemPtr activityItem()
{
    return make(loc("Import/Export Activity", "ACTIVITY_ITEM_TITLE"),
                "activity:", "arrow.up.arrow.down");
}

MenuItemPtr trashPreviewsItem()
{
    return make(loc("Reset SwiftUI Previews", "DELETE_TRASH_PREVIEWS_ITEM_TITLE"),
                "trashPreviews:", "eraser");
}

MenuItemPtr deleteDerivedDataItem()
{
    return make(loc("Trash Derived Data", "DELETE_DD_ITEM_TITLE"), "deleteDD:", "trash");
}

MenuItemPtr aboutItem()
{
    return make(loc("About Corvane", "ABOUT_ITEM_TITLE"), "about:", "info");
}

MenuItemPtr preferencesItem()
{
    return make(loc("Settings…", "SETTINGS_ITEM_TITLE"), "preferences:", "gear", ",");
}

MenuItemPtr helpItem()
{
    return make(loc("Help", "HELP_ITEM_TITLE"), "help:", "questionmark");
}

MenuItemPtr diagnosticsItem()
{
    return make("Export Debug Logs…", "logs:");
}

MenuItemPtr quitItem()
{
    return make(loc("Quit", "QUIT_ITEM_TITLE"), "quit:", {}, "q");
}

void applyHotKeyEquivalent(MenuItem &item, const QString &defaultsKey)
{
    const auto shortcut = Shortcut::fromStoredValue(UserDefaults::standard()->object(defaultsKey));
    const QString key = shortcut ? shortcut->keyCodeStringForKeyEquivalent() : QString();
    if (!key.isEmpty()) {
        item.setKeyEquivalent(key);
        item.setKeyEquivalentModifierMask(shortcut->keyEquivalentModifierMask());
    } else {
        item.setKeyEquivalent({});
        item.setKeyEquivalentModifierMask(KeyModifier::None);
    }
}

QUrl helpUrl()
{
    return QUrl("https://quendrith.com/corvane/faq");
}

} // namespace corvane::StatusMenuItems
