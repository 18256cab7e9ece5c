#include "common/TestSupport.h"
#include "core/Observer.h"
#include "model/StatusBarPreset.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <limits>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

class StatusBarPresetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto paths = SystemPaths::current();
        paths.applicationSupport = m_dir.path() + "/Application Support";
        SystemPaths::setCurrent(paths);
        StatusBarPresetRepository::resetShared();
        m_observer =
            observeNotification(StatusBarPresetRepository::didChange, DispatchQueue::main(),
                                [this](const Notification &notification, const ObjectPtr &) {
                                    EXPECT_TRUE(DispatchQueue::isMainThread());
                                    EXPECT_TRUE(notification.userInfo.isEmpty());
                                    ++m_repositoryChanges;
                                });
    }

    void TearDown() override
    {
        test::pumpFor(20ms);
        m_observer->invalidate();
        StatusBarPresetRepository::resetShared();
        SystemPaths::resetToEnvironment();
    }

    QString filePath() const { return StatusBarPresetRepository::defaultFilePath(); }

    QJsonArray fileArray() const
    {
        return QJsonDocument::fromJson(test::readFile(filePath())).array();
    }

    QTemporaryDir m_dir;
    std::shared_ptr<NotificationObserver> m_observer;
    std::atomic<int> m_repositoryChanges{0};
};

} // namespace

TEST_F(StatusBarPresetTest, NewPresetDefaultsAndIdentity)
{
    auto preset = StatusBarPreset::make("Untitled Preset");
    EXPECT_EQ(preset->uniqueIdentifier().size(), 36);
    EXPECT_EQ(preset->uniqueIdentifier(), preset->uniqueIdentifier().toUpper());
    EXPECT_EQ(preset->time(), "9:41 AM");
    EXPECT_EQ(preset->dataNetwork(), "notSupported");
    EXPECT_EQ(preset->carrierName(), "Carrier");
    EXPECT_EQ(preset->wifiBars(), 3);
    EXPECT_EQ(preset->cellularBars(), 4);
    EXPECT_EQ(preset->batteryLevel(), 100);
    EXPECT_EQ(preset->dataNetworkButtonIndex(), 0);

    auto twin = StatusBarPreset::make("Other");
    EXPECT_FALSE(*preset == *twin);
    twin->setUniqueIdentifier(preset->uniqueIdentifier());
    EXPECT_TRUE(*preset == *twin);

    auto keynote = StatusBarPreset::make("Keynote");
    auto zeta = StatusBarPreset::make("Zeta");
    auto alpha = StatusBarPreset::make("alpha");
    EXPECT_TRUE(*keynote < *preset);
    EXPECT_TRUE(*zeta < *alpha);
    EXPECT_FALSE(*keynote < *StatusBarPreset::make("Keynote"));
    // Composed and decomposed forms are the same title.
    EXPECT_FALSE(*StatusBarPreset::make(QString::fromUtf8("e\xcc\x81")) <
                 *StatusBarPreset::make(QString::fromUtf8("\xc3\xa9")));
}

TEST_F(StatusBarPresetTest, SettersPostOnEveryCallButIdentifierNot)
{
    auto preset = StatusBarPreset::make("A");
    int posts = 0;
    auto token = observeNotification<StatusBarPreset>(
        StatusBarPreset::didChange, preset, nullptr,
        [&](const Notification &, const StatusBarPresetPtr &) { ++posts; });
    preset->setTitle("A");
    EXPECT_EQ(posts, 1);
    preset->setUniqueIdentifier("X");
    EXPECT_EQ(posts, 1);
    preset->setWifiButtonIndex(2);
    EXPECT_EQ(posts, 3);
    token->invalidate();
}

TEST_F(StatusBarPresetTest, DerivedIndexes)
{
    auto preset = StatusBarPreset::make("P");
    preset->setWifiButtonIndex(4);
    EXPECT_EQ(preset->wifiMode(), "failed");
    EXPECT_EQ(preset->wifiBars(), 3);
    EXPECT_EQ(preset->wifiButtonIndex(), 4);
    preset->setWifiButtonIndex(2);
    EXPECT_EQ(preset->wifiMode(), "active");
    EXPECT_EQ(preset->wifiBars(), 2);

    preset->setDataNetworkButtonIndex(5);
    EXPECT_EQ(preset->dataNetwork(), "wifi");
    preset->setDataNetworkButtonIndex(6);
    preset->setDataNetworkButtonIndex(-1);
    EXPECT_EQ(preset->dataNetwork(), "wifi");
    preset->setBatteryButtonIndex(2);
    EXPECT_EQ(preset->batteryState(), "discharging");
    preset->setBatteryButtonIndex(1);
    EXPECT_EQ(preset->batteryButtonIndex(), 1);

    preset->setCarrierStatusIndex(2);
    EXPECT_EQ(preset->cellularMode(), "searching");
    EXPECT_FALSE(preset->carrierBarsButtonEnabled());
    EXPECT_EQ(preset->carrierBarsButtonIndex(), -1);
    EXPECT_TRUE(preset->carrierNameEnabled());
    preset->setCarrierBarsButtonIndex(-1);
    EXPECT_EQ(preset->cellularBars(), 4);
    preset->setCarrierStatusIndex(3);
    EXPECT_FALSE(preset->carrierNameEnabled());
    preset->setCarrierStatusIndex(0);
    preset->setCarrierBarsButtonIndex(1);
    EXPECT_EQ(preset->carrierBarsButtonIndex(), 1);
}

