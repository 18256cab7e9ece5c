#include "common/TestSupport.h"
#include "core/JsonStore.h"
#include "location/LocationPreset.h"
#include "location/LocationPresetRepository.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/files/PendingSaves.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <limits>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

constexpr double kLatitude = 37.33507030721554;
constexpr double kLongitude = -122.00915439213304;

int countPosts(const LocationPresetPtr &preset, const std::function<void()> &work)
{
    int posts = 0;
    auto token = observeNotification<LocationPreset>(
        LocationPreset::didChange, preset, nullptr,
        [&](const Notification &, const LocationPresetPtr &) { ++posts; });
    work();
    token->invalidate();
    return posts;
}

TEST(LocationPresetTest, NewPresetsAndIdentity)
{
    auto preset = LocationPreset::make("Home");
    EXPECT_EQ(preset->title(), "Home");
    EXPECT_EQ(preset->uniqueIdentifier().size(), 36);
    EXPECT_EQ(preset->uniqueIdentifier(), preset->uniqueIdentifier().toUpper());
    EXPECT_EQ(preset->latitude(), kLatitude);
    EXPECT_EQ(preset->longitude(), kLongitude);
    EXPECT_EQ(preset->coordinateText(), "37.335070, -122.009154");
    EXPECT_NE(preset->uniqueIdentifier(), LocationPreset::make("Home")->uniqueIdentifier());

    auto twin = LocationPreset::make("Elsewhere");
    twin->setLatitude(1);
    EXPECT_FALSE(*preset == *twin);
    EXPECT_EQ(countPosts(twin, [&] { twin->setUniqueIdentifier(preset->uniqueIdentifier()); }), 0);
    EXPECT_TRUE(*preset == *twin);

    EXPECT_EQ(countPosts(preset,
                         [&] {
                             preset->setTitle("Home");
                             preset->setLatitude(kLatitude);
                             preset->setLongitude(1);
                         }),
              3);
}

