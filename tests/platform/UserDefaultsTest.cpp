#include "common/SameValue.h"
#include "common/TestSupport.h"
#include "platform/Log.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace corvane;
using namespace std::chrono_literals;

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

// Saves go through a checked copy: every kind of value still lands in the
// file exactly as QSettings has always written it, and reads back as before.
TEST_F(UserDefaultsTest, EveryKindOfValueIsWrittenAsQSettingsWritesIt)
{
    const QVariantMap map{{"keyCode", 12}, {"modifiers", 1048576}};
    const QString reference = m_dir.path() + "/reference.conf";
    auto defaults = UserDefaults::withFile(iniPath());
    const auto expectAsQSettings = [&](const QString &key, const std::optional<QVariant> &value) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_TRUE(value ? defaults->set(key, *value) : defaults->remove(key));
        QSettings settings(reference, QSettings::IniFormat);
        value ? settings.setValue(key, *value) : settings.remove(key);
        settings.sync();
        EXPECT_EQ(test::readFile(iniPath()), test::readFile(reference));
    };
    for (const auto &[key, value] : std::initializer_list<std::pair<QString, QVariant>>{
             {"bool", true},
             {"int", 42},
             {"double", 0.1 + 0.2},
             {"text", "a, \"quoted\" ; text with = signs"},
             {"empty", ""},
             {"at", "@odd"},
             {"unicode", "Grüße, 東京"},
             {"group/nested", "in a group"},
             {"list", QStringList{"a", "b,c"}},
             {"single", QStringList{"one"}},
             {"none", QStringList{}},
             {"bytes", QByteArray("\x00\x01raw", 5)},
             {"url", QUrl("file:///home/someone/Desktop/")},
             {"map", map},
             {"bool", false}})
        expectAsQSettings(key, value);
    expectAsQSettings("int", std::nullopt);
    EXPECT_EQ(defaults->string("group/nested"), "in a group");
    EXPECT_EQ(defaults->object("map"), map);
    EXPECT_EQ(test::folderEntries(m_dir.path() + "/config"),
              QStringList{"com.quendrith.corvane.conf"});
}

// What QSettings cannot write whole (here the system cuts the file short at
// 4 KiB, as a full disk would) is found before it replaces the file.
TEST_F(UserDefaultsTest, ASettingsFileThatCannotBeWrittenWholeIsLeftAsItWas)
{
    auto defaults = UserDefaults::withFile(iniPath());
    ASSERT_TRUE(defaults->set("kept", "value"));
    const QByteArray before = test::readFile(iniPath());
    Log::Capture log;
    {
        const test::FileSizeLimit limit(4096);
        EXPECT_FALSE(defaults->set("large", QString(8000, 'x')));
    }
    EXPECT_EQ(test::readFile(iniPath()), before);
    EXPECT_FALSE(defaults->hasStoredValue("large"));
    EXPECT_EQ(defaults->string("kept"), "value");
    EXPECT_TRUE(log.contains("Cannot save large in " + iniPath()));
}

