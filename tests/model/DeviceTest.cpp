#include "common/TestSupport.h"
#include "model/Device.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unordered_set>

using namespace corvane;
using Category = Device::Category;

namespace {

constexpr const char *kUdid = "5A1B2C3D-0000-4000-8000-00000000ABCD";
constexpr const char *kOtherUdid = "5A1B2C3D-0000-4000-8000-00000000ABCE";

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = m_home.path();
        SystemPaths::setCurrent(paths);
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    QString deviceFolder(const QString &udid) const
    {
        return m_home.path() + "/Library/Developer/CoreSimulator/Devices/" + udid;
    }

    void writeDeviceType(const QString &udid, const QVariant &deviceType)
    {
        QDir().mkpath(deviceFolder(udid));
        ASSERT_TRUE(
            PropertyList::writeFile(deviceFolder(udid) + "/device.plist",
                                    QVariantMap{{"UDID", udid}, {"deviceType", deviceType}}));
    }

    static DevicePtr make(const QString &line,
                          const Runtime &runtime = {Runtime::System::iOS, "17.0"})
    {
        return Device::initFromListLine(line, runtime, nullptr);
    }

    static QString line(const QString &name, const QString &udid = kUdid,
                        const QString &state = "Shutdown")
    {
        return name + " (" + udid + ") (" + state + ")";
    }

    QTemporaryDir m_home;
};

} // namespace

TEST_F(DeviceTest, ReadsTheListLine)
{
    auto device = make("iPhone 15 Pro (5A1B2C3D-0000-4000-8000-00000000ABCD) (Booted)");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->title(), "iPhone 15 Pro");
    EXPECT_EQ(device->status(), Device::Status::booted);
    EXPECT_EQ(device->udid(), kUdid);
    EXPECT_EQ(device->uuid(), QUuid::fromString(QString(kUdid)));
    EXPECT_EQ(device->runtime(), Runtime(Runtime::System::iOS, "17.0"));
    EXPECT_EQ(device->description(), "iPhone 15 Pro - 17.0");
    EXPECT_TRUE(device->pairedTo().empty());
    EXPECT_FALSE(device->toolset());
    EXPECT_EQ(device->url().toLocalFile(), deviceFolder(kUdid));
    EXPECT_EQ(device->applicationDirectory().toLocalFile(),
              deviceFolder(kUdid) + "/data/Containers/Bundle/Application/");

    auto watch = make(line("Apple Watch Series 9 (45mm)"));
    ASSERT_TRUE(watch);
    EXPECT_EQ(watch->title(), "Apple Watch Series 9 (45mm)");
    EXPECT_EQ(watch->status(), Device::Status::shutdown);

    // Only the blank right before the UDID's parenthesis leaves the name.
    EXPECT_EQ(make(line("iPad\t Air  "))->title(), "iPad\t Air  ");
    EXPECT_EQ(make(line("iPhone Xʀ"))->title(), "iPhone Xʀ");
}

TEST_F(DeviceTest, StatusComesFromTheStateText)
{
    EXPECT_TRUE(make(line("A", kUdid, "Shutting Down"))->status().isEmpty());
    EXPECT_TRUE(make(line("A", kUdid, "Booting"))->status().isEmpty());
    EXPECT_TRUE(make(line("A", kUdid, "Creating"))->status().isEmpty());
    EXPECT_EQ(make(line("A", kUdid, "Shutdown"))->status(), Device::Status::shutdown);

    // Text after the state is ignored.
    auto unavailable =
        make(line("iPhone 6", kUdid, "Booted") + " (unavailable, runtime profile not found)");
    ASSERT_TRUE(unavailable);
    EXPECT_EQ(unavailable->title(), "iPhone 6");
    EXPECT_EQ(unavailable->status(), Device::Status::booted);

    const Device::Status both = Device::Status::shutdown | Device::Status::booted;
    EXPECT_EQ(Device::statusFromStateText(u"Shutdown Booted"), both);
    EXPECT_TRUE(both.contains(Device::Status::booted));
    EXPECT_EQ(both.rawValue(), 3);
}

TEST_F(DeviceTest, LinesThatAreNoDevicesGiveNothing)
{
    EXPECT_FALSE(make("iPhone 15 (5a1b2c3d-0000-4000-8000-00000000abcd) (Booted)"));
    EXPECT_FALSE(make("iPhone 15 (5A1B2C3D-0000-4000-8000-00000000ABCD)"));
    EXPECT_FALSE(make("iPhone 15 (5A1B2C3D-0000-4000-8000-00000000ABC) (Booted)"));
    EXPECT_FALSE(make("(5A1B2C3D-0000-4000-8000-00000000ABCD) (Booted)"));
    EXPECT_FALSE(make("iPhone 15 (5A1B2C3D-0000-4000-8000-00000000ABCD) ()"));
    EXPECT_FALSE(make(""));
    EXPECT_FALSE(make("== Devices =="));
}

