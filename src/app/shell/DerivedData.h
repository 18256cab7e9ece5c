#pragma once

#include "platform/files/SystemPaths.h"

#include <QString>

#include <optional>

namespace corvane::DerivedData {

// "Library/Developer/Xcode/DerivedData" in the user's home.
QString defaultFolder(const SystemPaths &paths);

// Xcode's custom derived-data location as `defaults` answers it. Nothing when
// none is set, the tool fails, or the answer is a path that must never be
// trashed (empty, relative, the root, the home folder or a folder holding it).
std::optional<QString> customFolder(const SystemPaths &paths);

// Moves the custom location to the Trash when it exists, else the default
// folder. Waits for `defaults`; failures are silent.
void moveToTrash(const SystemPaths &paths = SystemPaths::current());

} // namespace corvane::DerivedData
