#include "platform/files/FileCoordinator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

TEST(FileCoordinator, WritersExcludeReadersOfTheSamePath)
{
    auto &coordinator = FileCoordinator::shared(FileCoordinators::container);
    EXPECT_EQ(&coordinator, &FileCoordinator::shared(FileCoordinators::container));
    EXPECT_EQ(coordinator.purposeIdentifier(), "com.quendrith.corvane.container");

    const QUrl item = QUrl::fromLocalFile("/tmp/coordinated/item");
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<bool> overlapWithWriter{false};
    std::atomic<bool> writing{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < 20; ++n) {
                if (i == 0) {
                    coordinator.coordinateWriting(QUrl::fromLocalFile("/tmp/coordinated/./item"),
                                                  false, [&](const QUrl &) {
                                                      writing = true;
                                                      if (inside.load() > 0)
                                                          overlapWithWriter = true;
                                                      std::this_thread::sleep_for(100us);
                                                      writing = false;
                                                  });
                } else {
                    coordinator.coordinateReading(item, 0, [&](const QUrl &) {
                        if (writing.load())
                            overlapWithWriter = true;
                        const int now = ++inside;
                        maxInside = std::max(maxInside.load(), now);
                        std::this_thread::sleep_for(100us);
                        --inside;
                    });
                }
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_FALSE(overlapWithWriter);
}

TEST(FileCoordinator, NestsOnOneThreadAndPassesErrorsOn)
{
    FileCoordinator coordinator(FileCoordinators::file);
    const QUrl item = QUrl::fromLocalFile("/tmp/coordinated/nested");
    int depth = 0;
    coordinator.coordinateWriting(item, true, [&](const QUrl &url) {
        EXPECT_EQ(url, item);
        coordinator.coordinateReading(item, FileCoordinator::withoutChanges, [&](const QUrl &) {
            coordinator.coordinateWriting(item, false, [&](const QUrl &) { depth = 3; });
        });
    });
    EXPECT_EQ(depth, 3);

    EXPECT_THROW(
        coordinator.coordinateReading(item, 0, [](const QUrl &) { throw std::logic_error("x"); }),
        std::logic_error);
    // The lock was released by the throw.
    std::thread([&] { coordinator.coordinateWriting(item, false, [](const QUrl &) {}); }).join();

    EXPECT_THROW(
        coordinator.coordinateReading(QUrl("https://example.com/x"), 0, [](const QUrl &) {}),
        FileCoordinationError);
}

// Copies coordinate by path, others by URL: both must take one lock.
TEST(FileCoordinator, APathTakesTheLockOfItsFileUrl)
{
    auto &coordinator = FileCoordinator::shared(FileCoordinators::file);
    for (const QString path : {"/tmp/coordinated/plain", "/tmp/coordinated/100% #?.txt",
                               "/tmp/coordinated/folder/", "/tmp/coordinated/ünïcode"}) {
        std::atomic<bool> holding{false};
        std::atomic<bool> released{false};
        bool readerSawRelease = false;
        std::thread writer([&] {
            coordinator.coordinateWriting(QUrl::fromLocalFile(path), false, [&](const QUrl &) {
                holding = true;
                std::this_thread::sleep_for(20ms);
                released = true;
            });
        });
        while (!holding.load())
            std::this_thread::yield();
        coordinator.coordinateReadingPath(path, [&] { readerSawRelease = released.load(); });
        writer.join();
        EXPECT_TRUE(readerSawRelease) << path.toStdString();
    }
    EXPECT_THROW(coordinator.coordinateWritingPath("relative/item", [] {}), FileCoordinationError);
}