TEST_F(DeviceTest, DeviceTypeAndCategoryComeFromDevicePlist)
{
    auto missing = make(line("Lost"));
    EXPECT_EQ(missing->deviceIdentifier(), "unknown");
    EXPECT_EQ(missing->category(), Category::Unknown);

    writeDeviceType(kUdid, "com.apple.CoreSimulator.SimDeviceType.iPhone-Watch-Hybrid");
    auto both = make(line("Hybrid"));
    EXPECT_EQ(both->deviceIdentifier(),
              "com.apple.CoreSimulator.SimDeviceType.iPhone-Watch-Hybrid");
    EXPECT_EQ(both->category(), Category::iPhone);

    const std::pair<const char *, Category> types[] = {
        {"com.apple.CoreSimulator.SimDeviceType.Apple-Watch-Series-9-45mm", Category::Watch},
        {"com.apple.CoreSimulator.SimDeviceType.Apple-TV-4K-3rd-generation-4K", Category::TV},
        {"com.apple.CoreSimulator.SimDeviceType.Apple-Vision-Pro", Category::Vision},
        {"com.apple.CoreSimulator.SimDeviceType.apple-tv", Category::Unknown},
    };
    for (const auto &[type, category] : types) {
        writeDeviceType(kUdid, type);
        EXPECT_EQ(make(line("X"))->category(), category) << type;
    }

    // Damaged or odd plists are no failure.
    writeDeviceType(kUdid, qint64(7));
    EXPECT_EQ(make(line("X"))->deviceIdentifier(), "unknown");
    test::writeFile(deviceFolder(kUdid) + "/device.plist", "<plist><dict><key>deviceType");
    EXPECT_EQ(make(line("X"))->deviceIdentifier(), "unknown");
    PropertyList::writeFile(deviceFolder(kUdid) + "/device.plist",
                            QVariantList{"com.apple.CoreSimulator.SimDeviceType.iPhone-15"});
    EXPECT_EQ(make(line("X"))->category(), Category::Unknown);
    QFile::remove(deviceFolder(kUdid) + "/device.plist");
    QDir().mkpath(deviceFolder(kUdid) + "/device.plist");
    EXPECT_EQ(make(line("X"))->deviceIdentifier(), "unknown");
}

TEST_F(DeviceTest, RealWorldDevicePlists)
{
    const std::tuple<const char *, const char *, const char *> files[] = {
        {"plget__example-device.plist", "com.apple.CoreSimulator.SimDeviceType.iPad-Retina",
         "iPadButton"},
        {"MichaelLedger-Shell-Collection__xcode13-device.plist",
         "com.apple.CoreSimulator.SimDeviceType.iPad-Pro-12-9-inch-5th-generation", "iPadX"},
    };
    QDir().mkpath(deviceFolder(kUdid));
    for (const auto &[file, type, image] : files) {
        QFile::remove(deviceFolder(kUdid) + "/device.plist");
        ASSERT_TRUE(QFile::copy(test::realWorldPath(QString("plists/") + file),
                                deviceFolder(kUdid) + "/device.plist"));
        auto device = make(line("iPad"));
        EXPECT_EQ(device->deviceIdentifier(), type);
        EXPECT_EQ(device->category(), Category::iPad);
        EXPECT_EQ(device->image(), QString(":/images/") + image + ".svg");
    }
}

TEST_F(DeviceTest, EqualityAndHashAreByUdid)
{
    auto a = make(line("One", kUdid, "Booted"));
    auto b = make(line("Two", kUdid, "Shutdown"), {Runtime::System::watchOS, "10.0"});
    auto c = make(line("One", kOtherUdid, "Booted"));
    EXPECT_TRUE(*a == *b);
    EXPECT_FALSE(*a == *c);
    EXPECT_EQ(std::hash<Device>()(*a), std::hash<Device>()(*b));
    EXPECT_EQ(qHash(*a), qHash(*b));
}

