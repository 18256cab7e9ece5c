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

// Texts holding a NUL made the library's copying readers assert and end the
// program; they read by length now, and a key that cannot be read safely
// makes the whole list unreadable.
TEST(PropertyList, TextsWithANulNeverAbort)
{
    const QByteArray xml = QByteArray::fromHex(
        "3c706c6973743e3c737472696e673e6100623c2f737472696e673e3c2f706c6973743e");
    const auto xmlText = PropertyList::parse(xml);
    ASSERT_TRUE(xmlText);
    // The library keeps the text's length (what follows the NUL is its own).
    EXPECT_EQ(xmlText->toString().size(), 3);
    EXPECT_TRUE(xmlText->toString().startsWith(QString::fromUtf8("a\0", 2)));

    // A binary UTF-16 string "日" NUL, and a dictionary with it as its key.
    const auto binaryText = PropertyList::parse(QByteArray::fromHex(
        "62706c69737430306265e5000008000000000000010100000000000000010000000000000000000000"
        "000000000d"));
    ASSERT_TRUE(binaryText);
    EXPECT_EQ(binaryText->toString(), QString::fromUtf8("日\0", 4));
    EXPECT_FALSE(PropertyList::parse(QByteArray::fromHex(
        "62706c6973743030d101026265e500005176080b10000000000000010100000000000000030000000000"
        "0000000000000000000012")));

    // An ordinary key beside such a value still reads.
    const char raw[] = "<plist><dict><key>k</key><string>x\0y</string></dict></plist>";
    const auto map = PropertyList::parse(QByteArray(raw, sizeof raw - 1));
    ASSERT_TRUE(map);
    EXPECT_TRUE(map->toMap().value("k").toString().startsWith(QString::fromUtf8("x\0", 2)));
}

TEST(PropertyList, BinaryDatesKeepTheirMillisecondsAcrossCycles)
{
    const QDateTime original = QDateTime::fromMSecsSinceEpoch(1709647629033, QTimeZone::utc());
    QVariant value = QVariantMap{{"date", original}};
    for (int cycle = 0; cycle < 10; ++cycle) {
        const auto back = PropertyList::parse(PropertyList::toBinary(value));
        ASSERT_TRUE(back);
        value = *back;
    }
    EXPECT_EQ(value.toMap().value("date").toDateTime(), original);
}
