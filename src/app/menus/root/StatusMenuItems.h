#pragma once

#include "platform/menus/MenuItem.h"

#include <QString>
#include <QUrl>

namespace corvane::StatusMenuItems {

// The fixed items that the root menu and the placeholder menu share: same
// titles, actions, symbols and key equivalents. The caller sets the target.
MenuItemPtr gpsItem();
MenuItemPtr activityItem();
MenuItemPtr trashPreviewsItem();
MenuItemPtr deleteDerivedDataItem();
MenuItemPtr aboutItem();
MenuItemPtr preferencesItem();
MenuItemPtr helpItem();
MenuItemPtr diagnosticsItem();
MenuItemPtr quitItem();

// The shortcut stored under a hot key's user-defaults key as the item's key
// equivalent; none when nothing usable is stored.
void applyHotKeyEquivalent(MenuItem &item, const QString &defaultsKey);

// The product's FAQ page, which "Help" opens.
QUrl helpUrl();

} // namespace corvane::StatusMenuItems
