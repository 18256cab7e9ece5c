#include "common/TestSupport.h"
#include "platform/PropertyList.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <sys/stat.h>

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
// program; they read by length now, binary keys included.
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
    const auto keyed = PropertyList::parse(QByteArray::fromHex(
        "62706c6973743030d101026265e500005176080b10000000000000010100000000000000030000000000"
        "0000000000000000000012"));
    ASSERT_TRUE(keyed);
    EXPECT_EQ(keyed->toMap(), (QVariantMap{{QString::fromUtf8("日\0", 4), "v"}}));

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

namespace {

QByteArray bigEndian(quint64 value, int size)
{
    QByteArray out;
    for (int i = size - 1; i >= 0; --i)
        out.append(char(value >> (8 * i)));
    return out;
}

// A binary list of these objects, the first its root; references take 4 bytes.
QByteArray binaryList(const QList<QByteArray> &objects)
{
    QByteArray out("bplist00");
    QByteArray table;
    for (const QByteArray &object : objects) {
        table += bigEndian(quint64(out.size()), 4);
        out += object;
    }
    return out + table + QByteArray(6, '\0') + char(4) + char(4) +
           bigEndian(quint64(objects.size()), 8) + bigEndian(0, 8) +
           bigEndian(quint64(out.size()), 8);
}

// An array object of these references.
QByteArray arrayOf(const QList<quint32> &refs)
{
    QByteArray out = refs.size() < 15 ? QByteArray(1, char(0xA0 | refs.size()))
                                      : "\xAF\x12" + bigEndian(quint64(refs.size()), 4);
    for (const quint32 ref : refs)
        out += bigEndian(ref, 4);
    return out;
}

// Each object an array holding the next (`width` times over); the last empty.
QByteArray nestedBinary(int levels, int width = 1)
{
    QList<QByteArray> objects;
    for (int i = 1; i < levels; ++i)
        objects.append(arrayOf(QList<quint32>(width, quint32(i))));
    objects.append(arrayOf({}));
    return binaryList(objects);
}

QByteArray nestedXml(int levels, const QByteArray &open = "<array>")
{
    return "<plist>" + open.repeated(levels) + QByteArray("</array>").repeated(levels) + "</plist>";
}

} // namespace

// A list of one string referred to a million times (the size of an archive
// description at its cap) reads at once: each item was found from the start.
TEST(PropertyList, RepeatedReferencesReadInLinearTime)
{
    constexpr int count = 1000000;
    const QByteArray bytes = binaryList({arrayOf(QList<quint32>(count, 1)), "\x57group.a"});
    QElapsedTimer timer;
    timer.start();
    const auto value = PropertyList::parse(bytes);
    EXPECT_LT(timer.elapsed(), 60000); // a stall detector: it took hours
    ASSERT_TRUE(value);
    const QVariantList list = value->toList();
    ASSERT_EQ(list.size(), count);
    EXPECT_EQ(list.front(), "group.a");
    EXPECT_EQ(list.back(), "group.a");
}

// Deep nesting overflowed the stack inside the library, objects shared down
// forty levels expanded into a trillion nodes, and a list holding itself
// never ended; each is refused, and nesting to the limit still reads.
TEST(PropertyList, NestingSharingAndCyclesBeyondTheBoundsAreRefused)
{
    const QByteArray comments = "<plist><array><!--" + QByteArray("<array>").repeated(1000) +
                                "--><string><![CDATA[" + QByteArray("<array>").repeated(1000) +
                                "]]></string></array></plist>";
    const struct {
        QByteArray bytes;
        bool readable;
    } cases[] = {
        {nestedBinary(100000), false},
        {nestedBinary(PropertyList::maxNesting), true},
        {nestedBinary(PropertyList::maxNesting + 1), false},
        {nestedBinary(40, 2), false},
        {nestedBinary(8, 2), true},
        {binaryList({arrayOf({0})}), false},
        {nestedXml(180000), false},
        {nestedXml(PropertyList::maxNesting), true},
        {nestedXml(PropertyList::maxNesting + 1), false},
        // Close tags in what the library skips as quoted do not count.
        {nestedXml(200000, "<array><?x \"?></array>\"?>"), false},
        {nestedXml(200000, "<array a=\"</array>\">"), false},
        {comments, true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PropertyList::parse(c.bytes).has_value(), c.readable)
            << c.bytes.left(60).toHex().toStdString();
    EXPECT_EQ(PropertyList::parse(comments)->toList(),
              QVariantList{QString("<array>").repeated(1000)});
}

// Dates were written as 32-bit seconds from 2001: 1932 came back as 2069.
// Binary keeps milliseconds; XML has whole seconds, rounded down.
TEST(PropertyList, DatesFarFromTheEpochRoundTrip)
{
    const auto utc = [](int y, int m, int d, QTime time) {
        return QDateTime(QDate(y, m, d), time, QTimeZone::utc());
    };
    const QDateTime dates[] = {
        utc(1932, 12, 13, QTime(0, 0)),         utc(1900, 1, 1, QTime(0, 0)),
        utc(1600, 2, 29, QTime(12, 0)),         utc(2069, 1, 20, QTime(0, 0)),
        utc(2500, 6, 30, QTime(12, 0, 0, 250)), utc(2000, 12, 31, QTime(23, 59, 58, 500))};
    for (const QDateTime &date : dates) {
        const QVariant value = QVariantList{date};
        const auto binary = PropertyList::parse(PropertyList::toBinary(value));
        ASSERT_TRUE(binary);
        EXPECT_EQ(binary->toList().value(0).toDateTime(), date);
        const auto xml = PropertyList::parse(PropertyList::toXml(value));
        ASSERT_TRUE(xml);
        EXPECT_EQ(xml->toList().value(0).toDateTime(), date.addMSecs(-date.time().msec()));
    }
}

// Bundle and device files are read whole: a pipe or a device where one
// belongs is refused at once (the test's timeout is the detector), as is a
// file past the limit.
TEST(PropertyList, OnlyRegularFilesWithinTheLimitAreRead)
{
    QTemporaryDir dir;
    const QString plist = dir.filePath("Info.plist");
    ASSERT_TRUE(test::writeFile(plist, PropertyList::toXml(QVariantMap{{"a", "b"}})));
    EXPECT_TRUE(PropertyList::readDictionary(plist));

    const QString pipe = dir.filePath("pipe.plist");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString device = dir.filePath("zero.plist");
    ASSERT_TRUE(QFile::link("/dev/zero", device));
    const QString large = dir.filePath("large.plist");
    QFile file(large);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(PropertyList::maxFileBytes + 1));
    file.close();
    for (const QString &path : {pipe, device, large})
        EXPECT_FALSE(PropertyList::readFile(path)) << path.toStdString();
}
