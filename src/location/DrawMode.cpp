#include "location/DrawMode.h"

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

} // namespace corvane