TEST_F(StatusBarPresetTest, ObserversOfDerivedPropertiesHearTheirDependencies)
{
    auto preset = StatusBarPreset::make("P");
    int wifi = 0, enabled = 0, network = 0;
    auto t1 = preset->observe("wifiButtonIndex", [&] { ++wifi; });
    auto t2 = preset->observe("carrierBarsButtonEnabled", [&] { ++enabled; });
    auto t3 = preset->observe("dataNetworkButtonIndex", [&] { ++network; });
    EXPECT_FALSE(preset->observe("noSuchProperty", [] {}));
    preset->setWifiBars(1);
    preset->setWifiMode("failed");
    preset->setCellularMode("failed");
    preset->setDataNetwork("lte");
    EXPECT_EQ(wifi, 2);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(network, 0);
    preset->setDataNetworkButtonIndex(1);
    EXPECT_EQ(network, 1);
    t1->invalidate();
    preset->setWifiBars(2);
    EXPECT_EQ(wifi, 2);
}

TEST_F(StatusBarPresetTest, LenientDecodingAndRoundTrip)
{
    auto decoded = StatusBarPreset::decodeList(
        R"([{"cellularBars":"2","wifiBars":2.0,"batteryLevel":1e300,"time":null,"extra":1},)"
        R"({"title":"T","uniqueIdentifier":"ID","batteryLevel":9223372036854775807}])");
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2u);
    const auto &first = decoded->at(0);
    EXPECT_EQ(first->title(), "Keynote");
    EXPECT_EQ(first->cellularBars(), 4);
    EXPECT_EQ(first->wifiBars(), 2);
    EXPECT_EQ(first->batteryLevel(), 100);
    EXPECT_EQ(first->time(), "9:41 AM");
    EXPECT_EQ(first->uniqueIdentifier().size(), 36);
    EXPECT_EQ(decoded->at(1)->uniqueIdentifier(), "ID");
    EXPECT_EQ(decoded->at(1)->title(), "T");
    EXPECT_EQ(decoded->at(1)->batteryLevel(), std::numeric_limits<qint64>::max());

    int skipped = 0;
    const auto partly = StatusBarPreset::decodeList(R"([{"title":"A"}, 3, null, []])", &skipped);
    ASSERT_TRUE(partly);
    ASSERT_EQ(partly->size(), 1u);
    EXPECT_EQ(partly->front()->title(), "A");
    EXPECT_EQ(skipped, 3);
    EXPECT_FALSE(StatusBarPreset::decodeList("not json"));
    EXPECT_FALSE(StatusBarPreset::decodeList(R"({"title":"A"})"));

    auto preset = StatusBarPreset::make("Quote \" and / and ü");
    preset->setTime("10:10");
    preset->setDataNetwork("lte+");
    preset->setCarrierName("Car-rier");
    preset->setWifiMode("failed");
    preset->setWifiBars(-7);
    preset->setCellularMode("searching");
    preset->setCellularBars(1);
    preset->setBatteryState("charging");
    preset->setBatteryLevel(42);
    const QByteArray json = StatusBarPreset::encodeList({preset});
    EXPECT_TRUE(json.startsWith(R"([{"uniqueIdentifier":")"));
    EXPECT_TRUE(json.endsWith(R"("batteryState":"charging","batteryLevel":42}])"));
    EXPECT_FALSE(json.contains('\n'));
    auto back = StatusBarPreset::decodeList(json);
    ASSERT_TRUE(back && back->size() == 1);
    EXPECT_EQ(back->at(0)->toJson(), preset->toJson());
    EXPECT_EQ(back->at(0)->title(), preset->title());
}

TEST_F(StatusBarPresetTest, FirstRunSeedsFolderAndFile)
{
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(filePath()).absolutePath()));
    auto repository = StatusBarPresetRepository::shared();
    ASSERT_EQ(repository->presets().size(), 1u);
    const auto seed = repository->presets().front();
    EXPECT_EQ(seed->title(), "Keynote");
    EXPECT_EQ(seed->carrierName(), "Apple");
    EXPECT_EQ(seed->dataNetwork(), "wifi");
    EXPECT_EQ(seed->cellularMode(), "notSupported");
    const QJsonArray array = fileArray();
    ASSERT_EQ(array.size(), 1);
    EXPECT_EQ(array.at(0).toObject().value("uniqueIdentifier").toString(),
              seed->uniqueIdentifier());
    test::pumpFor(20ms);
    EXPECT_EQ(m_repositoryChanges, 0);
}

