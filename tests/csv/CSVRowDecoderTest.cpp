#include "CsvTestSupport.h"

#include "csv/CSVReader.h"
#include "csv/CSVRowDecoder.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <stdexcept>

namespace corvane {
namespace {

using Kind = DecodingError::Kind;

// A reader over `text` with a header row, stepped to its first data row.
std::unique_ptr<CSVReader> atFirstRow(std::string text, bool hasHeaderRow = true)
{
    auto reader = std::make_unique<CSVReader>(std::move(text), hasHeaderRow);
    reader->next();
    return reader;
}

// The error a decode throws; fails the test when it throws none.
template <class Decode> DecodingError errorOf(Decode &&decode)
{
    try {
        decode();
    } catch (const DecodingError &error) {
        return error;
    }
    ADD_FAILURE() << "decoded";
    return DecodingError::dataCorrupted({}, "");
}

std::vector<std::string> pathOf(const DecodingError &error)
{
    std::vector<std::string> path;
    for (const CodingKey &key : error.codingPath())
        path.push_back(key.stringValue());
    return path;
}

struct Person {
    std::string firstName;
    std::string lastName;

    static Person decode(Decoder &decoder)
    {
        const auto c = decoder.container();
        return {c.decode<std::string>("firstName"), c.decode<std::string>("lastName")};
    }
};

struct Member {
    std::string name;
    Int age;
    std::optional<std::string> note;