TEST(LocationPresetTest, CoordinateTextIsReadByTheSharedRuleAndWrittenWithoutLocale)
{
    struct Case {
        const char *text;
        bool accepted;
        double latitude;
        double longitude;
    };
    const Case cases[] = {{"37.5, -122.25", true, 37.5, -122.25},
                          {" 37.5 ,  -122.25 ", true, 37.5, -122.25},
                          {"37.5 -122.25", false, 0, 0},
                          {"abc, 37.5, -122.25", true, 37.5, -122.25},
                          {"0, 0", false, 0, 0},
                          {"91, 10", false, 0, 0},
                          {"-90, 180", true, -90, 180},
                          {"", false, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        auto preset = LocationPreset::make("P");
        const int posts = countPosts(preset, [&] { preset->setCoordinateText(QString(c.text)); });
        EXPECT_EQ(posts, c.accepted ? 2 : 0);
        EXPECT_EQ(preset->latitude(), c.accepted ? c.latitude : kLatitude);
        EXPECT_EQ(preset->longitude(), c.accepted ? c.longitude : kLongitude);
    }

    // A decimal comma in the user's locale changes nothing in the text.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    auto preset = LocationPreset::make("P");
    preset->setCoordinateText(u"-0.5, 179.9999999");
    EXPECT_EQ(preset->coordinateText(), "-0.500000, 180.000000");
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(before);
}

TEST(LocationPresetTest, DerivedPropertiesHearTheCoordinate)
{
    auto preset = LocationPreset::make("P");
    int text = 0, coordinate = 0, title = 0;
    auto t1 = preset->observe("coordinateText", [&] { ++text; });
    auto t2 = preset->observe("coordinate", [&] { ++coordinate; });
    auto t3 = preset->observe("title", [&] { ++title; });
    EXPECT_FALSE(preset->observe("noSuchProperty", [] {}));
    preset->setCoordinateText(u"10, 20");
    preset->setTitle("Q");
    EXPECT_EQ(text, 2);
    EXPECT_EQ(coordinate, 2);
    EXPECT_EQ(title, 1);
    t1->invalidate();
    preset->setLatitude(11);
    EXPECT_EQ(text, 2);
    EXPECT_EQ(coordinate, 3);
}

TEST(LocationPresetTest, LenientDecodingAndExactRoundTrip)
{
    auto decoded = LocationPreset::decodeList(
        R"([{"latitude":"x","longitude":null,"title":7,"extra":[1]},)"
        R"({"longitude":-0.1246,"title":"Big Ben","uniqueIdentifier":"ID","latitude":51.5007}])");
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2u);
    const auto &first = decoded->at(0);
    EXPECT_EQ(first->title(), "Untitled Preset");
    EXPECT_EQ(first->latitude(), kLatitude);
    EXPECT_EQ(first->longitude(), kLongitude);
    EXPECT_EQ(first->uniqueIdentifier().size(), 36);
    EXPECT_EQ(decoded->at(1)->uniqueIdentifier(), "ID");
    EXPECT_EQ(decoded->at(1)->title(), "Big Ben");
    EXPECT_EQ(decoded->at(1)->latitude(), 51.5007);
    EXPECT_EQ(decoded->at(1)->longitude(), -0.1246);

    // An element without identifier gets a new one at every reading.
    const QByteArray noIdentifier = R"([{"title":"A"}])";
    EXPECT_NE(LocationPreset::decodeList(noIdentifier)->at(0)->uniqueIdentifier(),
              LocationPreset::decodeList(noIdentifier)->at(0)->uniqueIdentifier());

    EXPECT_FALSE(LocationPreset::decodeList(R"([{"title":"A"}, "B"])"));
    EXPECT_FALSE(LocationPreset::decodeList("not json"));
    EXPECT_FALSE(LocationPreset::decodeList(R"({"title":"A"})"));
    EXPECT_TRUE(LocationPreset::decodeList("[]")->empty());

    auto preset = LocationPreset::make("Quote \" and ü");
    preset->setLatitude(-33.868820000000007);
    preset->setLongitude(151.20929);
    const auto json = LocationPreset::encodeList({preset->values()});
    ASSERT_TRUE(json);
    EXPECT_TRUE(json->startsWith(R"([{"uniqueIdentifier":")"));
    EXPECT_TRUE(json->endsWith(R"(","title":"Quote \" and ü","latitude":-33.86882000000001,)"
                               R"("longitude":151.20929}])"));
    const auto back = LocationPreset::decodeList(*json);
    ASSERT_TRUE(back && back->size() == 1);
    EXPECT_EQ(back->at(0)->latitude(), preset->latitude());
    EXPECT_TRUE(*back->at(0) == *preset);

    preset->setLongitude(std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(
        LocationPreset::encodeList({LocationPreset::make("A")->values(), preset->values()}));
    EXPECT_EQ(LocationPreset::encodeList({}), "[]");
}

// The repository in a temporary Application Support folder, its writes and
// notifications counted.
class LocationPresetRepositoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        auto paths = SystemPaths::current();
        paths.applicationSupport = m_dir.path() + "/Application Support";
        SystemPaths::setCurrent(paths);
        LocationPresetRepository::resetShared();
        m_observer = observeNotification(
            LocationPresetRepository::didChange, DispatchQueue::main(),
            [this](const Notification &notification, const ObjectPtr &object) {
                EXPECT_TRUE(DispatchQueue::isMainThread());
                EXPECT_TRUE(notification.userInfo.isEmpty());
                EXPECT_TRUE(std::dynamic_pointer_cast<LocationPresetRepository>(object));
                ++m_changes;
            });
    }

    void TearDown() override
    {
        if (m_repository)
            m_repository->waitForSaves();
        m_repository.reset();
        LocationPresetRepository::resetShared();
        ASSERT_TRUE(test::waitForBackgroundWork());
        m_observer->invalidate();
        SystemPaths::resetToEnvironment();
    }

    std::shared_ptr<LocationPresetRepository> makeRepository()
    {
        m_repository = LocationPresetRepository::make(
            filePath(), [this](const QString &path, const QByteArray &bytes) {
                ++m_writes;
                return !m_failWrites && writeFileAtomically(path, bytes);
            });
        return m_repository;
    }

    // Lets every change reach the store, every save finish and its
    // notification arrive.
    void settle() { ASSERT_TRUE(test::waitForBackgroundWork()); }

    QString filePath() const { return LocationPresetRepository::defaultFilePath(); }

    QJsonArray fileArray() const
    {
        return QJsonDocument::fromJson(test::readFile(filePath())).array();
    }

    QTemporaryDir m_dir;
    std::shared_ptr<LocationPresetRepository> m_repository;
    std::shared_ptr<NotificationObserver> m_observer;
    std::atomic<int> m_writes{0};
    std::atomic<bool> m_failWrites{false};
    int m_changes = 0;
};