TEST_F(StatusBarPresetTest, AnEmptyListStaysEmpty)
{
    test::writeFile(filePath(), "[]");
    EXPECT_TRUE(StatusBarPresetRepository::shared()->presets().empty());
    EXPECT_EQ(test::readFile(filePath()), "[]");
}

// One unreadable element once cost every preset: the list started empty and
// its first save overwrote the file. The rest is kept now, and a file not
// read whole is set aside before anything is written over it.
TEST_F(StatusBarPresetTest, UnreadableElementsAreSkippedAndTheFileIsSetAside)
{
    const QByteArray original =
        R"([{"title":"One","uniqueIdentifier":"A"},null,{"title":"Three","uniqueIdentifier":"C"}])";
    test::writeFile(filePath(), original);
    auto repository = StatusBarPresetRepository::shared();
    const auto presets = repository->presets();
    ASSERT_EQ(presets.size(), 2u);
    EXPECT_EQ(presets[0]->title(), "One");
    EXPECT_EQ(presets[1]->title(), "Three");
    EXPECT_EQ(test::readFile(filePath()), original);

    presets[1]->setCarrierName("Edited");
    ASSERT_TRUE(test::waitUntil([&] { return m_repositoryChanges == 1; }));
    const QJsonArray saved = fileArray();
    ASSERT_EQ(saved.size(), 2);
    EXPECT_EQ(saved.at(1).toObject().value("carrierName").toString(), "Edited");
    const QStringList aside = QDir(QFileInfo(filePath()).absolutePath())
                                  .entryList({"StatusBarPresets.json.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QRegularExpression("^StatusBarPresets\\.json\\.unreadable-\\d{8}-\\d{6}$")
                    .match(aside.first())
                    .hasMatch());
    EXPECT_EQ(test::readFile(QFileInfo(filePath()).absolutePath() + "/" + aside.first()), original);

    // Read whole from then on: later saves write the file in place.
    presets[0]->setCarrierName("Again");
    ASSERT_TRUE(test::waitUntil([&] { return m_repositoryChanges == 2; }));
    EXPECT_EQ(QDir(QFileInfo(filePath()).absolutePath())
                  .entryList({"StatusBarPresets.json.unreadable-*"}, QDir::Files)
                  .size(),
              1);
}

TEST_F(StatusBarPresetTest, AFileThatIsNoListIsSetAsideNeverLost)
{
    test::writeFile(filePath(), "{ broken");
    auto repository = StatusBarPresetRepository::shared();
    EXPECT_TRUE(repository->presets().empty());
    EXPECT_EQ(test::readFile(filePath()), "{ broken");

    repository->setPresets({StatusBarPreset::make("New")});
    ASSERT_TRUE(test::waitUntil([&] { return m_repositoryChanges == 1; }));
    EXPECT_EQ(fileArray().at(0).toObject().value("title").toString(), "New");
    const QStringList aside = QDir(QFileInfo(filePath()).absolutePath())
                                  .entryList({"StatusBarPresets.json.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(test::readFile(QFileInfo(filePath()).absolutePath() + "/" + aside.first()),
              "{ broken");
}

TEST_F(StatusBarPresetTest, ListedChangesSaveOnceUnlistedNever)
{
    auto repository = StatusBarPresetRepository::shared();
    auto seed = repository->presets().front();
    seed->setTitle(seed->title());
    ASSERT_TRUE(test::waitUntil([&] { return m_repositoryChanges == 1; }));
    test::pumpFor(50ms);
    EXPECT_EQ(m_repositoryChanges, 1);

    auto loose = StatusBarPreset::make("Loose");
    loose->setCarrierName("Nobody");
    test::pumpFor(50ms);
    EXPECT_EQ(m_repositoryChanges, 1);
    EXPECT_EQ(fileArray().size(), 1);

    repository->setPresets({seed, loose});
    ASSERT_TRUE(test::waitUntil([&] { return m_repositoryChanges == 2; }));
    EXPECT_EQ(fileArray().size(), 2);
}

TEST_F(StatusBarPresetTest, QuickChangesLeaveTheFinalState)
{
    auto repository = StatusBarPresetRepository::shared();
    auto seed = repository->presets().front();
    for (int i = 0; i < 200; ++i)
        seed->setBatteryLevel(i);
    ASSERT_TRUE(test::waitUntil([&] { return m_repositoryChanges == 200; }));
    EXPECT_EQ(fileArray().at(0).toObject().value("batteryLevel").toInteger(), 199);

    StatusBarPresetRepository::resetShared();
    auto reloaded = StatusBarPresetRepository::shared();
    ASSERT_EQ(reloaded->presets().size(), 1u);
    EXPECT_EQ(reloaded->presets().front()->batteryLevel(), 199);
    EXPECT_EQ(reloaded->presetWithIdentifier(seed->uniqueIdentifier().toLower()),
              reloaded->presets().front());
}
