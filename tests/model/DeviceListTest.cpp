#include "common/ReferencePatterns.h"
#include "common/TestSupport.h"
#include "model/DeviceWatcher.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QRegularExpression>

#include <array>
#include <chrono>
#include <optional>
#include <random>
#include <utility>
#include <vector>

using namespace corvane;
using namespace Qt::StringLiterals;
using DeviceMap = DeviceWatcher::DeviceMap;

namespace {

QUuid uuid(const char *text)
{
    return QUuid::fromString(QString(text));
}

constexpr const char *kPhone = "11111111-0000-4000-8000-000000000001";
constexpr const char *kPhone2 = "11111111-0000-4000-8000-000000000002";
constexpr const char *kWatch = "22222222-0000-4000-8000-000000000001";
constexpr const char *kWatch2 = "22222222-0000-4000-8000-000000000002";

QString deviceLine(const QString &name, const char *udid, const QString &state = "Shutdown")
{
    return "    " + name + " (" + udid + ") (" + state + ")\n";
}

class DeviceListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = m_home.path();
        SystemPaths::setCurrent(paths);
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    static DeviceMap parse(const QString &text, const DeviceMap &reuse = {})
    {
        return DeviceWatcher::parseDeviceListText(text, nullptr, reuse);
    }

    static DeviceMap parseFile(const QString &name)
    {
        return parse(
            QString::fromUtf8(test::readFile(test::realWorldPath("simctl-list-text/" + name))));
    }

    static QString pairedListing(const QString &phoneName = "iPhone 15")
    {
        return "== Devices ==\n-- iOS 17.0 --\n" + deviceLine(phoneName, kPhone) +
               deviceLine("iPhone 15 Plus", kPhone2) + "-- watchOS 10.0 --\n" +
               deviceLine("Apple Watch Series 9 (45mm)", kWatch) +
               deviceLine("Apple Watch Ultra 2 (49mm)", kWatch2) + "== Device Pairs ==\n" +
               "33333333-0000-4000-8000-000000000001 (active, disconnected)\n" +
               "    Watch: Apple Watch Series 9 (45mm) (" + kWatch + ") (Shutdown)\n" +
               "    Phone: iPhone 15 (" + kPhone + ") (Shutdown)\n";
    }

    QTemporaryDir m_home;
};

} // namespace

TEST_F(DeviceListTest, DevicesUnderARuntimeHeading)
{
    const auto devices =
        parse("== Devices ==\n-- iOS 17.0 --\n" + deviceLine("iPhone 15", kPhone, "Booted") +
              deviceLine("iPhone 15 Plus", kPhone2));
    ASSERT_EQ(devices.size(), 2u);
    const auto &phone = devices.at(uuid(kPhone));
    EXPECT_EQ(phone->title(), "iPhone 15");
    EXPECT_EQ(phone->status(), Device::Status::booted);
    EXPECT_EQ(phone->runtime(), Runtime(Runtime::System::iOS, "17.0"));
    EXPECT_EQ(devices.at(uuid(kPhone2))->runtime(), Runtime(Runtime::System::iOS, "17.0"));

    // Carriage returns, tabs and Unicode line separators split and trim too.
    const auto crlf = parse("== Devices ==\r\n\t-- iOS 17.0 --\t\r\n\t" +
                            deviceLine("iPhone 15", kPhone).trimmed() + " \r\n" + QChar(0x2028) +
                            deviceLine("iPhone 15 Plus", kPhone2).trimmed());
    EXPECT_EQ(crlf.size(), 2u);
}

TEST_F(DeviceListTest, LinesOutsideARuntimeOfTheDevicesSectionAreSkipped)
{
    const QString text = deviceLine("Before any section", kPhone) + "== Device Types ==\n" +
                         "-- iOS 17.0 --\n" + deviceLine("In another section", kPhone) +
                         "== Devices ==\n" + deviceLine("Before a runtime", kPhone) +
                         "-- Unavailable: com.apple.CoreSimulator.SimRuntime.iOS-12-1 --\n" +
                         deviceLine("Unavailable", kPhone) + "-- iOS 17.0 --\n" +
                         deviceLine("Listed", kWatch) + "== Devices ==\n" +
                         deviceLine("After a new section heading", kPhone2);
    const auto devices = parse(text);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices.at(uuid(kWatch))->title(), "Listed");
}

