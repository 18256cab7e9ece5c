#include "common/TestSupport.h"
#include "platform/defaults/CloudKeyValueStore.h"
#include "platform/Log.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using namespace corvane;

TEST(CloudKeyValueStore, WritesAJsonObjectAndReadsItBackTyped)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/Sync/KeyValueStore.json";
    {
        CloudKeyValueStore store(path);
        EXPECT_FALSE(store.object("imageFormat"));
        store.set("imageFormat", "jpeg");
        store.set("gpsAutoRewind", true);
        store.set("count", 2);
        store.set("gone", "soon");
        store.remove("gone");
    }
    const auto json = QJsonDocument::fromJson(test::readFile(path)).object();
    EXPECT_EQ(json.value("imageFormat").toString(), "jpeg");
    EXPECT_TRUE(json.value("gpsAutoRewind").isBool());
    EXPECT_FALSE(json.contains("gone"));

    CloudKeyValueStore reopened(path);
    EXPECT_EQ(reopened.string("imageFormat"), "jpeg");
    EXPECT_TRUE(reopened.boolean("gpsAutoRewind"));
    EXPECT_EQ(reopened.object("count")->toInt(), 2);
    EXPECT_FALSE(reopened.boolean("missing"));
}

TEST(CloudKeyValueStore, SynchronizePicksUpOutsideChangesAndWritesMergeOverThem)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/KeyValueStore.json";
    CloudKeyValueStore store(path);
    store.set("mine", "a");
    ASSERT_TRUE(test::writeFile(path, R"({"mine": "a", "theirs": "b"})"));
    EXPECT_FALSE(store.object("theirs"));
    EXPECT_TRUE(store.synchronize());
    EXPECT_EQ(store.string("theirs"), "b");

    ASSERT_TRUE(test::writeFile(path, R"({"mine": "a", "theirs": "b", "later": 1})"));
    store.set("mine", "c");
    const auto json = QJsonDocument::fromJson(test::readFile(path)).object();
    EXPECT_EQ(json.value("mine").toString(), "c");
    EXPECT_EQ(json.value("later").toInt(), 1);
}

// A file that is no JSON object, too large, or no file at all (a sync tool
// may leave any) is never read or waited on, and is kept aside when a write
// replaces it.
TEST(CloudKeyValueStore, BadFilesAndValuesWithoutJsonFormAreRefused)
{
    const std::pair<const char *, std::function<bool(const QString &path)>> cases[] = {
        {"cut short", [](const QString &path) { return test::writeFile(path, "[1, 2"); }},
        {"named pipe",
         [](const QString &path) { return ::mkfifo(QFile::encodeName(path), 0600) == 0; }},
        {"over the limit",
         [](const QString &path) {
             return test::writeFile(path, "{}") &&
                    QFile::resize(path, CloudKeyValueStore::maxFileBytes + 1);
         }},
    };
    for (const auto &[name, make] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const QString path = dir.path() + "/KeyValueStore.json";
        ASSERT_TRUE(make(path));
        Log::Capture capture;
        CloudKeyValueStore store(path);
        EXPECT_FALSE(store.object("x"));
        store.set("url", QUrl("file:///tmp"));
        EXPECT_FALSE(store.object("url"));
        EXPECT_TRUE(capture.contains("url"));
        store.set("x", "y");
        EXPECT_EQ(CloudKeyValueStore(path).string("x"), "y");
        const QStringList entries = test::folderEntries(dir.path());
        ASSERT_EQ(entries.size(), 2);
        EXPECT_TRUE(entries[1].startsWith("KeyValueStore.json.unreadable-"));
    }
}