    static Member decode(Decoder &decoder)
    {
        const auto c = decoder.container();
        return {c.decode<std::string>("name"), c.decode<Int>("age"),
                c.decodeIfPresent<std::string>("note")};
    }
};

TEST(CSVRowDecoderTest, HeaderNamesBecomeKeysByTheKeyStrategy)
{
    const auto reader = atFirstRow("first_name,last_name\nAda,Lovelace\n");
    CSVRowDecoder decoder;
    decoder.keyDecodingStrategy = CSVRowDecoder::KeyDecodingStrategy::convertFromSnakeCase();
    const Person person = decoder.decode<Person>(*reader);
    EXPECT_EQ(person.firstName, "Ada");
    EXPECT_EQ(person.lastName, "Lovelace");

    decoder.keyDecodingStrategy = CSVRowDecoder::KeyDecodingStrategy::useDefaultKeys();
    const DecodingError error = errorOf([&] { decoder.decode<Person>(*reader); });
    EXPECT_EQ(error.kind(), Kind::keyNotFound);
    EXPECT_EQ(error.key(), CodingKey("firstName"));
    EXPECT_TRUE(error.codingPath().empty());
    EXPECT_EQ(error.debugDescription(), "No value associated with key CodingKey(stringValue: "
                                        "\"firstName\", intValue: nil) (\"firstName\").");
    EXPECT_STREQ(error.what(), error.debugDescription().c_str());

    decoder.keyDecodingStrategy = CSVRowDecoder::KeyDecodingStrategy::custom(
        [](const std::string &name) { return name == "first_name" ? "firstName" : "lastName"; });
    EXPECT_EQ(decoder.decode<Person>(*reader).lastName, "Lovelace");
    // The decoder never moves the reader.
    EXPECT_EQ(reader->currentRow()->front(), "Ada");
}

TEST(CSVRowDecoderTest, SnakeCaseHeaderNames)
{
    const std::pair<const char *, const char *> cases[] = {
        {"first_name", "firstName"},
        {"URL_path", "urlPath"},
        {"_user__ID_", "_userId_"},
        {"a_b_", "aB_"},
        {"name", "name"},
        {"__a__", "__a__"},
        {"___", "___"},
        {"", ""},
        {"GPS_SPEED_kmh", "gpsSpeedKmh"},
        {"été_ÉCOLE", "étéÉcole"},
        {"a_b c", "aB C"},
        {"x_straße", "xStraße"},
    };
    for (const auto &[name, key] : cases)
        EXPECT_EQ(convertFromSnakeCase(name), key) << name;
}

TEST(CSVRowDecoderTest, KeysFindTheirColumns)
{
    CSVRowDecoder decoder;
    // A header naming a column twice: the first is read.
    auto reader = atFirstRow("v,v,w\n1,2,3\n");

    struct ByKeys {
        std::vector<std::optional<std::string>> texts;
        std::vector<bool> contained;
        static ByKeys decode(Decoder &d)
        {
            const auto c = d.container();
            ByKeys result;
            for (const CodingKey &key : {CodingKey("v"), CodingKey::index(2), CodingKey::index(3),
                                         CodingKey::index(-1), CodingKey("w", 0)}) {
                result.contained.push_back(c.contains(key));
                result.texts.push_back(c.decodeIfPresent<std::string>(key));
            }
            return result;
        }
    };
    ByKeys keys = decoder.decode<ByKeys>(*reader);
    EXPECT_EQ(keys.contained, (std::vector<bool>{true, true, false, false, true}));
    // A key with both values goes by its index.
    EXPECT_EQ(keys.texts, (std::vector<std::optional<std::string>>{"1", "3", {}, {}, "1"}));

    // Without a header row, names are never contained; indexes still are.
    reader = atFirstRow("1,2,3\n", false);
    keys = decoder.decode<ByKeys>(*reader);
    EXPECT_EQ(keys.contained, (std::vector<bool>{false, true, false, false, true}));
    struct AllKeys {
        std::vector<CodingKey> keys;
        static AllKeys decode(Decoder &d) { return {d.container().allKeys()}; }
    };
    EXPECT_TRUE(decoder.decode<AllKeys>(*reader).keys.empty());

    // No current row, before the first step and after the end: nothing is contained.
    CSVReader unstepped("firstName,lastName\nAda,Lovelace\n", true);
    EXPECT_EQ(errorOf([&] { decoder.decode<Person>(unstepped); }).kind(), Kind::keyNotFound);
    while (unstepped.next()) {
    }
    EXPECT_EQ(errorOf([&] { decoder.decode<Person>(unstepped); }).kind(), Kind::keyNotFound);
}

TEST(CSVRowDecoderTest, HeaderNamesMatchKeysUnderCanonicalEquivalence)
{
    struct Place {
        std::string name;
        static Place decode(Decoder &d) { return {d.container().decode<std::string>("Städte")}; }
    };
    CSVRowDecoder decoder;
    // The header spells ä as a + U+0308, the key as one precomposed scalar.
    const auto decomposed = atFirstRow("Sta\u0308dte\nBonn\n");
    EXPECT_EQ(decoder.decode<Place>(*decomposed).name, "Bonn");
    const auto different = atFirstRow("Stadte\nBonn\n");
    EXPECT_EQ(errorOf([&] { decoder.decode<Place>(*different); }).kind(), Kind::keyNotFound);
}

TEST(CSVRowDecoderTest, AllKeysFollowTheHeaderAndSkipNamesThatGiveNoKey)
{
    struct Keys {
        std::vector<std::string> all;
        std::vector<std::string> known;
        static Keys decode(Decoder &d)
        {
            Keys keys;
            for (const CodingKey &key : d.container().allKeys())
                keys.all.push_back(key.stringValue());
            const auto onlyLat = [](const std::string &name) -> std::optional<CodingKey> {
                if (name != "lat")
                    return std::nullopt;
                return CodingKey(name);
            };
            for (const CodingKey &key : d.container(onlyLat).allKeys())
                keys.known.push_back(key.stringValue());
            return keys;
        }
    };
    const auto reader = atFirstRow("lon,lat,speed_kmh\n1,2\n");
    CSVRowDecoder decoder;
    decoder.keyDecodingStrategy = CSVRowDecoder::KeyDecodingStrategy::convertFromSnakeCase();
    const Keys keys = decoder.decode<Keys>(*reader);
    EXPECT_EQ(keys.all, (std::vector<std::string>{"lon", "lat", "speedKmh"}));
    EXPECT_EQ(keys.known, (std::vector<std::string>{"lat"}));
}

TEST(CSVRowDecoderTest, ShortRowsAndEmptyTextsFollowTheNilStrategy)
{
    // The row has no column for age or note.
    const auto shortRow = atFirstRow("name,note,age\nAda\n");
    CSVRowDecoder decoder;
    DecodingError error = errorOf([&] { decoder.decode<Member>(*shortRow); });
    EXPECT_EQ(error.kind(), Kind::valueNotFound);
    EXPECT_EQ(error.typeName(), "Int");
    EXPECT_EQ(error.debugDescription(), "Expected Int value but found null instead.");
    EXPECT_EQ(pathOf(error), std::vector<std::string>{"age"});
    EXPECT_EQ(std::string(error.what()),
              "Expected Int value but found null instead. (coding path: age)");

    // The next call starts with an empty path.
    const auto noName = atFirstRow("age\n7\n");
    error = errorOf([&] { decoder.decode<Member>(*noName); });
    EXPECT_EQ(error.kind(), Kind::keyNotFound);
    EXPECT_TRUE(error.codingPath().empty());

    const auto complete = atFirstRow("name,note,age\nAda,,36\n");
    Member member = decoder.decode<Member>(*complete);
    EXPECT_EQ(member.age, 36);
    EXPECT_EQ(member.note, std::nullopt);

    decoder.nilDecodingStrategy = CSVRowDecoder::NilDecodingStrategy::never();
    member = decoder.decode<Member>(*complete);
    EXPECT_EQ(member.note, "");
    error = errorOf([&] { decoder.decode<Member>(*shortRow); });
    EXPECT_EQ(error.kind(), Kind::typeMismatch);
    EXPECT_EQ(error.debugDescription(), "Expected to decode Int but found  instead.");
    EXPECT_EQ(pathOf(error), std::vector<std::string>{"age"});
}

TEST(CSVRowDecoderTest, DecodeNilNeedsAContainedKey)
{
    struct Nils {
        bool note;
        static Nils decode(Decoder &d)
        {
            const auto c = d.container();
            const bool note = c.decodeNil("note");
            c.decodeNil("missing");
            return {note};
        }
    };
    const auto reader = atFirstRow("note\n\n");
    const DecodingError error = errorOf([&] { CSVRowDecoder().decode<Nils>(*reader); });
    EXPECT_EQ(error.kind(), Kind::keyNotFound);
    EXPECT_EQ(error.key()->stringValue(), "missing");
}

struct Everything {
    std::optional<bool> flag;
    std::optional<std::string> text;
    std::optional<double> real;
    std::optional<float> small;
    std::optional<Int> whole;
    std::optional<std::int8_t> tiny;
    std::optional<UInt> count;
    std::optional<std::uint64_t> wide;
    std::optional<Date> date;
    std::optional<QByteArray> data;
    std::optional<QUrl> url;
    std::optional<Decimal> amount;
    std::optional<Person> person;

