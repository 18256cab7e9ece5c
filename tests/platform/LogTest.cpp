#include "common/TestSupport.h"
#include "platform/Log.h"

#include <QTemporaryDir>
#include <QStringList>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace corvane;

TEST(Log, FillsPlaceholdersInOrder)
{
    EXPECT_EQ(Log::fill("Xcode at path %@ was moved, %{PUBLIC}@ and %d%%", {"/A", "b", "5"}),
              "Xcode at path /A was moved, b and 5%");
    EXPECT_EQ(Log::fill("missing %@", {}), "missing (null)");
}

TEST(Log, CaptureKeepsFormatAndText)
{
    Log::Capture capture;
    Log::toolset().info("Switching Xcode to: %{PUBLIC}@", QString("/Applications/Xcode.app"));
    const auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].category, "toolset");
    EXPECT_EQ(entries[0].format, "Switching Xcode to: %{PUBLIC}@");
    EXPECT_EQ(entries[0].message, "Switching Xcode to: /Applications/Xcode.app");
}

TEST(Log, FileKeepsInfoAndAboveReadableFromATime)
{
    QTemporaryDir dir;
    const QString previous = Log::filePath();
    Log::setFile(dir.filePath("logs/corvane.log"));
    Log::general().info("before");
    const QDateTime since = QDateTime::currentDateTimeUtc().addMSecs(5);
    test::pumpFor(std::chrono::milliseconds(20));
    Log::general().debug("not stored");
    Log::device().error("multi\nline\twith tab");
    Log::process().notice("after");
    const auto entries = Log::entriesSince(since);
    Log::setFile(previous);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].message, "multi\nline\twith tab");
    EXPECT_EQ(entries[0].category, "device");
    EXPECT_EQ(entries[0].level, LogLevel::Error);
    EXPECT_GT(entries[0].pid, 0);
    EXPECT_EQ(entries[1].message, "after");
}

TEST(Log, FileIsCappedBySize)
{
    QTemporaryDir dir;
    const QString previous = Log::filePath();
    const QString path = dir.filePath("capped.log");
    Log::setFile(path, 2000);
    for (int i = 0; i < 200; ++i)
        Log::general().info("entry %d with some padding text", i);
    const auto size = QFileInfo(path).size();
    const auto entries = Log::entriesSince(QDateTime::fromSecsSinceEpoch(0));
    Log::setFile(previous);
    EXPECT_LT(size, 2300);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().message, "entry 199 with some padding text");
}

// An export reads the whole file: the program, main thread included, logs on
// meanwhile, and the reading sees the file as it began, also across a rotation.
TEST(Log, TheFileIsReadWhileTheProgramLogsOn)
{
    QTemporaryDir dir;
    const QString previous = Log::filePath();
    Log::setFile(dir.filePath("rotating.log"), 1);
    Log::general().info("one");
    Log::general().info("two");
    std::atomic<bool> reading = false, written = false;
    QStringList read;
    std::thread reader([&] {
        Log::readEntriesSince({}, [&](LogEntry &&entry) {
            // The first entry waits for the write: 30 s at most, as when the
            // write would wait for the reading.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            if (!reading.exchange(true))
                while (!written && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            read << entry.message + (written ? "" : " (alone)");
        });
    });
    ASSERT_TRUE(test::waitUntil([&] { return reading.load(); }));
    Log::general().info("three");
    written = true;
    reader.join();
    QStringList after;
    for (const auto &entry : Log::entriesSince({}))
        after << entry.message;
    Log::setFile(previous);
    EXPECT_EQ(read, QStringList({"one", "two"}));
    EXPECT_EQ(after, QStringList({"two", "three"}));
}