TEST_F(DeviceTest, RawValuesOfTheEnumerations)
{
    EXPECT_EQ(Device::categoryFromRawValue("Watch"), Category::Watch);
    EXPECT_EQ(Device::categoryFromRawValue("watch"), std::nullopt);
    EXPECT_EQ(Device::allCategories().size(), 6u);

    EXPECT_EQ(Device::appearanceFromRawValue(1), Device::Appearance::dark);
    EXPECT_EQ(Device::appearanceFromRawValue(2), std::nullopt);
    EXPECT_EQ(Device::appearanceFromRawValue(-1), std::nullopt);

    const auto &sizes = Device::allContentSizes();
    ASSERT_EQ(sizes.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(Device::rawValue(sizes[i]), i);
    EXPECT_EQ(Device::contentSizeFromRawValue(12), std::nullopt);
    EXPECT_EQ(Device::text(Device::ContentSize::extraSmall), "extra-small");
    EXPECT_EQ(Device::menuTitle(Device::ContentSize::medium), "Medium (Default)");
    EXPECT_EQ(Device::text(Device::ContentSize::accessibilityExtraExtraExtraLarge),
              "accessibility-extra-extra-extra-large");
}

TEST_F(DeviceTest, OrderIsSystemThenNewerVersionThenTitle)
{
    using System = Runtime::System;
    auto ios18 =
        make(line("iPhone 16", "00000000-0000-4000-8000-000000000001"), {System::iOS, "18.0"});
    auto ios175 =
        make(line("iPhone 15", "00000000-0000-4000-8000-000000000002"), {System::iOS, "17.5"});
    auto ios9 =
        make(line("iPhone 6", "00000000-0000-4000-8000-000000000003"), {System::iOS, "9.0"});
    auto watch = make(line("Apple Watch", "00000000-0000-4000-8000-000000000004"),
                      {System::watchOS, "26.0"});
    auto vision = make(line("Apple Vision Pro", "00000000-0000-4000-8000-000000000005"),
                       {System::visionOS, "1.0"});
    auto ios18b =
        make(line("iPhone 16 Pro", "00000000-0000-4000-8000-000000000006"), {System::iOS, "18.0"});
    auto ios18c =
        make(line("iphone 9", "00000000-0000-4000-8000-000000000007"), {System::iOS, "18.0"});

    EXPECT_TRUE(*ios18 < *ios175);
    EXPECT_TRUE(*ios175 > *ios18);
    EXPECT_TRUE(*ios9 < *watch);
    EXPECT_TRUE(*ios18 <= *ios18);
    EXPECT_TRUE(*ios18 >= *ios18);
    EXPECT_FALSE(*ios18 < *ios18);

    std::vector<DevicePtr> devices{vision, watch, ios9, ios175, ios18b, ios18, ios18c};
    Device::sort(devices);
    const std::vector<DevicePtr> expected{ios18c, ios18, ios18b, ios175, ios9, watch, vision};
    EXPECT_EQ(devices, expected);

    // Version texts that read the same still order by title.
    auto a = make(line("B", "00000000-0000-4000-8000-000000000008"), {System::iOS, "17.01"});
    auto b = make(line("A", "00000000-0000-4000-8000-000000000009"), {System::iOS, "17.1"});
    EXPECT_TRUE(*b < *a);
    EXPECT_FALSE(*a < *b);
}

TEST_F(DeviceTest, ImagesFollowCategoryAndDeviceType)
{
    const std::tuple<Category, const char *, const char *> cases[] = {
        {Category::iPhone, "com.apple.CoreSimulator.SimDeviceType.iPhone-SE-3rd-generation",
         "iPhoneButton"},
        {Category::iPhone, "com.apple.CoreSimulator.SimDeviceType.iPhone-8-Plus", "iPhoneButton"},
        {Category::iPhone, "com.apple.CoreSimulator.SimDeviceType.iPhone-16", "iPhonePill"},
        {Category::iPhone, "com.apple.CoreSimulator.SimDeviceType.iPhone-15-Pro-Max", "iPhonePill"},
        {Category::iPhone, "com.apple.CoreSimulator.SimDeviceType.iPhone-15", "iPhoneX"},
        {Category::iPhone, "com.apple.CoreSimulator.SimDeviceType.iPhone-X", "iPhoneX"},
        {Category::iPad, "com.apple.CoreSimulator.SimDeviceType.iPad-Air-2", "iPadButton"},
        {Category::iPad, "com.apple.CoreSimulator.SimDeviceType.iPad--7th-generation-",
         "iPadButton"},
        {Category::iPad, "com.apple.CoreSimulator.SimDeviceType.iPad-Pro-11-inch", "iPadX"},
        {Category::Watch, "com.apple.CoreSimulator.SimDeviceType.Apple-Watch-Ultra-2-49mm",
         "WatchUltra"},
        {Category::Watch, "com.apple.CoreSimulator.SimDeviceType.Apple-Watch-Series-9-45mm",
         "iWatch"},
        {Category::TV, "com.apple.CoreSimulator.SimDeviceType.Apple-TV-1080p", "TV"},
        {Category::Vision, "com.apple.CoreSimulator.SimDeviceType.Apple-Vision-Pro", "visionPro"},
        {Category::Unknown, "unknown", "iPadX"},
    };
    for (const auto &[category, type, image] : cases)
        EXPECT_EQ(Device::imageName(category, type), image) << type;

    writeDeviceType(kUdid, "com.apple.CoreSimulator.SimDeviceType.Apple-Watch-Ultra-2-49mm");
    EXPECT_EQ(make(line("Ultra"))->image(), ":/images/WatchUltra.svg");
}

TEST_F(DeviceTest, EveryImageIsAValidResource)
{
    std::unordered_set<QString> names;
    for (Category category : Device::allCategories())
        for (const char *type : {"-SE", "-16", "", "Air", "Ultra"})
            names.insert(Device::imageName(category, type));
    EXPECT_EQ(names.size(), 9u);
    for (const QString &name : names) {
        const QString path = ":/images/" + name + ".svg";
        EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
        EXPECT_TRUE(QSvgRenderer(path).isValid()) << path.toStdString();
    }
}
