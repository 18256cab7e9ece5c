#include "core/Geodesy.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double halfPi = 1.5707963267948966;
constexpr double meanEarthRadiusMetres = 6371008.8;
constexpr double destinationEarthRadiusKilometres = 6371.01;

double radians(double degrees)
{
    return degrees * pi / 180.0;
}

double degrees(double radians)
{
    return radians * 180.0 / pi;
}

// Rounding can push a sine or cosine a hair past ±1, where asin and acos
// give NaN.
double clampUnit(double value)
{
    return std::clamp(value, -1.0, 1.0);
}

struct Vector {
    double x, y, z;
};

Vector unitVector(const QGeoCoordinate &coordinate)
{
    const double phi = radians(coordinate.latitude());
    const double lambda = radians(coordinate.longitude());
    return {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
}

} // namespace

bool isValidCoordinate(double latitude, double longitude)
{
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90 &&
           std::fabs(longitude) <= 180;
}

double bearing(const QGeoCoordinate &from, const QGeoCoordinate &to)
{
    const double phiA = radians(from.latitude());
    const double phiB = radians(to.latitude());
    const double deltaLambda = radians(to.longitude()) - radians(from.longitude());
    const double theta = std::atan2(std::sin(deltaLambda) * std::cos(phiB),
                                    std::cos(phiA) * std::sin(phiB) -
                                        std::sin(phiA) * std::cos(phiB) * std::cos(deltaLambda));
    return degrees(theta);
}

double distanceMetres(const QGeoCoordinate &from, const QGeoCoordinate &to)
{
    const double phiA = radians(from.latitude());
    const double phiB = radians(to.latitude());
    const double sinHalfPhi = std::sin((phiB - phiA) / 2);
    const double sinHalfLambda = std::sin(radians(to.longitude() - from.longitude()) / 2);
    const double h =
        sinHalfPhi * sinHalfPhi + std::cos(phiA) * std::cos(phiB) * sinHalfLambda * sinHalfLambda;
    return 2 * meanEarthRadiusMetres * std::asin(std::sqrt(clampUnit(h)));
}

QGeoCoordinate destination(const QGeoCoordinate &from, double metres, double bearingDegrees)
{
    const double theta = radians(bearingDegrees);
    const double delta = (metres / 1000) / destinationEarthRadiusKilometres;
    const double gammaA = halfPi - radians(from.latitude());
    const double gammaB = std::acos(clampUnit(
        std::cos(delta) * std::cos(gammaA) + std::sin(delta) * std::sin(gammaA) * std::cos(theta)));
    // At a pole every longitude is the same place; keep the one we came from.
    const double sinGammaB = std::sin(gammaB);
    const double deltaLambda =
        sinGammaB == 0 ? 0 : std::asin(clampUnit(std::sin(theta) * std::sin(delta) / sinGammaB));

    // Set one by one: the two-value constructor drops a longitude past 180.
    QGeoCoordinate result;
    result.setLatitude(degrees(halfPi - gammaB));
    result.setLongitude(degrees(radians(from.longitude()) + deltaLambda));
    return result;
}

QGeoCoordinate greatCirclePoint(const QGeoCoordinate &from, const QGeoCoordinate &to,
                                double fraction)
{
    if (fraction <= 0)
        return from;
    if (fraction >= 1)
        return to;
    const Vector a = unitVector(from);
    const Vector b = unitVector(to);
    const Vector cross{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    const double sine = std::sqrt(cross.x * cross.x + cross.y * cross.y + cross.z * cross.z);
    const double angle = std::atan2(sine, a.x * b.x + a.y * b.y + a.z * b.z);
    // The same place, or opposite ones with no one great circle between.
    if (sine < 1e-15)
        return fraction < 0.5 ? from : to;
    const double weightA = std::sin((1 - fraction) * angle) / sine;
    const double weightB = std::sin(fraction * angle) / sine;
    const Vector p{weightA * a.x + weightB * b.x, weightA * a.y + weightB * b.y,
                   weightA * a.z + weightB * b.z};
    QGeoCoordinate result;
    result.setLatitude(degrees(std::atan2(p.z, std::hypot(p.x, p.y))));
    result.setLongitude(degrees(std::atan2(p.y, p.x)));
    return result;
}

} // namespace corvane
