#include "model/InstalledRuntimes.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QTemporaryDir>
#include <QVariantList>
#include <gtest/gtest.h>

using namespace corvane;
using System = Runtime::System;

namespace {

QVariantMap image(const QString &bundleIdentifier)
{
    return QVariantMap{
        {"uuid", "0A1B2C3D-0000-4000-8000-000000000001"},
        {"path", QVariantMap{{"relative", "file:///Library/Developer/CoreSimulator/Images/x.dmg"}}},
        {"runtimeInfo", QVariantMap{{"build", "21A328"},
                                    {"platformIdentifier", "com.apple.platform.iphonesimulator"},
                                    {"bundleIdentifier", bundleIdentifier}}},
    };
}

class InstalledRuntimes : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto paths = SystemPaths::current();
        paths.coreSimulatorImages = m_dir.path() + "/images.plist";
        SystemPaths::setCurrent(paths);
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    bool write(const QVariantList &images, bool binary = false)
    {
        return PropertyList::writeFile(SystemPaths::current().coreSimulatorImages,
                                       QVariantMap{{"images", images}}, binary);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(InstalledRuntimes, ReadsKnownPlatformsInFileOrder)
{
    const QString prefix = "com.apple.CoreSimulator.SimRuntime.";
    ASSERT_TRUE(write({image(prefix + "watchOS-10-2"), image(prefix + "xrOS-1-0"),
                       image(prefix + "iOS-17-0"), image(prefix + "NoDash"),
                       image(prefix + "tvOS-17-0-1"), image(prefix + "iOS-17-0")},
                      true));
    const std::vector<Runtime> expected = {
        Runtime(System::watchOS, "10.2"), Runtime(System::iOS, "17.0"),
        Runtime(System::tvOS, "17.0.1"), Runtime(System::iOS, "17.0")};
    EXPECT_EQ(installedRuntimes(), expected);
}

TEST_F(InstalledRuntimes, MissingOrIncompleteListGivesNothing)
{
    EXPECT_TRUE(installedRuntimes().empty());

    auto incomplete = image("com.apple.CoreSimulator.SimRuntime.iOS-17-0");
    incomplete.remove("runtimeInfo");
    ASSERT_TRUE(write({image("com.apple.CoreSimulator.SimRuntime.iOS-16-4"), incomplete}));
    EXPECT_TRUE(installedRuntimes().empty());

    auto wrongType = image("com.apple.CoreSimulator.SimRuntime.iOS-17-0");
    wrongType["uuid"] = 7;
    ASSERT_TRUE(write({wrongType}));
    EXPECT_TRUE(installedRuntimes().empty());

    ASSERT_TRUE(PropertyList::writeFile(SystemPaths::current().coreSimulatorImages,
                                        QVariantMap{{"volumes", QVariantList{}}}));
    EXPECT_TRUE(installedRuntimes().empty());

    ASSERT_TRUE(write({image("com.apple.CoreSimulator.SimRuntime.iOS-16-4")}));
    EXPECT_EQ(installedRuntimes(), std::vector<Runtime>{Runtime(System::iOS, "16.4")});
}
