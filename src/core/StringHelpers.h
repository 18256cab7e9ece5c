#pragma once

#include <QString>

#include <functional>

namespace corvane {

enum class TruncationPosition { head, middle, tail };

// Shortens `text` to `width` user-perceived characters around `filler`.
QString truncateString(int width, TruncationPosition position, const QString &filler,
                       const QString &text);

// Runs a file operation; a missing file (ENOENT) counts as success, any other
// failure is rethrown.
void ignoringFileNotFound(const std::function<void()> &operation);

} // namespace corvane
