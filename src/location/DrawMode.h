#pragma once

#include <QString>

#include <array>

namespace corvane {

// How a drawn or incomplete route is travelled. A route filled without an
// assumed speed takes `std::optional<DrawMode>` empty.
enum class DrawMode { walk, bike, drive, fly };

// Every mode, in menu order.
constexpr std::array<DrawMode, 4> allDrawModes()
{
    return {DrawMode::walk, DrawMode::bike, DrawMode::drive, DrawMode::fly};
}

// Metres per second: 2, 7, 25, 175.
double metresPerSecond(DrawMode mode);

// Metres between the points a drawn stroke is resampled to: 4 on foot, else 8.
double stepMetres(DrawMode mode);

// The mode's menu title with its speed in the current locale, "Walking (2
// m/s)"; the same titles answer the question about a track's missing data.
QString drawModeTitle(DrawMode mode);
// The symbol image shown beside the title.
QString drawModeSymbol(DrawMode mode);

} // namespace corvane
