#pragma once

#include <QString>

namespace corvane::PanelFolder {

// The folder a file panel opens in: `directory` when it names a folder, else
// the folder the panel named `identifier` was last used in while that still
// exists, else the user's home folder; never the working directory, and
// never a place on a pseudo file system.
QString startFolder(const QString &directory, const QString &identifier);

// Keeps the folder that holds `chosenPath` as the one the panel named
// `identifier` opens in next time; nothing for a panel without a name or a
// choice on a pseudo file system.
void remember(const QString &identifier, const QString &chosenPath);

// The key of the standard user defaults the folder is kept under.
QString defaultsKey(const QString &identifier);

// Whether `path` names /proc, /sys, /dev or a place below them, by its
// text alone: for lists of kept places, each of which a look at the disk
// could leave waiting on an unreachable mount.
bool isPseudoPath(const QString &path);

// Whether `path` lies on a file system of the kernel's own (/proc, /sys,
// /dev and the like), whose files may block a reader forever or stand for
// no data at all: no place to open a panel in.
bool isPseudoPlace(const QString &path);

} // namespace corvane::PanelFolder