TEST_F(LocationPresetRepositoryTest, FirstRunSeedsTheMothership)
{
    EXPECT_EQ(filePath(),
              m_dir.path() + "/Application Support/com.quendrith.corvane/LocationPresets.json");
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(filePath()).absolutePath()));
    auto repository = LocationPresetRepository::shared();
    ASSERT_EQ(repository->presets().size(), 1u);
    const auto seed = repository->presets().front();
    EXPECT_EQ(seed->title(), "The Mothership");
    EXPECT_EQ(seed->latitude(), kLatitude);
    EXPECT_EQ(seed->longitude(), kLongitude);

    const QJsonArray array = fileArray();
    ASSERT_EQ(array.size(), 1);
    const QJsonObject stored = array.at(0).toObject();
    EXPECT_EQ(stored.value("uniqueIdentifier").toString(), seed->uniqueIdentifier());
    EXPECT_EQ(stored.value("title").toString(), "The Mothership");
    EXPECT_EQ(stored.value("latitude").toDouble(), kLatitude);
    EXPECT_EQ(stored.value("longitude").toDouble(), kLongitude);
    test::pumpFor(20ms);
    EXPECT_EQ(m_changes, 0);

    // Made once per run: the same list, no second seed.
    EXPECT_EQ(LocationPresetRepository::shared(), repository);
}

// One bad element once cost every preset: the list loaded empty and the
// next save overwrote the file. The readable ones stay now, and a file not
// read whole is set aside before anything is written over it.
TEST_F(LocationPresetRepositoryTest, ExistingFilesAreNeverReseededAndBadOnesAreSetAside)
{
    QDir().mkpath(QFileInfo(filePath()).absolutePath());
    test::writeFile(filePath(), "[]");
    EXPECT_TRUE(makeRepository()->presets().empty());
    EXPECT_EQ(test::readFile(filePath()), "[]");

    const QByteArray broken = R"([{"title":"A"},{"title":"B"},42,{"title":"C"},{"title":"D"}])";
    test::writeFile(filePath(), broken);
    Log::Capture capture;
    auto repository = makeRepository();
    QStringList titles;
    for (const auto &preset : repository->presets())
        titles << preset->title();
    EXPECT_EQ(titles, (QStringList{"A", "B", "C", "D"}));
    EXPECT_TRUE(capture.contains("Unreadable presets left out of " + filePath() + ": 1"));
    test::pumpFor(20ms);
    EXPECT_EQ(test::readFile(filePath()), broken);
    EXPECT_EQ(m_writes, 0);

    repository->presets().front()->setTitle("Edited");
    settle();
    EXPECT_EQ(m_writes, 1);
    EXPECT_EQ(m_changes, 1);
    EXPECT_EQ(fileArray().size(), 4);
    EXPECT_EQ(fileArray().at(0).toObject().value("title").toString(), "Edited");
    const QStringList aside =
        QFileInfo(filePath()).dir().entryList({"LocationPresets.json.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^LocationPresets\.json\.unreadable-\d{8}-\d{6}$)")
                    .match(aside.first())
                    .hasMatch());
    EXPECT_EQ(test::readFile(QFileInfo(filePath()).dir().filePath(aside.first())), broken);
    EXPECT_TRUE(capture.contains("Set " + filePath() + " aside as "));
}

