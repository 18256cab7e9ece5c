#include "common/SameValue.h"
#include "common/TestSupport.h"
#include "platform/formats/PropertyList.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;
using namespace Qt::StringLiterals;

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
// program; binary ones read by length now, keys included. XML holds no NUL,
// not even as a reference: such a list is refused, as any XML reader does.
TEST(PropertyList, TextsWithANulNeverAbort)
{
    const QByteArray xml = QByteArray::fromHex(
        "3c706c6973743e3c737472696e673e6100623c2f737472696e673e3c2f706c6973743e");
    EXPECT_FALSE(PropertyList::parse(xml));

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

// The root holds a list two levels deep, then a chain of `links` lists whose
// last holds that same list again, farther down.
QByteArray sharedBelowAChain(int links)
{
    QList<QByteArray> objects{arrayOf({1, 3}), arrayOf({2}), arrayOf({})};
    for (int i = 1; i < links; ++i)
        objects.append(arrayOf({quint32(3 + i)}));
    objects.append(arrayOf({1}));
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
        // An object number past the table, and ones on either side of 1024.
        {binaryList({arrayOf({1})}), false},
        {binaryList(QList<QByteArray>{arrayOf({1023, 1024, 1023})} +
                    QList<QByteArray>(1024, QByteArray("\x08"))),
         true},
        // Read first near the root, the shared list is met again where its
        // second level would be the 512th, then the 513th.
        {sharedBelowAChain(PropertyList::maxNesting - 3), true},
        {sharedBelowAChain(PropertyList::maxNesting - 2), false},
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

namespace {

std::string shown(const QVariant &value)
{
    QString text;
    QDebug(&text) << value;
    return text.toStdString();
}

// Expects `bytes` to read as `expected`, or not at all.
void expectReads(const QByteArray &bytes, const std::optional<QVariant> &expected,
                 const std::string &what)
{
    const auto value = PropertyList::parse(bytes);
    EXPECT_EQ(value.has_value(), expected.has_value()) << what;
    if (value && expected)
        EXPECT_TRUE(test::sameValue(*expected, *value)) << what << " gave " << shown(*value);
}

QByteArray plist(const QByteArray &inner)
{
    return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + inner + "</plist>";
}

QDateTime utc(int year, int month, int day, QTime time = QTime(0, 0))
{
    return QDateTime(QDate(year, month, day), time, QTimeZone::utc());
}

} // namespace

// The XML reader took "12abc" as 12, "garbage" dates as 1970, bad base64 as
// no bytes, 2^63 as its negative, text after a NUL as NULs, and "010" as
// eight. Each scalar now reads exactly as written or refuses the list.
TEST(PropertyList, XmlScalarsReadExactlyOrNotAtAll)
{
    const std::pair<QByteArray, QVariant> cases[] = {
        {"<integer> -42\n</integer>", qint64(-42)},
        {"<integer>+0x1F</integer>", qint64(31)},
        {"<integer>010</integer>", qint64(10)},
        {"<integer>-9223372036854775808</integer>", std::numeric_limits<qint64>::min()},
        {"<integer>9223372036854775808</integer>", quint64(1) << 63},
        {"<integer>18446744073709551615</integer>", std::numeric_limits<quint64>::max()},
        {"<real>-0</real>", -0.0},
        {"<real>+infinity</real>", std::numeric_limits<double>::infinity()},
        {"<real>nan</real>", std::numeric_limits<double>::quiet_NaN()},
        {"<real>-nan</real>", -std::numeric_limits<double>::quiet_NaN()},
        {"<real>0x1p3</real>", 8.0},
        {"<false> </false>", false},
        {"<string>a&amp;&lt;&gt;&quot;&apos;&#65;&#x1F600;</string>", "a&<>\"'A😀"},
        {"<string>a<!-- c -->b<![CDATA[<&>]]> c</string>", "ab<&> c"},
        {"<string> \r\n\t</string>", " \n\t"},
        {"<string/>", ""},
        {"<date> 2024-03-05T14:07:09.25 </date>", utc(2024, 3, 5, QTime(14, 7, 9, 250))},
        {"<date>-0099-01-01T00:00:00Z</date>", utc(-100, 1, 1)},
        {"<data>\n\tAAEC\n\tAw==\n</data>", QByteArray("\0\1\2\3", 4)},
        {"<data/>", QByteArray()},
    };
    for (const auto &[xml, value] : cases)
        expectReads(plist(xml), value, xml.toStdString());
    for (const QByteArray xml :
         {"<integer>18446744073709551616</integer>", "<integer>-9223372036854775809</integer>",
          "<integer>12abc</integer>", "<integer/>", "<real>2,5</real>", "<true>x</true>",
          "<string>a & b</string>", "<string>&nbsp;</string>", "<string>&#0;</string>",
          "<string>a<b/></string>", "<date>2024-02-30T00:00:00Z</date>",
          "<date>2024-03-05T14:07:09+01:00</date>", "<date>garbage</date>",
          "<date>3200000-01-01T00:00:00Z</date>", "<data>A!EC</data>", "<data>AA==AA==</data>",
          "<data>AAE</data>", "<uid>1</uid>"})
        expectReads(plist(xml), std::nullopt, xml.toStdString());
}

// A key without a value was dropped, a key outside a dictionary read as a
// string, and a second value in the list, or text after the first, went
// unseen. Entities are never declared nor expanded; a document type
// without them is left unread.
TEST(PropertyList, XmlStructureReadsWholeOrNotAtAll)
{
    const std::pair<QByteArray, QVariant> cases[] = {
        {plist("<dict><key>a</key><string>1</string><key>a</key><string>2</string></dict>"),
         QVariantMap{{"a", "2"}}},
        {plist("<dict>\n\t<key> k </key><!-- c -->\n\t<array/><key/><dict/></dict>"),
         QVariantMap{{" k ", QVariantList{}}, {"", QVariantMap{}}}},
        {plist("<dict><key>b</key><integer>2</integer><key>a</key><integer>1</integer></dict>"),
         QVariantMap{{"a", qint64(1)}, {"b", qint64(2)}}},
        {"<string>alone</string>", "alone"},
        {"\xEF\xBB\xBF<!DOCTYPE plist><plist><true/></plist>\n", true},
        {"<!DOCTYPE plist [<!ELEMENT plist ANY><!-- ]> -->]><plist><true/></plist>", true},
    };
    for (const auto &[xml, value] : cases)
        expectReads(xml, value, xml.toStdString());
    for (const QByteArray xml :
         {plist("<dict><key>a</key></dict>"), plist("<dict><string>a</string><true/></dict>"),
          plist("<dict><key>a<b/></key><true/></dict>"), plist("<array>x<true/></array>"),
          plist("<array><key>k</key><array><true/></array></array>"),
          plist("<dict><key>a</key><key>b</key><true/></dict>"), plist("<key>k</key>"),
          QByteArray("<uid/>"), plist("<true/>x"), plist("<true/><false/>"), plist(""),
          plist("<plist><true/></plist>"), plist("<true/>") + plist("<false/>"),
          plist("<array><true/>"),
          QByteArray("<!DOCTYPE plist [<!ENTITY e \"boom\">]><plist><true/></plist>"),
          QByteArray("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"x.dtd\">"
                     "<plist><string>&nbsp;</string></plist>")})
        expectReads(xml, std::nullopt, xml.toStdString());
}

// Strings lost a leading U+FEFF ("\uFEFFk" and "k" became one key), kept CR
// and CR LF where XML reads one line feed, read a declared ISO-8859-1 as
// UTF-8, UTF-16 not at all, and took bad base64 and misplaced keys as other
// values. Each list here reads as Python's plistlib reads it, or is refused
// where plistlib refuses it: tests/data/plist-xml/make-fixtures.py wrote the
// lists and, beside each, what plistlib read, as a binary list.
TEST(PropertyList, XmlReadsAsPlistlibDoes)
{
    const QDir fixtures(QStringLiteral(CORVANE_SOURCE_DIR "/tests/data/plist-xml"));
    const QStringList lists = fixtures.entryList({"*.plist"}, QDir::Files);
    EXPECT_EQ(lists.size(), 21);
    for (const QString &name : lists) {
        const QString expected =
            fixtures.filePath(QFileInfo(name).completeBaseName() + ".expected.bplist");
        const auto value =
            QFile::exists(expected) ? PropertyList::parse(test::readFile(expected)) : std::nullopt;
        EXPECT_EQ(value.has_value(), QFile::exists(expected)) << name.toStdString();
        expectReads(test::readFile(fixtures.filePath(name)), value, name.toStdString());
    }
}

// The least processor time of a few reads, which a busy machine only adds to.
static double readSeconds(const QByteArray &bytes, qsizetype size, int reads)
{
    double least = std::numeric_limits<double>::max();
    for (int i = 0; i < reads; ++i) {
        timespec start{}, end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        const auto value = PropertyList::parse(bytes);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        least = std::min(least, double(end.tv_sec - start.tv_sec) +
                                    double(end.tv_nsec - start.tv_nsec) / 1e9);
        EXPECT_TRUE(value && std::max(value->toString().size(), value->toMap().size()) == size);
    }
    return least;
}

// One string of 8 MiB of "&amp;" took two minutes and a dictionary of
// 600,000 keys fourteen seconds: each cost grew with the square of the size.
// Eight times the text now takes about eight times as long.
TEST(PropertyList, XmlReadsInLinearTime)
{
    const auto entities = [](qsizetype count) {
        return plist("<string>" + QByteArray("&amp;").repeated(count) + "</string>");
    };
    const auto keys = [](qsizetype count) {
        QByteArray inner = "<dict>";
        for (qsizetype i = 0; i < count; ++i)
            inner += "\n\t<key>" + QByteArray::number(i).rightJustified(7, '0') + "</key><true/>";
        return plist(inner + "</dict>");
    };
    // 1 MiB, then 8 MiB; the short reads more often, where a stray delay
    // weighs more. Linear is about 8 times as long; the square, 64.
    const auto growth = [](const auto &make, qsizetype count) {
        return readSeconds(make(8 * count), 8 * count, 2) / readSeconds(make(count), count, 4);
    };
    EXPECT_LT(growth(entities, (1 << 20) / 5), 20);
    EXPECT_LT(growth(keys, (1 << 20) / 27), 20);
}

// 2^63 and above came back negative from both forms; char, short and their
// unsigned kinds made the whole list unwritable; an invalid date was written
// as 1970; a date far out was written, then refused when read. XML wrote a
// CR as is, read back as a line feed, and control characters, U+FFFE and
// U+FFFF, which no XML reader takes: text XML cannot hold is not written.
TEST(PropertyList, EveryValueRoundTripsInBothFormsOrIsNotWritten)
{
    // Each value, and what it reads back as; nothing when it is not written.
    struct Case {
        QVariant value;
        std::optional<QVariant> back;
        bool xmlHolds = true;
    };
    std::vector<Case> cases;
    using L = std::numeric_limits<qint64>;
    const auto integer = [&](auto value) {
        const bool fits = std::is_signed_v<decltype(value)> || quint64(value) <= L::max();
        cases.push_back({QVariant::fromValue(value),
                         fits ? QVariant(qint64(value)) : QVariant(quint64(value))});
    };
    const auto bounds = [&](auto... types) {
        (integer(std::numeric_limits<decltype(types)>::min()), ...);
        (integer(std::numeric_limits<decltype(types)>::max()), ...);
    };
    bounds(char(), qint8(), uchar(), short(), ushort(), int(), uint(), long(), ulong(), qint64(),
           quint64());
    integer(quint64(L::max()));
    integer(quint64(1) << 63);
    const QDateTime from2001 = utc(2001, 1, 1);
    for (const QVariant &value : QVariantList{
             std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
             -std::numeric_limits<double>::infinity(), -0.0, 5e-324, 0.1,
             std::numeric_limits<double>::max(), QString(), QVariantMap{{"", true}},
             QByteArray("\0\xFF", 2), from2001.addSecs(100'000'000'000'000),
             from2001.addSecs(-100'000'000'000'000), utc(-1, 1, 1),
             utc(12024, 2, 29, QTime(23, 59, 59))})
        cases.push_back({value, value});
    cases.push_back({QVariant::fromValue(0.1f), double(0.1f)});
    for (const QVariant &value :
         {QVariant(QDateTime()), QVariant(from2001.addSecs(100'000'000'000'001)),
          QVariant(from2001.addSecs(-100'000'000'000'001)), QVariant(utc(200'000'000, 1, 1))})
        cases.push_back({value, std::nullopt});
    // Text of each class of characters, as a string and as a key of a
    // value that is no text: the key alone makes it unwritable.
    const QString nul = QString::fromUtf8("n\0l", 3);
    const std::pair<QString, bool> texts[] = {
        {"<&>]]>\"'\r\n\t\r", true},
        {u"\uFEFFk\uFEFF"_s, true},
        {u"\u007F\u0085\u00A0\u2028\uD7FF\uE000\uFDD0\uFFFD"_s, true},
        {u"\U0001F600\U0010FFFF"_s, true},
        {nul, false},
        {u"\u0001\u001F"_s, false},
        {u"\uFFFE"_s, false},
        {u"\uFFFF"_s, false},
        {QString(QChar(0xD800)) + 'x', false},
        {'x' + QString(QChar(0xDC00)), false},
        {QString(QChar(0xDC00)) + QChar(0xD800), false},
    };
    for (const auto &[text, xmlHolds] : texts) {
        for (const QVariant &value : {QVariant(text), QVariant(QVariantMap{{text, true}})})
            cases.push_back({value, value, xmlHolds});
    }

    for (const auto &[value, back, xmlHolds] : cases) {
        for (const bool binary : {true, false}) {
            const std::string what = shown(value) + (binary ? " binary" : " XML");
            const QVariantList list{value};
            const QByteArray bytes =
                binary ? PropertyList::toBinary(list) : PropertyList::toXml(list);
            EXPECT_EQ(bytes.isEmpty(), !back || (!binary && !xmlHolds)) << what;
            if (!bytes.isEmpty() && back)
                expectReads(bytes, QVariantList{*back}, what);
        }
    }
    // A save of what cannot be written fails and leaves no file.
    QTemporaryDir dir;
    EXPECT_FALSE(PropertyList::writeFile(dir.filePath("a.plist"), QVariantList{nul}));
    EXPECT_FALSE(QFile::exists(dir.filePath("a.plist")));
}

// 16-byte integers were read as their low half's signed value. They hold an
// unsigned one; a high half that is not zero is refused. A UID of 8 bytes
// read past 2^63 came back negative: UIDs are unsigned, as plistlib reads them.
TEST(PropertyList, BinaryIntegersReadByTheirWidth)
{
    const std::pair<const char *, std::optional<QVariant>> cases[] = {
        {"10ff", qint64(255)},
        {"12ffffffff", qint64(0xFFFFFFFF)},
        {"13ffffffffffffffff", qint64(-1)},
        {"1400000000000000007fffffffffffffff", std::numeric_limits<qint64>::max()},
        {"140000000000000000ffffffffffffffff", std::numeric_limits<quint64>::max()},
        {"1400000000000000010000000000000000", std::nullopt},
        {"14ffffffffffffffffffffffffffffffff", std::nullopt},
        {"80ff", qint64(255)},
        {"877fffffffffffffff", std::numeric_limits<qint64>::max()},
        {"87968c8bcfc85b0102", quint64(10848199326964580610u)},
        {"87ffffffffffffffff", std::numeric_limits<quint64>::max()},
        {"88ffffffffffffffffff", std::nullopt},
    };
    for (const auto &[hex, value] : cases)
        expectReads(binaryList({QByteArray::fromHex(hex)}), value, hex);
    const PropertyList::Uid uid{10848199326964580610u};
    expectReads(PropertyList::toBinary(QVariantList{QVariant::fromValue(uid)}),
                QVariantList{quint64(uid.value)}, "UID written");
}

// The object table was sized from the trailer's count before anything was
// read: a 16 MiB list naming as many objects as its offset table holds
// peaked near 800 MB. Only the objects read take memory now.
TEST(PropertyList, HugeObjectCountsTakeNoMemoryUntilRead)
{
    QByteArray bytes = "bplist00\xA0"; // the root: an empty list
    const qint64 table = bytes.size();
    const qint64 count = PropertyList::maxFileBytes - table - 32;
    bytes += QByteArray(count, '\x08') + QByteArray(6, '\0') + char(1) + char(1) +
             bigEndian(quint64(count), 8) + bigEndian(0, 8) + bigEndian(quint64(table), 8);
    const auto readsEmpty = [&] {
        const auto value = PropertyList::parse(bytes);
        return value && test::sameValue(QVariantList{}, *value);
    };
    if (!test::peakResidentBytesTellUse) {
        EXPECT_TRUE(readsEmpty());
        return;
    }
    // Read in a child, whose peak starts from what it holds at the fork;
    // it reports the growth in MiB.
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const qint64 before = test::peakResidentBytes();
        const bool read = readsEmpty();
        ::_exit(read ? int(std::min<qint64>((test::peakResidentBytes() - before) >> 20, 200))
                     : 255);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 255) << "the list was not read";
    EXPECT_LT(WEXITSTATUS(status), 16) << "MiB grown";
}
