#include "model/Runtime.h"
#include "platform/Log.h"

#include <QHash>
#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_set>

using namespace corvane;
using System = Runtime::System;

TEST(Runtime, AcceptsRuntimeTextsInAnyCase)
{
    Log::Capture log;
    EXPECT_EQ(Runtime::fromString("iOS 17.0"), Runtime(System::iOS, "17.0"));
    EXPECT_EQ(Runtime::fromString("  iphoneos 17.0.1  "), Runtime(System::iOS, "17.0.1"));
    EXPECT_EQ(Runtime::fromString("IOS 17.0"), Runtime(System::iOS, "17.0"));
    EXPECT_EQ(Runtime::fromString("VisionOS 1.0"), Runtime(System::visionOS, "1.0"));
    EXPECT_EQ(Runtime::fromString("watchOS 10.2"), Runtime(System::watchOS, "10.2"));
    EXPECT_EQ(log.count("Invalid runtime"), 0);
}

TEST(Runtime, RefusesOtherTextsWithOneLineEach)
{
    Log::Capture log;
    for (const QString text : {"iOS 17", "iOS  17.0", "iOS 17.0 (21A328)", "xrOS 1.0", ""}) {
        EXPECT_EQ(Runtime::fromString(text), std::nullopt) << text.toStdString();
        EXPECT_EQ(log.count("Invalid runtime: " + text), text.isEmpty() ? 5 : 1)
            << text.toStdString();
    }
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries.back().category, "device");
    EXPECT_EQ(entries.back().level, LogLevel::Debug);
}

TEST(Runtime, OrdersBySystemThenNewestVersionFirst)
{
    const Runtime ios175(System::iOS, "17.5"), ios170(System::iOS, "17.0");
    EXPECT_TRUE(ios175 < ios170);
    EXPECT_TRUE(Runtime(System::iOS, "10.0") < Runtime(System::iOS, "9.3"));
    EXPECT_FALSE(Runtime(System::tvOS, "17.0") < Runtime(System::watchOS, "10.0"));
    EXPECT_TRUE(Runtime(System::watchOS, "10.0") < Runtime(System::tvOS, "17.0"));
    EXPECT_TRUE(ios170 > ios175);
    EXPECT_TRUE(ios170 >= ios170 && ios170 <= ios170);

    std::vector<Runtime> runtimes = {Runtime(System::watchOS, "9.1"),  Runtime(System::iOS, "16.4"),
                                     Runtime(System::visionOS, "1.0"), ios170,
                                     Runtime(System::watchOS, "10.2"), ios175};
    std::sort(runtimes.begin(), runtimes.end());
    QStringList order;
    for (const auto &runtime : runtimes)
        order << runtime.description();
    EXPECT_EQ(order.join(", "), "iOS 17.5, iOS 17.0, iOS 16.4, watchOS 10.2, watchOS 9.1, "
                                "visionOS 1.0");
}

TEST(Runtime, EqualityIsExactWhileTheOrderMayCallTextsTheSame)
{
    const Runtime padded(System::iOS, "17.01"), plain(System::iOS, "17.1");
    EXPECT_NE(padded, plain);
    EXPECT_FALSE(padded < plain);
    EXPECT_FALSE(plain < padded);
    EXPECT_NE(Runtime(System::iOS, "17.0"), Runtime(System::tvOS, "17.0"));

    EXPECT_EQ(qHash(Runtime(System::iOS, "17.0")), qHash(Runtime(System::iOS, "17.0")));
    std::unordered_set<Runtime> set = {padded, plain, Runtime(System::iOS, "17.1")};
    EXPECT_EQ(set.size(), 2u);
    QHash<Runtime, int> groups;
    groups[plain] = 1;
    EXPECT_EQ(groups.value(Runtime(System::iOS, "17.1")), 1);
}

TEST(Runtime, SystemsFromNamesAndRawValues)
{
    EXPECT_EQ(Runtime::systemFromName("iPhoneOS"), System::iOS);
    EXPECT_EQ(Runtime::systemFromName("TVOS"), System::tvOS);
    EXPECT_EQ(Runtime::systemFromName("xrOS"), std::nullopt);
    EXPECT_EQ(Runtime::systemFromRawValue(3), System::visionOS);
    EXPECT_EQ(Runtime::systemFromRawValue(4), std::nullopt);
    EXPECT_EQ(Runtime::systemFromRawValue(-1), std::nullopt);
    EXPECT_EQ(Runtime(System::visionOS, "1.0").description(), "visionOS 1.0");
}