TEST_F(DeviceListTest, EmptyHeadingsParseOn)
{
    const QString text = "== ==\n" + deviceLine("No section", kPhone) +
                         "== Devices ==\n-- iOS 17.0 --\n" + deviceLine("First", kPhone) +
                         "-- --\n" + deviceLine("No runtime", kPhone2) + "-- iOS 17.0 --\n" +
                         deviceLine("Second", kWatch) + "==  ==\n" +
                         deviceLine("Empty section", kWatch2);
    const auto devices = parse(text);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(devices.count(uuid(kPhone)));
    EXPECT_TRUE(devices.count(uuid(kWatch)));
    EXPECT_TRUE(parse("== =\n-- -\n==\n--\n== \n -- \n").empty());
}

TEST_F(DeviceListTest, AReListingKeepsTheObjectsAndRefreshesNameAndState)
{
    const auto first = parse(pairedListing());
    ASSERT_EQ(first.size(), 4u);
    const QString renamed =
        QString(pairedListing("My Phone"))
            .replace(deviceLine("My Phone", kPhone), deviceLine("My Phone", kPhone, "Booted"));
    // A runtime heading that moved does not move a kept device.
    const auto second = parse(QString(renamed).replace("iOS 17.0", "iOS 18.0"), first);
    ASSERT_EQ(second.size(), 4u);
    const auto &phone = second.at(uuid(kPhone));
    EXPECT_EQ(phone, first.at(uuid(kPhone)));
    EXPECT_EQ(phone->title(), "My Phone");
    EXPECT_EQ(phone->status(), Device::Status::booted);
    EXPECT_EQ(phone->runtime().version(), "17.0");
    EXPECT_EQ(second.at(uuid(kPhone2))->runtime().version(), "17.0");

    const auto third =
        parse("== Devices ==\n-- iOS 17.0 --\n" + deviceLine("iPhone 15", kPhone), first);
    EXPECT_EQ(third.size(), 1u);
    EXPECT_EQ(third.at(uuid(kPhone)), first.at(uuid(kPhone)));
}

TEST_F(DeviceListTest, PairsJoinAWatchWithTheNextMatchedLine)
{
    auto devices = parse(pairedListing());
    EXPECT_EQ(devices.at(uuid(kWatch))->pairedTo(), std::vector<QUuid>{uuid(kPhone)});
    EXPECT_EQ(devices.at(uuid(kPhone))->pairedTo(), std::vector<QUuid>{uuid(kWatch)});
    EXPECT_TRUE(devices.at(uuid(kPhone2))->pairedTo().empty());
    EXPECT_TRUE(devices.at(uuid(kWatch2))->pairedTo().empty());

    // Re-listings rebuild the pairs instead of adding to them.
    for (int i = 0; i < 3; ++i)
        devices = parse(pairedListing(), devices);
    EXPECT_EQ(devices.at(uuid(kWatch))->pairedTo(), std::vector<QUuid>{uuid(kPhone)});
    EXPECT_EQ(devices.at(uuid(kPhone))->pairedTo(), std::vector<QUuid>{uuid(kWatch)});

    // A pair that is no longer listed goes.
    const QString unpaired = pairedListing().section("== Device Pairs ==", 0, 0);
    devices = parse(unpaired, devices);
    EXPECT_TRUE(devices.at(uuid(kWatch))->pairedTo().empty());
    EXPECT_TRUE(devices.at(uuid(kPhone))->pairedTo().empty());
}