    static Everything decode(Decoder &d)
    {
        const auto c = d.container();
        return {c.decodeIfPresent<bool>("v"),   c.decodeIfPresent<std::string>("v"),
                c.decodeIfPresent<double>("v"), c.decodeIfPresent<float>("v"),
                c.decodeIfPresent<Int>("v"),    c.decodeIfPresent<std::int8_t>("v"),
                c.decodeIfPresent<UInt>("v"),   c.decodeIfPresent<std::uint64_t>("v"),
                c.decodeIfPresent<Date>("v"),   c.decodeIfPresent<QByteArray>("v"),
                c.decodeIfPresent<QUrl>("v"),   c.decodeIfPresent<Decimal>("v"),
                c.decodeIfPresent<Person>("v")};
    }
};

TEST(CSVRowDecoderTest, ACustomNilCountsForEveryType)
{
    const auto reader = atFirstRow("v\nNA\n");
    CSVRowDecoder decoder;
    decoder.nilDecodingStrategy = CSVRowDecoder::NilDecodingStrategy::custom(
        [](const std::string &text) { return text == "NA"; });
    const Everything all = decoder.decode<Everything>(*reader);
    EXPECT_FALSE(all.flag || all.text || all.real || all.small || all.whole || all.tiny ||
                 all.count || all.wide || all.date || all.data || all.url || all.amount ||
                 all.person);

    struct Required {
        static Required decode(Decoder &d)
        {
            d.container().decode<QUrl>("v");
            return {};
        }
    };
    const DecodingError error = errorOf([&] { decoder.decode<Required>(*reader); });
    EXPECT_EQ(error.debugDescription(), "Expected URL value but found null instead.");
    EXPECT_EQ(error.typeName(), "URL");
}

TEST(CSVRowDecoderTest, TheStringStrategyIsAViewOfTheNilStrategy)
{
    CSVRowDecoder decoder;
    using StringStrategy = CSVRowDecoder::StringDecodingStrategy;
    EXPECT_EQ(decoder.stringDecodingStrategy(), StringStrategy::standard);
    decoder.setStringDecodingStrategy(StringStrategy::allowEmpty);
    EXPECT_EQ(decoder.nilDecodingStrategy.kind, CSVRowDecoder::NilDecodingStrategy::Kind::never);
    EXPECT_EQ(decoder.stringDecodingStrategy(), StringStrategy::allowEmpty);
    decoder.setStringDecodingStrategy(StringStrategy::standard);
    EXPECT_EQ(decoder.nilDecodingStrategy.kind, CSVRowDecoder::NilDecodingStrategy::Kind::empty);

    decoder.nilDecodingStrategy =
        CSVRowDecoder::NilDecodingStrategy::custom([](const std::string &) { return false; });
    try {
        decoder.stringDecodingStrategy();
        ADD_FAILURE() << "no error";
    } catch (const std::logic_error &error) {
        EXPECT_STREQ(error.what(), "'StringDecodingStrategy.custom' is deprecated: renamed to "
                                   "'NilDecodingStrategy.custom'");
    }
}

TEST(CSVRowDecoderTest, ACallKeepsTheOptionsItStartedWith)
{
    // The record changes the decoder it was given through the user info.
    struct SelfChanging {
        std::optional<std::string> note;
        static SelfChanging decode(Decoder &d)
        {
            auto *owner = std::any_cast<CSVRowDecoder *>(d.userInfo().at("owner"));
            owner->nilDecodingStrategy = CSVRowDecoder::NilDecodingStrategy::never();
            return {d.container().decodeIfPresent<std::string>("note")};
        }
    };
    const auto reader = atFirstRow("note\n\n");
    CSVRowDecoder decoder;
    decoder.userInfo["owner"] = &decoder;
    EXPECT_EQ(decoder.decode<SelfChanging>(*reader).note, std::nullopt);
    EXPECT_EQ(decoder.decode<SelfChanging>(*reader).note, "");
}

struct Position {
    static constexpr const char *typeName = "Position";
    double latitude;
    double longitude;
    static Position decode(Decoder &d)
    {
        const auto c = d.container();
        return {c.decode<double>("lat"), c.decode<double>("lon")};
    }
};

enum class Mood { calm, busy };

} // namespace

// A type with no decode of its own reads its single value.
template <> struct Decodable<Mood> {
    static Mood decode(Decoder &d)
    {
        const std::string text = d.singleValueContainer().decode<std::string>();
        if (text != "calm" && text != "busy")
            throw DecodingError::dataCorrupted(d.codingPath(), "Unknown mood " + text);
        return text == "calm" ? Mood::calm : Mood::busy;
    }
};

namespace {

struct Visit {
    std::string name;
    Position position;
    Mood mood;
    static Visit decode(Decoder &d)
    {
        const auto c = d.container();
        return {c.decode<std::string>("name"), c.decode<Position>("position"),
                c.decode<Mood>("mood")};
    }
};

TEST(CSVRowDecoderTest, NestedRecordsReadColumnsOfTheSameRow)
{
    CSVRowDecoder decoder;
    auto reader = atFirstRow("name,position,lat,lon,mood\nHome,x,48.1,11.5,calm\n");
    const Visit visit = decoder.decode<Visit>(*reader);
    EXPECT_EQ(visit.position.latitude, 48.1);
    EXPECT_EQ(visit.position.longitude, 11.5);
    EXPECT_EQ(visit.mood, Mood::calm);

    // An inner field's error carries both keys.
    reader = atFirstRow("name,position,lat,lon,mood\nHome,x,north,11.5,calm\n");
    DecodingError error = errorOf([&] { decoder.decode<Visit>(*reader); });
    EXPECT_EQ(error.kind(), Kind::typeMismatch);
    EXPECT_EQ(pathOf(error), (std::vector<std::string>{"position", "lat"}));

    // The nested record's own column must be present and not nil.
    reader = atFirstRow("name,position,lat,lon,mood\nHome,,48.1,11.5,calm\n");
    error = errorOf([&] { decoder.decode<Visit>(*reader); });
    EXPECT_EQ(error.debugDescription(), "Expected Position value but found null instead.");

    reader = atFirstRow("name,position,lat,lon,mood\nHome,x,48.1,11.5,sad\n");
    error = errorOf([&] { decoder.decode<Visit>(*reader); });
    EXPECT_EQ(error.debugDescription(), "Unknown mood sad");
    EXPECT_EQ(pathOf(error), std::vector<std::string>{"mood"});
}

TEST(CSVRowDecoderTest, ListsAndNestedContainersAreRefused)
{
    struct Tagged {
        std::vector<Int> tags;
        static Tagged decode(Decoder &d)
        {
            return {d.container().decode<std::vector<Int>>("tags")};
        }
    };
    CSVRowDecoder decoder;
    auto reader = atFirstRow("tags\n1;2\n");
    DecodingError error = errorOf([&] { decoder.decode<Tagged>(*reader); });
    EXPECT_EQ(error.kind(), Kind::valueNotFound);
    EXPECT_EQ(error.typeName(), "UnkeyedDecodingContainer");
    EXPECT_EQ(error.debugDescription(),
              "Cannot get unkeyed decoding container -- found null value instead.");
    EXPECT_EQ(pathOf(error), std::vector<std::string>{"tags"});

    reader = atFirstRow("tags\n\n");
    error = errorOf([&] { decoder.decode<Tagged>(*reader); });
    EXPECT_EQ(error.debugDescription(), "Expected Array<Int> value but found null instead.");

    struct Nesting {
        static Nesting decode(Decoder &d)
        {
            const auto c = d.container();
            const std::string which = c.decode<std::string>("tags");
            if (which == "keyed")
                c.nestedContainer("tags");
            if (which == "unkeyed")
                c.nestedUnkeyedContainer("tags");
            if (which == "super")
                c.superDecoder();
            c.superDecoder("tags");
        }
    };
    const std::pair<const char *, const char *> requests[] = {
        {"keyed", "nestedContainer(...) CSV does not support nested values"},
        {"unkeyed", "nestedUnkeyedContainer(...) CSV does not support nested values"},
        {"super", "CSV does not support nested values"},
        {"superForKey", "CSV does not support nested values"},
    };
    for (const auto &[request, message] : requests) {
        reader = atFirstRow(std::string("tags\n") + request + "\n");
        error = errorOf([&] { decoder.decode<Nesting>(*reader); });
        EXPECT_EQ(error.kind(), Kind::dataCorrupted) << request;
        EXPECT_EQ(error.debugDescription(), message);
        EXPECT_TRUE(error.codingPath().empty());
    }
}

TEST(CSVRowDecoderTest, ATopLevelSingleValueHasNoField)
{
    const auto reader = atFirstRow("7\n", false);
    CSVRowDecoder decoder;
    DecodingError error = errorOf([&] { decoder.decode<Int>(*reader); });
    EXPECT_EQ(error.kind(), Kind::valueNotFound);
    EXPECT_EQ(error.debugDescription(), "Expected Int but found null value instead.");
    EXPECT_TRUE(error.codingPath().empty());
    decoder.nilDecodingStrategy = CSVRowDecoder::NilDecodingStrategy::never();
    error = errorOf([&] { decoder.decode<Date>(*reader); });
    EXPECT_EQ(error.debugDescription(), "Expected Date but found null value instead.");
}

// One field "v" read as T by `decoder`, from a header row and one data row.
template <class T> T decodeField(const CSVRowDecoder &decoder, const std::string &text)
{
    struct Field {
        T value;
        static Field decode(Decoder &d) { return {d.container().decode<T>("v")}; }
    };
    return decoder.decode<Field>(*test::readerAtField(text)).value;
}

TEST(CSVRowDecoderTest, DatesByEachStrategy)
{
    using Strategy = CSVRowDecoder::DateDecodingStrategy;
    CSVRowDecoder decoder;
    EXPECT_EQ(decodeField<Date>(decoder, "0").toQDateTime(),
              QDateTime::fromString("2001-01-01T00:00:00Z", Qt::ISODate));
    EXPECT_EQ(errorOf([&] { decodeField<Date>(decoder, "soon"); }).debugDescription(),
              "Expected to decode Double but found soon instead.");

    decoder.dateDecodingStrategy = Strategy::secondsSince1970();
    const Date oneAndAHalf = decodeField<Date>(decoder, "1.5");
    EXPECT_EQ(oneAndAHalf.timeIntervalSince1970(), 1.5);
    EXPECT_EQ(oneAndAHalf.toQDateTime().toMSecsSinceEpoch(), 1500);
    decoder.dateDecodingStrategy = Strategy::millisecondsSince1970();
    EXPECT_EQ(decodeField<Date>(decoder, "1500"), oneAndAHalf);

    decoder.dateDecodingStrategy = Strategy::iso8601();
    EXPECT_EQ(decodeField<Date>(decoder, "2016-12-31T23:59:59Z").timeIntervalSince1970(),
              1483228799.0);
    EXPECT_EQ(decodeField<Date>(decoder, "2016-12-31T23:59:59+01:00").timeIntervalSince1970(),
              1483228799.0 - 3600);
    DecodingError error = errorOf([&] { decodeField<Date>(decoder, "2016-12-31"); });
    EXPECT_EQ(error.kind(), Kind::dataCorrupted);
    EXPECT_EQ(error.debugDescription(), "Expected date string to be ISO8601-formatted.");
    EXPECT_EQ(pathOf(error), std::vector<std::string>{"v"});

    decoder.dateDecodingStrategy = Strategy::formatted([](const std::string &text) {
        return text == "noon" ? std::optional(Date::sinceReferenceDate(43200)) : std::nullopt;
    });
    EXPECT_EQ(decodeField<Date>(decoder, "noon").timeIntervalSinceReferenceDate, 43200);
    EXPECT_EQ(errorOf([&] { decodeField<Date>(decoder, "dusk"); }).debugDescription(),
              "Date string does not match format expected by formatter.");

    decoder.dateDecodingStrategy = Strategy::custom(
        [](const std::string &) -> Date { throw std::runtime_error("no calendar"); });
    EXPECT_THROW(decodeField<Date>(decoder, "any"), std::runtime_error);
}

TEST(CSVRowDecoderTest, CustomBoolAndDataStrategies)
{
    CSVRowDecoder decoder;
    EXPECT_EQ(decodeField<QByteArray>(decoder, "aGVsbG8="), "hello");
    const DecodingError error = errorOf([&] { decodeField<QByteArray>(decoder, "aGVs\nbG8="); });
    EXPECT_EQ(error.kind(), Kind::dataCorrupted);
    EXPECT_EQ(error.debugDescription(), "Encountered Data is not valid Base64.");

    decoder.dataDecodingStrategy =
        CSVRowDecoder::DataDecodingStrategy::custom([](const std::string &text) {
            return QByteArray::fromHex(QByteArray::fromStdString(text));
        });
    EXPECT_EQ(decodeField<QByteArray>(decoder, "6869"), "hi");

    decoder.boolDecodingStrategy =
        CSVRowDecoder::BoolDecodingStrategy::custom([](const std::string &text) {
            if (text != "yes" && text != "no")
                throw DecodingError::dataCorrupted({}, "yes or no");
            return text == "yes";
        });
    EXPECT_TRUE(decodeField<bool>(decoder, "yes"));
    EXPECT_EQ(errorOf([&] { decodeField<bool>(decoder, "true"); }).debugDescription(), "yes or no");
}

} // namespace
} // namespace corvane
