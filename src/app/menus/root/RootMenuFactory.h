#pragma once

#include "platform/menus/Menu.h"

#include <QString>

#include <functional>

namespace corvane {

// Builds the status item's menu for the current Xcode, on the user-initiated
// queue; the menu is handed to the main thread when done.
using RootMenuFactory = std::function<MenuPtr(const QString &title)>;

// The menu the delegate installs after a build: the toolset manager is first
// used here, then the menu is made.
MenuPtr makeRootMenu(const QString &title);

} // namespace corvane