TEST_F(DeviceListTest, PairingRules)
{
    const QString devicesPart =
        pairedListing().section("== Device Pairs ==", 0, 0) + "== Device Pairs ==\n";
    const auto paired = [&](const QString &pairsPart) {
        const auto devices = parse(devicesPart + pairsPart);
        std::vector<std::pair<QUuid, QUuid>> result;
        for (const auto &[id, device] : devices)
            for (const QUuid &partner : device->pairedTo())
                result.emplace_back(id, partner);
        return result;
    };
    const auto line = [](const char *prefix, const char *udid) {
        return QString("    ") + prefix + "Some Device (" + udid + ") (Shutdown)\n";
    };
    const char *unlisted = "44444444-0000-4000-8000-000000000001";

    // No pending watch: a line that is no watch pairs nothing.
    EXPECT_TRUE(paired(line("Phone: ", kPhone) + line("Watch: ", kWatch)).empty());
    // A watch that is not listed leaves nothing pending.
    EXPECT_TRUE(paired(line("Watch: ", unlisted) + line("Phone: ", kPhone)).empty());
    // The partner need not say "Phone: "; lines the expression misses are passed over.
    auto pairs = paired(line("Watch: ", kWatch) + "garbage (disconnected)\n" + line("", kPhone2));
    EXPECT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(uuid(kPhone2), uuid(kWatch)));
    // A partner that is not listed uses up the pending watch.
    EXPECT_TRUE(
        paired(line("Watch: ", kWatch) + line("Phone: ", unlisted) + line("Phone: ", kPhone))
            .empty());
    // Devices only in the reused list do not pair.
    const auto kept = parse(pairedListing());
    const auto devices = parse(devicesPart.section("-- watchOS", 0, 0) + "== Device Pairs ==\n" +
                                   line("Watch: ", kWatch) + line("Phone: ", kPhone),
                               kept);
    EXPECT_TRUE(devices.at(uuid(kPhone))->pairedTo().empty());
}

TEST_F(DeviceListTest, StatusOfALine)
{
    EXPECT_EQ(DeviceWatcher::parseDeviceStatus(deviceLine("A", kPhone, "Booted")),
              Device::Status::booted);
    EXPECT_EQ(DeviceWatcher::parseDeviceStatus(deviceLine("A", kPhone, "Shutdown")),
              Device::Status::shutdown);
    EXPECT_TRUE(
        DeviceWatcher::parseDeviceStatus(deviceLine("A", kPhone, "Shutting Down")).isEmpty());
    EXPECT_TRUE(DeviceWatcher::parseDeviceStatus("Booted").isEmpty());
}

TEST_F(DeviceListTest, RealWorldListings)
{
    const QDir dir(test::realWorldPath("simctl-list-text"));
    const auto files = dir.entryList({"*.txt"}, QDir::Files);
    ASSERT_EQ(files.size(), 21);
    for (const QString &file : files)
        parseFile(file);

    const auto xcode7 = parseFile("openbakery__simctl-list-xcode7.txt");
    EXPECT_EQ(xcode7.size(), 13u);
    std::map<QString, QStringList> partners;
    for (const auto &[id, device] : xcode7)
        for (const QUuid &partner : device->pairedTo())
            partners[device->title()].append(xcode7.at(partner)->title());
    const std::map<QString, QStringList> expected{{"Apple Watch - 38mm", {"iPhone 6"}},
                                                  {"iPhone 6", {"Apple Watch - 38mm"}},
                                                  {"Apple Watch - 42mm", {"iPhone 6 Plus"}},
                                                  {"iPhone 6 Plus", {"Apple Watch - 42mm"}}};
    EXPECT_EQ(partners, expected);

    EXPECT_EQ(parseFile("fastlane__DeviceManagerSimctlOutputXcode8.txt").size(), 15u);
    EXPECT_EQ(parseFile("fastlane-scan__XcrunSimctlListDevicesOutput14.txt").size(), 80u);

    const auto unavailable =
        parseFile("fastlane__DeviceManagerSimctlOutputXcode10BootedUnavailable.txt");
    EXPECT_EQ(unavailable.size(), 4u);
    for (const auto &[id, device] : unavailable)
        EXPECT_FALSE(device->status().contains(Device::Status::booted))
            << device->title().toStdString();

    const auto xcode11 = parseFile("openbakery__simctl-list-xcode11.txt");
    EXPECT_EQ(xcode11.at(uuid("AD9C7873-8D90-4877-BD71-1BDD2904F913"))->title(), "iPhone Xʀ");

    EXPECT_TRUE(parseFile("fastlane-snapshot__xcrun-simctl-list-runtimes-Xcode8.txt").empty());
    EXPECT_TRUE(parseFile("fastlane-snapshot__xcrun-simctl-list-runtimes-Xcode9.txt").empty());

    const auto vision = parseFile("fastlane__DeviceManagerSimctlOutputXcode15.txt");
    int visionCount = 0;
    for (const auto &[id, device] : vision)
        visionCount += device->runtime().system() == Runtime::System::visionOS;
    EXPECT_EQ(visionCount, 2);
}

