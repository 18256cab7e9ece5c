#include "common/TestSupport.h"
#include "platform/desktop/CurrentLocationProvider.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Whatever this machine offers (a positioning service or none), a request
// must end: a user who asked for the position is never left waiting.
TEST(SystemLocationProviderTest, ARequestEndsInAPositionOrAFailure)
{
    auto provider = CurrentLocationProvider::makeSystem(1500ms);
    EXPECT_EQ(provider->authorization(), CurrentLocationProvider::Authorization::usable);
    bool answered = false;
    QString failure;
    int positions = 0;
    provider->setCallbacks({[&] { answered = true; },
                            [&](const std::vector<QGeoPositionInfo> &delivered) {
                                positions += int(delivered.size());
                            },
                            [&](const QString &description) { failure = description; }});
    provider->requestAuthorization();
    EXPECT_FALSE(answered);
    ASSERT_TRUE(test::waitUntil([&] { return answered; }));
    if (!provider->locationServicesEnabled())
        GTEST_SKIP() << "No position source on this machine";
    provider->requestLocation();
    EXPECT_TRUE(test::waitUntil([&] { return positions > 0 || !failure.isEmpty(); }));
}

} // namespace
