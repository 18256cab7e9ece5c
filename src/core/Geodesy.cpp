#include "core/Geodesy.h"

#include <cmath>

namespace corvane {

namespace {

constexpr double pi = 3.141592653589793;

double radians(double degrees)
{
    return degrees * pi / 180.0;
}

} // namespace

double bearing(const QGeoCoordinate &from, const QGeoCoordinate &to)
{
    const double phiA = radians(from.latitude());
    const double phiB = radians(to.latitude());
    const double deltaLambda = radians(to.longitude()) - radians(from.longitude());
    const double theta = std::atan2(std::sin(deltaLambda) * std::cos(phiB),
                                    std::cos(phiA) * std::sin(phiB) -
                                        std::sin(phiA) * std::cos(phiB) * std::cos(deltaLambda));
    return theta * 180.0 / pi;
}

} // namespace corvane