namespace {

std::optional<std::array<QString, 3>> patternMatch(const QString &line)
{
    const auto match = reference::deviceLinePattern().match(line);
    if (!match.hasMatch())
        return std::nullopt;
    return std::array<QString, 3>{match.captured(1), match.captured(2), match.captured(3)};
}

std::optional<std::array<QString, 3>> matcherMatch(const QString &line)
{
    const auto match = Device::deviceLineExpression().match(line);
    if (!match)
        return std::nullopt;
    return std::array<QString, 3>{match->name.toString(), match->udid.toString(),
                                  match->state.toString()};
}

} // namespace

TEST_F(DeviceListTest, TheLineMatcherFindsWhatThePatternFinds)
{
    int lines = 0;
    const QDir dir(test::realWorldPath("simctl-list-text"));
    for (const QString &file : dir.entryList({"*.txt"}, QDir::Files)) {
        const QString text = QString::fromUtf8(test::readFile(dir.filePath(file)));
        for (const QString &line : text.split(QRegularExpression("[\\n\\r]"))) {
            ++lines;
            EXPECT_EQ(matcherMatch(line.trimmed()), patternMatch(line.trimmed()))
                << file.toStdString() << ": " << line.toStdString();
        }
    }
    EXPECT_GT(lines, 1000);

    const QStringList pieces{"(",
                             ")",
                             " ",
                             "\t",
                             u"\u00A0"_s,
                             u"\u3000"_s,
                             "x",
                             "Booted",
                             "Shutdown",
                             "5A1B2C3D-0000-4000-8000-00000000ABCD",
                             "5a1b2c3d-0000-4000-8000-00000000abcd",
                             "5A1B2C3D-0000-4000-8000-00000000ABC",
                             "(5A1B2C3D-0000-4000-8000-00000000ABCD)",
                             " (5A1B2C3D-0000-4000-8000-00000000ABCD) (Booted)"};
    std::mt19937 random(2121);
    int matched = 0;
    for (int i = 0; i < 20000; ++i) {
        const QString line = test::randomText(random, pieces, 12);
        const auto expected = patternMatch(line);
        matched += expected.has_value();
        ASSERT_EQ(matcherMatch(line), expected) << line.toStdString();
    }
    EXPECT_GT(matched, 1000);
}

// The pattern took 1.9 s for a name of 40,000 blanks and never ended at a few
// MB, holding the re-listing; the matcher makes one pass.
TEST_F(DeviceListTest, LongLinesParseInOnePass)
{
    const QString udid = "5A1B2C3D-0000-4000-8000-00000000ABCD";
    const QString blanks(1 << 20, ' ');
    const std::vector<std::pair<QString, bool>> lines{
        {"A)" + blanks + "(", false},
        {"A" + blanks + "(", false},
        {"A" + blanks + "(" + udid + ")" + blanks + "(Booted", false},
        {QString("(" + udid + ") ").repeated(1 << 14), true}};
    for (const auto &[line, matches] : lines) {
        const QString listing = "== Devices ==\n-- iOS 17.0 --\n" + line;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Device::deviceLineExpression().match(line).has_value(), matches);
        DeviceWatcher::parseDeviceListText(listing, nullptr, {});
        // Only a stall fails: the pattern took seconds to minutes here.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    }
    const auto named =
        Device::deviceLineExpression().match("A" + blanks + " (" + udid + ") (Booted)");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->name.size(), blanks.size() + 1);
    EXPECT_EQ(named->state, u"Booted");
}
