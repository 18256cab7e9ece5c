#include "common/TestSupport.h"
#include "platform/PropertyList.h"

#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace corvane;

TEST(PropertyList, ReadsARealBinaryInfoPlist)
{
    const auto value = PropertyList::parse(
        test::readFile(test::realWorldPath("plists/fastlane__simulator-app.app-Info.plist.bin")));
    ASSERT_TRUE(value);
    ASSERT_EQ(value->typeId(), QMetaType::QVariantMap);
    const auto map = value->toMap();
    EXPECT_EQ(map.value("CFBundleIdentifier").toString(), "org.fastlane.very-capable-app");
    const auto families = map.value("UIDeviceFamily").toList();
    ASSERT_EQ(families.size(), 2);
    EXPECT_EQ(families[0].typeId(), QMetaType::LongLong);
    EXPECT_EQ(families[0].toLongLong(), 1);
    EXPECT_EQ(families[1].toLongLong(), 2);
}

TEST(PropertyList, RoundTripsThroughXmlAndBinary)
{
    const QVariantMap original{
        {"string", "Ünïcode"},
        {"int", qint64(-42)},
        {"big", qint64(1) << 40},
        {"real", 2.5},
        {"bool", true},
        {"data", QByteArray("\x00\x01\x02", 3)},
        {"date", QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), QTimeZone::utc())},
        {"list", QVariantList{1, "two", QVariantMap{{"three", 3}}}},
    };
    for (const QByteArray &bytes :
         {PropertyList::toXml(original), PropertyList::toBinary(original)}) {
        ASSERT_FALSE(bytes.isEmpty());
        const auto back = PropertyList::parse(bytes);
        ASSERT_TRUE(back);
        const auto map = back->toMap();
        EXPECT_EQ(map.value("string").toString(), "Ünïcode");
        EXPECT_EQ(map.value("int").toLongLong(), -42);
        EXPECT_EQ(map.value("big").toLongLong(), qint64(1) << 40);
        EXPECT_EQ(map.value("real").toDouble(), 2.5);
        EXPECT_EQ(map.value("bool").typeId(), QMetaType::Bool);
        EXPECT_TRUE(map.value("bool").toBool());
        EXPECT_EQ(map.value("data").toByteArray(), QByteArray("\x00\x01\x02", 3));
        EXPECT_EQ(map.value("date").toDateTime(),
                  QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), QTimeZone::utc()));
        EXPECT_EQ(map.value("list").toList().size(), 3);
    }
}

TEST(PropertyList, BadBytesGiveNothing)
{
    const QByteArray binary = PropertyList::toBinary(QVariantMap{{"a", "b"}, {"c", 1}});
    EXPECT_FALSE(PropertyList::parse(binary.left(binary.size() / 2)));
    const QByteArray xml = PropertyList::toXml(QVariantMap{{"a", "b"}});
    EXPECT_FALSE(PropertyList::parse(xml.left(xml.size() - 30)));
    EXPECT_FALSE(PropertyList::parse(QByteArray()));
    EXPECT_FALSE(PropertyList::parse("not a plist at all"));
}
