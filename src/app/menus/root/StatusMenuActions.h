#pragma once

namespace corvane::StatusMenuActions {

// What the root menu's and the placeholder menu's own items do. Those that
// need the shell do nothing without a menu host.
void activity();
void deleteDerivedData();
void about();
void help();
void preferences();
void quit();
void manage();
void logs();

} // namespace corvane::StatusMenuActions
