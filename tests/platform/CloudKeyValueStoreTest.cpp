#include "common/TestSupport.h"
#include "platform/CloudKeyValueStore.h"
#include "platform/Log.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

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

TEST(CloudKeyValueStore, BadFilesAndValuesWithoutJsonFormAreRefused)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/KeyValueStore.json";
    ASSERT_TRUE(test::writeFile(path, "[1, 2"));
    Log::Capture capture;
    CloudKeyValueStore store(path);
    EXPECT_FALSE(store.object("x"));
    store.set("url", QUrl("file:///tmp"));
    EXPECT_FALSE(store.object("url"));
    EXPECT_TRUE(capture.contains("url"));
    store.set("x", "y");
    EXPECT_EQ(CloudKeyValueStore(path).string("x"), "y");
}
