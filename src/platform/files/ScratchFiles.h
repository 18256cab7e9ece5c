#pragma once

#include <QString>

#include <string>

namespace corvane {

// Files a save makes beside the file it replaces, until it puts one in its
// place. Each name says which run of which program made it,
// ".<file name>.scratch-<pid>-<start>-<random>" (the process's start in clock
// ticks after boot), so that what a killed program left can be told from
// what a running one is still writing, and swept.
namespace ScratchFiles {

// A new name in the folder of `target`; nothing is made.
std::string nameBeside(const std::string &target);
QString nameBeside(const QString &target);

// Removes from `folder`, once in a process as the first save into it
// begins, the scratch files of programs that have ended: only regular files
// of this user's own under a scratch name (with a ".lock" or six-letter
// suffix, as QSettings adds), never following a link. Nothing when the
// running programs cannot be told.
void sweepOnce(const std::string &folder);

} // namespace ScratchFiles

} // namespace corvane