TEST_F(LocationPresetRepositoryTest, AFailedSeedWriteLeavesTheListEmpty)
{
    m_failWrites = true;
    EXPECT_TRUE(makeRepository()->presets().empty());
    EXPECT_EQ(m_writes, 1);
    EXPECT_FALSE(QFileInfo::exists(filePath()));
}

TEST_F(LocationPresetRepositoryTest, EachListedChangeRewritesOnceAndAnnounces)
{
    auto repository = makeRepository();
    ASSERT_EQ(m_writes, 1);
    auto seed = repository->presets().front();

    seed->setTitle("Infinite Loop");
    settle();
    EXPECT_EQ(m_writes, 2);
    EXPECT_EQ(m_changes, 1);
    EXPECT_EQ(fileArray().at(0).toObject().value("title").toString(), "Infinite Loop");

    seed->setCoordinateText(u"51.5007, -0.1246");
    settle();
    EXPECT_EQ(m_writes, 4);
    EXPECT_EQ(m_changes, 3);
    EXPECT_EQ(fileArray().at(0).toObject().value("longitude").toDouble(), -0.1246);

    // Not in the list, though equal in all but identity to nothing listed.
    auto loose = LocationPreset::make("Loose");
    loose->setTitle("Still loose");
    settle();
    EXPECT_EQ(m_writes, 4);
    EXPECT_EQ(m_changes, 3);

    // A copy with the listed identifier counts as listed.
    auto twin = LocationPreset::make("Twin");
    twin->setUniqueIdentifier(seed->uniqueIdentifier());
    twin->setTitle("Twin");
    settle();
    EXPECT_EQ(m_writes, 5);
}

TEST_F(LocationPresetRepositoryTest, FailedWritesStillAnnounceAndUnencodableListsDoNeither)
{
    auto repository = makeRepository();
    auto seed = repository->presets().front();
    const QByteArray before = test::readFile(filePath());

    m_failWrites = true;
    seed->setTitle("Unsaved");
    settle();
    EXPECT_EQ(m_writes, 2);
    EXPECT_EQ(m_changes, 1);
    EXPECT_EQ(test::readFile(filePath()), before);

    m_failWrites = false;
    seed->setLatitude(std::numeric_limits<double>::infinity());
    settle();
    EXPECT_EQ(m_writes, 2);
    EXPECT_EQ(m_changes, 1);
    EXPECT_EQ(test::readFile(filePath()), before);
}

TEST_F(LocationPresetRepositoryTest, QuickEditsLeaveTheFileWithTheFinalList)
{
    auto repository = makeRepository();
    auto seed = repository->presets().front();
    auto other = LocationPreset::make("Other");
    repository->setPresets({seed, other});
    for (int i = 0; i < 50; ++i) {
        seed->setTitle(QString::number(i));
        other->setLatitude(i);
    }
    repository->setPresets({other, seed});
    settle();
    EXPECT_EQ(m_writes, 1 + 1 + 100 + 1);
    EXPECT_EQ(m_changes, 102);

    const auto expected = LocationPreset::encodeList({other->values(), seed->values()});
    ASSERT_TRUE(expected);
    EXPECT_EQ(test::readFile(filePath()), *expected);

    LocationPresetRepository::resetShared();
    auto reloaded = LocationPresetRepository::shared();
    ASSERT_EQ(reloaded->presets().size(), 2u);
    EXPECT_TRUE(*reloaded->presets().at(0) == *other);
    EXPECT_EQ(reloaded->presets().at(0)->latitude(), 49);
    EXPECT_EQ(reloaded->presets().at(1)->title(), "49");
}

TEST_F(LocationPresetRepositoryTest, PendingSavesCanBeAwaitedAtQuit)
{
    auto repository = LocationPresetRepository::shared();
    auto seed = repository->presets().front();
    seed->setTitle("Last word");
    // The change reaches the store on the main queue; the save is then
    // pending on the store's own queue.
    QCoreApplication::processEvents();
    EXPECT_TRUE(PendingSaves::waitUntilDone(std::chrono::steady_clock::now() + 30s));
    EXPECT_EQ(fileArray().at(0).toObject().value("title").toString(), "Last word");
}

} // namespace
