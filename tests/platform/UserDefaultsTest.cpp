#include "common/TestSupport.h"
#include "platform/PropertyList.h"
#include "platform/SystemPaths.h"
#include "platform/UserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace corvane;

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        auto paths = SystemPaths::current();
        paths.home = m_dir.path() + "/home";
        paths.configDir = m_dir.path() + "/config";
        SystemPaths::setCurrent(paths);
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    QString iniPath() const { return m_dir.path() + "/config/com.quendrith.corvane.conf"; }
    QString suitePath(const QString &name) const
    {
        return m_dir.path() + "/home/Library/Preferences/" + name + ".plist";
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(UserDefaultsTest, StoredValuesComeFirstThenRegisteredOnes)
{
    auto defaults = UserDefaults::withFile(iniPath());
    defaults->registerDefaults({{"format", "png"}, {"flag", true}});
    EXPECT_EQ(defaults->string("format"), "png");
    EXPECT_TRUE(defaults->boolean("flag"));
    EXPECT_FALSE(defaults->hasStoredValue("format"));
    EXPECT_FALSE(defaults->object("missing"));
    EXPECT_FALSE(defaults->boolean("missing"));

    defaults->set("format", "jpeg");
    defaults->set("flag", false);
    EXPECT_EQ(defaults->string("format"), "jpeg");
    EXPECT_FALSE(defaults->boolean("flag"));

    defaults->remove("format");
    EXPECT_EQ(defaults->string("format"), "png");
}

TEST_F(UserDefaultsTest, ValuesSurviveInTheFileAndBooleansComeBackFromText)
{
    {
        auto defaults = UserDefaults::withFile(iniPath());
        defaults->set("on", true);
        defaults->set("off", false);
        defaults->set("count", 3);
        defaults->set("text", "a||b");
        defaults->set("at", "@odd");
    }
    auto reopened = UserDefaults::withFile(iniPath());
    EXPECT_TRUE(reopened->boolean("on"));
    EXPECT_FALSE(reopened->boolean("off"));
    EXPECT_EQ(reopened->string("count"), "3");
    EXPECT_TRUE(reopened->boolean("count"));
    EXPECT_EQ(reopened->string("text"), "a||b");
    EXPECT_EQ(reopened->string("at"), "@odd");

    for (const auto &[text, expected] : std::vector<std::pair<QString, bool>>{{"1", true},
                                                                              {"0", false},
                                                                              {"YES", true},
                                                                              {"NO", false},
                                                                              {"yes", true},
                                                                              {"true", true},
                                                                              {"false", false},
                                                                              {"", false},
                                                                              {"maybe", false}}) {
        reopened->set("b", text);
        EXPECT_EQ(reopened->boolean("b"), expected) << text.toStdString();
    }
    EXPECT_FALSE(reopened->string("missing"));
}

TEST_F(UserDefaultsTest, DoublesReadBackBitForBitAndOnlyNumbersAreDoubles)
{
    const std::vector<double> values{1700000000.1234567, 0.1 + 0.2, 1e-300, -2.5e300, 0.0};
    {
        auto defaults = UserDefaults::withFile(iniPath());
        for (size_t i = 0; i < values.size(); ++i)
            defaults->set("d" + QString::number(i), values[i]);
        defaults->set("count", 3);
        defaults->set("text", "12.5");
        defaults->set("word", "twelve");
    }
    auto reopened = UserDefaults::withFile(iniPath());
    for (size_t i = 0; i < values.size(); ++i) {
        const auto read = reopened->doubleValue("d" + QString::number(i));
        ASSERT_TRUE(read) << i;
        EXPECT_EQ(std::memcmp(&*read, &values[i], sizeof(double)), 0) << i;
    }
    EXPECT_EQ(reopened->doubleValue("count"), 3.0);
    EXPECT_EQ(reopened->doubleValue("text"), 12.5);
    EXPECT_EQ(reopened->doubleValue("word"), std::nullopt);
    EXPECT_EQ(reopened->doubleValue("missing"), std::nullopt);

    // As another run of the program finds it: the number as text in the file.
    const QString written = m_dir.path() + "/config/written.conf";
    ASSERT_TRUE(test::writeFile(written, "[General]\nd=1700000000.1234567\n"));
    EXPECT_EQ(UserDefaults::withFile(written)->doubleValue("d"), 1700000000.1234567);
}

TEST_F(UserDefaultsTest, ObserversHearEverySetAndRemoveOnTheWritingThread)
{
    auto defaults = UserDefaults::withFile(iniPath());
    defaults->registerDefaults({{"pace", "realtime"}});
    std::vector<QVariant> heard;
    std::thread::id thread;
    auto token = defaults->observe("pace", [&](const std::optional<QVariant> &value) {
        heard.push_back(value.value_or(QVariant()));
        thread = std::this_thread::get_id();
    });
    int others = 0;
    auto other = defaults->observe("other", [&](const auto &) { ++others; });

    defaults->set("pace", "fixed");
    defaults->set("pace", "fixed");
    std::thread writer([&] { defaults->remove("pace"); });
    const auto writerId = writer.get_id();
    writer.join();
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].toString(), "fixed");
    EXPECT_EQ(heard[2].toString(), "realtime");
    EXPECT_EQ(thread, writerId);
    EXPECT_EQ(others, 0);

    token->invalidate();
    defaults->set("pace", "again");
    EXPECT_EQ(heard.size(), 3u);

    int initial = 0;
    auto withInitial = defaults->observe(
        "pace", [&](const auto &value) { initial += value ? 1 : 0; }, true);
    EXPECT_EQ(initial, 1);
    withInitial.reset();
    defaults->set("pace", "later");
    EXPECT_EQ(initial, 1);
}

TEST_F(UserDefaultsTest, SuiteReadsThePropertyListAfreshOnEveryRead)
{
    const QString path = suitePath("com.apple.iphonesimulator");
    auto suite = UserDefaults::suite("com.apple.iphonesimulator");
    EXPECT_EQ(suite->filePath(), path);
    EXPECT_FALSE(suite->boolean("ShowSingleTouches"));
    EXPECT_FALSE(suite->boolean("ShowPinches"));

    QDir().mkpath(QFileInfo(path).absolutePath());
    // The way the defaults tool writes a text value.
    ASSERT_TRUE(PropertyList::writeFile(path, QVariantMap{{"ShowSingleTouches", "1"}}, true));
    EXPECT_TRUE(suite->boolean("ShowSingleTouches"));
    EXPECT_FALSE(suite->boolean("ShowPinches"));

    ASSERT_TRUE(PropertyList::writeFile(
        path, QVariantMap{{"ShowSingleTouches", "0"}, {"ShowPinches", true}}, false));
    EXPECT_FALSE(suite->boolean("ShowSingleTouches"));
    EXPECT_TRUE(suite->boolean("ShowPinches"));
}

TEST_F(UserDefaultsTest, SuiteWritesKeepOtherKeysAndNeverClobberAnUnreadableFile)
{
    const QString path = suitePath("com.example.other");
    auto suite = UserDefaults::suite("com.example.other");
    ASSERT_TRUE(test::writeFile(path, "garbage, no plist"));
    EXPECT_FALSE(suite->object("anything"));
    suite->set("key", "value");
    EXPECT_EQ(test::readFile(path), QByteArray("garbage, no plist"));

    ASSERT_TRUE(PropertyList::writeFile(path, QVariantMap{{"keep", qint64(7)}}, true));
    suite->set("key", "value");
    const auto stored = PropertyList::readDictionary(path);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->value("keep").toLongLong(), 7);
    EXPECT_EQ(stored->value("key").toString(), "value");
}