// A pipe would hold the program at its first read for ever; a huge file
// would be read whole. Either is set aside at once, and the settings start
// afresh from their registered values.
TEST_F(UserDefaultsTest, AnUnfitSettingsFileIsSetAsideAndTheDefaultsApply)
{
    // Far above any settings file, far below what would hurt to read.
    constexpr qint64 kSettingsLimit = 8 << 20;
    const QString pipe = m_dir.path() + "/pipe";
    const auto makePipe = [](const QString &path) {
        return ::mkfifo(QFile::encodeName(path), 0600) == 0;
    };
    const std::pair<const char *, std::function<bool(const QString &path)>> cases[] = {
        {"named pipe", makePipe},
        {"folder", [](const QString &path) { return QDir().mkpath(path + "/inside"); }},
        {"4 GiB file",
         [](const QString &path) {
             return test::writeFile(path, "") && QFile::resize(path, qint64(4) << 30);
         }},
        {"one byte over the limit",
         [](const QString &path) {
             return test::writeFile(path, "") && QFile::resize(path, kSettingsLimit + 1);
         }},
        {"link to a pipe",
         [&](const QString &path) { return makePipe(pipe) && QFile::link(pipe, path); }},
    };
    for (const auto &[name, make] : cases) {
        SCOPED_TRACE(name);
        QDir(m_dir.path() + "/config").removeRecursively();
        QFile::remove(pipe);
        ASSERT_TRUE(QDir().mkpath(m_dir.path() + "/config"));
        ASSERT_TRUE(make(iniPath()));

        Log::Capture log;
        auto defaults = UserDefaults::withFile(iniPath());
        defaults->registerDefaults({{"pace", "realtime"}});
        auto read = std::async(std::launch::async, [&] { return defaults->string("pace"); });
        if (read.wait_for(30s) != std::future_status::ready) {
            // Lets a reader stuck on the pipe go, so that the test ends.
            const int writer = ::open(QFile::encodeName(iniPath()), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
            FAIL() << "the first read did not end";
        }
        EXPECT_EQ(read.get(), "realtime");
        const QStringList entries = test::folderEntries(m_dir.path() + "/config");
        ASSERT_EQ(entries.size(), 1);
        EXPECT_TRUE(entries[0].startsWith("com.quendrith.corvane.conf.unreadable-"));
        EXPECT_TRUE(log.contains("set aside as"));

        EXPECT_TRUE(defaults->set("pace", "fixed"));
        EXPECT_EQ(UserDefaults::withFile(iniPath())->string("pace"), "fixed");
        EXPECT_TRUE(QFileInfo(iniPath()).isFile());
    }

    // A file at the limit is read; a save that would take it past the limit
    // (and have it set aside at the next start) is refused.
    const QByteArray head = "[General]\npace=fixed\npad=";
    const QByteArray atLimit = head + QByteArray(kSettingsLimit - head.size() - 1, 'x') + '\n';
    ASSERT_TRUE(test::writeFile(iniPath(), atLimit));
    auto defaults = UserDefaults::withFile(iniPath());
    EXPECT_EQ(defaults->string("pace"), "fixed");
    EXPECT_FALSE(defaults->set("more", "text"));
    EXPECT_EQ(test::readFile(iniPath()), atLimit);
}

// Whatever a file a user or an editor left holds, every set and remove
// succeeds: a file QSettings cannot read whole (it would write over what it
// could not read) is set aside and a fresh one holds what could be read and
// the change; an editor's byte-order mark is dropped; a NaN equals itself;
// removing a key that is not there writes nothing.
TEST_F(UserDefaultsTest, EachSaveSucceedsAndKeepsWhatCouldBeRead)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char *name;
        std::optional<QByteArray> content;
        QVariant kept;
        bool setAside;
    } cases[] = {
        {"no file", std::nullopt, {}, false},
        {"a stray line", "[General]\nformat=png\nkept=yes\nno setting\n", "yes", true},
        {"a group cut short", "format=png\n[General\nkept=yes\n", "yes", true},
        {"a byte-order mark", "\xEF\xBB\xBF[General]\nformat=png\nkept=yes\n", "yes", false},
        {"a NaN in a map",
         "[General]\nformat=png\nkept=@Variant("
         "\\0\\0\\0\\b\\0\\0\\0\\x1\\0\\0\\0\\x2\\0x\\0\\0\\0\\x6"
         "\\x7f\\xf8\\0\\0\\0\\0\\0\\0)\n",
         QVariantMap{{"x", nan}}, false},
    };
    const QString config = m_dir.path() + "/config";
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        QDir(config).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(config));
        if (row.content)
            ASSERT_TRUE(test::writeFile(iniPath(), *row.content));
        Log::Capture log;
        auto defaults = UserDefaults::withFile(iniPath());
        const QStringList before = test::folderEntries(config);
        EXPECT_TRUE(defaults->remove("absent"));
        EXPECT_EQ(test::folderEntries(config), before);
        EXPECT_TRUE(defaults->set("pace", "jogging"));
        EXPECT_TRUE(defaults->remove("format"));
        EXPECT_TRUE(defaults->set("ratio", nan));
        EXPECT_FALSE(log.contains("Cannot save"));

        const auto reopened = UserDefaults::withFile(iniPath());
        EXPECT_EQ(reopened->string("pace"), "jogging");
        EXPECT_FALSE(reopened->hasStoredValue("format"));
        EXPECT_TRUE(std::isnan(reopened->doubleValue("ratio").value_or(0)));
        if (row.kept.isValid())
            EXPECT_TRUE(test::sameValue(row.kept, reopened->object("kept").value_or(QVariant())));
        EXPECT_FALSE(test::readFile(iniPath()).startsWith("\xEF\xBB\xBF"));
        const QStringList entries = test::folderEntries(config);
        ASSERT_EQ(entries.size(), row.setAside ? 2 : 1);
        if (row.setAside)
            EXPECT_EQ(test::readFile(config + "/" + entries[1]), *row.content);
    }
}
