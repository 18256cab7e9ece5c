#include "core/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace corvane;

TEST(Geodesy, DistanceIsTheGreatCircleOnTheMeanSphere)
{
    // One degree of latitude is the mean radius times pi / 180.
    EXPECT_NEAR(distanceMetres({0, 0}, {1, 0}), 111195.0802, 1e-3);
    EXPECT_NEAR(distanceMetres({48.8566, 2.3522}, {40.7128, -74.0060}), 5837248.97, 0.01);
    // Across the antimeridian the short way round, and symmetric.
    EXPECT_NEAR(distanceMetres({0, 179.5}, {0, -179.5}), 111195.0802, 1e-3);
    EXPECT_EQ(distanceMetres({10, 20}, {-30, 40}), distanceMetres({-30, 40}, {10, 20}));
    EXPECT_EQ(distanceMetres({37.5, -122.25}, {37.5, -122.25}), 0);
    // Antipodes: rounding must not push the haversine past 1.
    EXPECT_NEAR(distanceMetres({0, 0}, {0, 180}), 6371008.8 * M_PI, 1e-3);
}

TEST(Geodesy, DestinationWalksTheBearingWithoutWrappingLongitude)
{
    // 1000 m north on the 6371.01 km sphere.
    const QGeoCoordinate north = destination({0, 0}, 1000, 0);
    EXPECT_NEAR(north.latitude(), 1000.0 / 6371010 * 180 / M_PI, 1e-12);
    EXPECT_NEAR(north.longitude(), 0, 1e-12);

    // The same distance back, up to the two radii, in any direction.
    const QGeoCoordinate start(52.52, 13.405);
    for (double heading : {0.0, 45.0, 90.0, 135.0, -90.0, -170.0}) {
        SCOPED_TRACE(heading);
        const QGeoCoordinate end = destination(start, 1000, heading);
        EXPECT_NEAR(distanceMetres(start, end), 1000 * 6371008.8 / 6371010, 1e-6);
        EXPECT_NEAR(bearing(start, end), heading, 1e-3);
    }

    const QGeoCoordinate east = destination({0, 179.9999}, 100, 90);
    EXPECT_GT(east.longitude(), 180);
    EXPECT_NEAR(east.longitude(), 179.9999 + 100.0 / 6371010 * 180 / M_PI, 1e-9);

    // No NaN where the formula divides by nothing or rounds past 1.
    for (const QGeoCoordinate &edge : {destination({90, 0}, 0, 45), destination({10, 10}, 0, 30),
                                       destination({-90, 5}, 1e6, 180)}) {
        EXPECT_TRUE(std::isfinite(edge.latitude()));
        EXPECT_TRUE(std::isfinite(edge.longitude()));
    }
    EXPECT_NEAR(destination({10, 10}, 0, 30).latitude(), 10, 1e-12);
}
