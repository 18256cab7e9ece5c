#include "location/DrawMode.h"

#include "platform/Loc.h"

#include <QLocale>

namespace corvane {

double metresPerSecond(DrawMode mode)
{
    switch (mode) {
    case DrawMode::walk: return 2;
    case DrawMode::bike: return 7;
    case DrawMode::drive: return 25;
    case DrawMode::fly: return 175;
    }
    return 2;
}

double stepMetres(DrawMode mode)
{
    return mode == DrawMode::walk ? 4 : 8;
}

QString drawModeTitle(DrawMode mode)
{
    QString format;
    switch (mode) {
    case DrawMode::walk: format = loc("Walking (%.0f m/s)", "GPS_DRAW_WALKING_ITEM_TITLE"); break;
    case DrawMode::bike: format = loc("Biking (%.0f m/s)", "GPS_DRAW_BIKING_ITEM_TITLE"); break;
    case DrawMode::drive: format = loc("Driving (%.0f m/s)", "GPS_DRAW_DRIVING_ITEM_TITLE"); break;
    case DrawMode::fly: format = loc("Flying (%.0f m/s)", "GPS_DRAW_FLYING_ITEM_TITLE"); break;
    }
    // The one placeholder takes the speed written in the user's locale.
    return format.replace(QLatin1String("%.0f"), QLocale().toString(metresPerSecond(mode), 'f', 0));
}

QString drawModeSymbol(DrawMode mode)
{
    switch (mode) {
    case DrawMode::walk: return QStringLiteral("figure.walk");
    case DrawMode::bike: return QStringLiteral("bicycle");
    case DrawMode::drive: return QStringLiteral("car.fill");
    case DrawMode::fly: return QStringLiteral("airplane");
    }
    return {};
}

} // namespace corvane
