#include "CsvTestSupport.h"

#include "csv/CSVReader.h"
#include "csv/CSVRowDecoder.h"
#include "csv/CSVValueConversion.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>

#include <cmath>
#include <limits>

namespace corvane {
namespace {

// The field "v" of a one-row text read as T, or the debug description of
// the error that refused it.
template <class T>
std::variant<T, std::string> decodeField(const std::string &text,
                                         CSVRowDecoder decoder = CSVRowDecoder())
{
    struct Field {
        T value;
        static Field decode(Decoder &d) { return {d.container().decode<T>("v")}; }
    };
    const auto reader = test::readerAtField(text);
    try {
        return decoder.decode<Field>(*reader).value;
    } catch (const DecodingError &error) {
        return error.debugDescription();
    }
}

CSVRowDecoder neverNil()
{
    CSVRowDecoder decoder;
    decoder.nilDecodingStrategy = CSVRowDecoder::NilDecodingStrategy::never();
    return decoder;
}

TEST(CSVValueConversionTest, BoolIsTrueOrFalseExactly)
{
    EXPECT_EQ(std::get<bool>(decodeField<bool>("true")), true);
    EXPECT_EQ(std::get<bool>(decodeField<bool>("false")), false);
    for (const char *text : {"TRUE", "True", "1", "yes", " true", "true "})
        EXPECT_EQ(std::get<std::string>(decodeField<bool>(text)),
                  std::string("Expected to decode Bool but found ") + text + " instead.");
    EXPECT_EQ(std::get<std::string>(decodeField<bool>("", neverNil())),
              "Expected to decode Bool but found  instead.");
}

TEST(CSVValueConversionTest, FloatingPointTakesTheWholeTextInTheCLocale)
{
    const std::pair<const char *, double> accepted[] = {
        {"1e3", 1000.0},
        {"0x1p4", 16.0},
        {"-1.5", -1.5},
        {"+1", 1.0},
        {"1E-2", 0.01},
        {"inf", HUGE_VAL},
        {"-Infinity", -HUGE_VAL},
        // Beyond the range: infinity and zero, as the C library rounds them.
        {"1e400", HUGE_VAL},
        {"1e-400", 0.0},
    };
    for (const auto &[text, value] : accepted)
        EXPECT_EQ(parseDouble(text), value) << text;
    EXPECT_TRUE(std::isnan(*parseDouble("nan")));
    EXPECT_EQ(parseFloat("3.5e38"), HUGE_VALF);
    EXPECT_EQ(parseFloat("0.25"), 0.25f);

    for (const char *text : {" 1", "\t1", "\n1", "1 ", "1,5", "1.5.", "", "e3", "0x", "1e"})
        EXPECT_EQ(parseDouble(text), std::nullopt) << '"' << text << '"';
    // A NUL ends the text for the C library, but not for the field.
    EXPECT_EQ(parseDouble(std::string("1.5\0", 4)), std::nullopt);
    EXPECT_EQ(parseFloat(std::string("2\0", 2)), std::nullopt);

    EXPECT_EQ(std::get<std::string>(decodeField<double>("1,5")),
              "Expected to decode Double but found 1,5 instead.");
    EXPECT_EQ(std::get<std::string>(decodeField<float>(" 1")),
              "Expected to decode Float but found  1 instead.");
    EXPECT_EQ(std::get<std::string>(decodeField<double>("", neverNil())),
              "Expected to decode Double but found  instead.");
    EXPECT_EQ(std::get<float>(decodeField<float>("0x1p4")), 16.0f);
}

template <class T> class IntegerConversion : public testing::Test {
};
using IntegerTypes =
    testing::Types<Int, std::int8_t, std::int16_t, std::int32_t, std::int64_t, UInt, std::uint8_t,
                   std::uint16_t, std::uint32_t, std::uint64_t>;
TYPED_TEST_SUITE(IntegerConversion, IntegerTypes);

// The decimal text of `value` + `step`, past the 64-bit range as well.
std::string shifted(__int128 value, int step)
{
    __int128 shiftedValue = value + step;
    const bool negative = shiftedValue < 0;
    std::string digits;
    do {
        const auto digit = static_cast<int>(shiftedValue % 10);
        digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -digit : digit)));
        shiftedValue /= 10;
    } while (shiftedValue != 0);
    return (negative ? "-" : "") + digits;
}

TYPED_TEST(IntegerConversion, StrictGrammarAndRange)
{
    using T = TypeParam;
    using Limits = std::numeric_limits<
        std::conditional_t<std::is_same_v<T, Int>, std::int64_t,
                           std::conditional_t<std::is_same_v<T, UInt>, std::uint64_t, T>>>;
    const std::string name = decodingTypeName<T>();
    const auto value = [](const std::string &text) { return decodeField<T>(text); };
    const auto refusal = [&](const std::string &text) {
        return "Expected to decode " + name + " but found " + text + " instead.";
    };

    const std::string highest = shifted(Limits::max(), 0), lowest = shifted(Limits::min(), 0);
    EXPECT_EQ(std::get<T>(value(highest)), Limits::max());
    EXPECT_EQ(std::get<T>(value(lowest)), Limits::min());
    EXPECT_EQ(std::get<std::string>(value(shifted(Limits::max(), 1))),
              refusal(shifted(Limits::max(), 1)));
    EXPECT_EQ(std::get<std::string>(value(shifted(Limits::min(), -1))),
              refusal(shifted(Limits::min(), -1)));
    EXPECT_EQ(std::get<std::string>(value("99999999999999999999999")),
              refusal("99999999999999999999999"));

    EXPECT_EQ(std::get<T>(value("+7")), 7);
    EXPECT_EQ(std::get<T>(value("-0")), 0);
    EXPECT_EQ(std::get<T>(value("007")), 7);
    for (const char *text :
         {"-", "+", "1.0", "1e3", "0x10", "1,000", " 1", "1 ", "--1", "+-1", "\xD9\xA3", "1_000"})
        EXPECT_EQ(std::get<std::string>(value(text)), refusal(text));
    EXPECT_EQ(std::get<std::string>(decodeField<T>("", neverNil())), refusal(""));
}

TEST(CSVValueConversionTest, IntAndInt64AreNamedApart)
{
    EXPECT_EQ(std::get<std::string>(decodeField<Int>("x")),
              "Expected to decode Int but found x instead.");
    EXPECT_EQ(std::get<std::string>(decodeField<std::int64_t>("x")),
              "Expected to decode Int64 but found x instead.");
    EXPECT_EQ(std::get<std::string>(decodeField<UInt>("-1")),
              "Expected to decode UInt but found -1 instead.");
    EXPECT_EQ(std::get<std::string>(decodeField<std::uint64_t>("-1")),
              "Expected to decode UInt64 but found -1 instead.");
}

TEST(CSVValueConversionTest, InternetDateTimes)
{
    const auto at = [](std::string_view text) {
        const auto date = parseISO8601Date(text);
        return date ? std::optional(date->timeIntervalSince1970()) : std::nullopt;
    };
    EXPECT_EQ(at("2016-12-31T23:59:59Z"), 1483228799.0);
    EXPECT_EQ(at("2016-12-31T23:59:59+01:00"), 1483228799.0 - 3600);
    EXPECT_EQ(at("2016-12-31T23:59:59-05:30"), 1483228799.0 + 5.5 * 3600);
    EXPECT_EQ(at("2016-02-29T00:00:00Z"), 1456704000.0);
    EXPECT_EQ(at("1969-12-31T23:59:59Z"), -1.0);
    EXPECT_EQ(at("2001-01-01T00:00:00Z"), Date::referenceDateSince1970);
    for (const char *text :
         {"2016-12-31", "2016-12-31t23:59:59Z", "2016-12-31T23:59:59z", "2016-12-31T23:59:59",
          "2016-12-31T23:59:59.5Z", "2016-12-31 23:59:59Z", "2016-12-31T23:59:59+0100",
          "2015-02-29T00:00:00Z", "2016-13-01T00:00:00Z", "2016-00-01T00:00:00Z",
          "2016-12-31T24:00:00Z", "2016-12-31T23:60:00Z", "2016-12-31T23:59:60Z",
          "2016-12-31T23:59:59+24:00", "+2016-12-31T23:59:5Z", "2016-12-31T23:59:59Z "})
        EXPECT_EQ(parseISO8601Date(text), std::nullopt) << text;
}

TEST(CSVValueConversionTest, DatesConvertToQDateTime)
{
    EXPECT_EQ(Date::since1970(1.5).toQDateTime(),
              QDateTime::fromString("1970-01-01T00:00:01.500Z", Qt::ISODateWithMs));
    EXPECT_EQ(Date::sinceReferenceDate(0).toQDateTime(),
              QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));
    // Text can give intervals that no QDateTime holds.
    for (const double seconds : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300})
        EXPECT_FALSE(Date::since1970(seconds).toQDateTime().isValid()) << seconds;
}

TEST(CSVValueConversionTest, Base64IsStrictAndPadded)
{
    EXPECT_EQ(parseBase64("aGVsbG8="), QByteArray("hello"));
    EXPECT_EQ(parseBase64("aGk="), QByteArray("hi"));
    EXPECT_EQ(parseBase64("AAEC/+7d"), QByteArray::fromHex("000102ffeedd"));
    EXPECT_EQ(parseBase64(""), QByteArray());
    for (const char *text : {"aGVsbG8", "aGk", "aGVs\nbG8=", "aGVs bG8=", " aGk=", "aGk=\n", "aG=k",
                             "aGk==", "====", "AAEC-_7d", "aGk=aGk="})
        EXPECT_EQ(parseBase64(text), std::nullopt) << text;
}

TEST(CSVValueConversionTest, URLsAndDecimals)
{
    EXPECT_EQ(std::get<QUrl>(decodeField<QUrl>("https://example.com/a?b=c")),
              QUrl("https://example.com/a?b=c"));
    for (const char *text : {"https://example.com/a b", "%zz", "http://[::1"})
        EXPECT_EQ(std::get<std::string>(decodeField<QUrl>(text)), "Invalid URL string.") << text;
    EXPECT_EQ(std::get<std::string>(decodeField<QUrl>("", neverNil())), "Invalid URL string.");

    const Decimal price = std::get<Decimal>(decodeField<Decimal>("-012.340"));
    EXPECT_EQ(price, (Decimal{true, "1234", -2}));
    EXPECT_EQ(price.toString(), "-12.34");
    EXPECT_EQ(price.toDouble(), -12.34);
    EXPECT_EQ(Decimal::fromString("1500")->toString(), "1500");
    EXPECT_EQ(Decimal::fromString("1500")->exponent, 2);
    EXPECT_EQ(Decimal::fromString("0.001")->toString(), "0.001");
    EXPECT_EQ(Decimal::fromString("-0.00"), Decimal());
    EXPECT_EQ(Decimal::fromString("+1.50"), Decimal::fromString("1.5"));
    for (const char *text : {"1.", ".5", "1e3", " 1", "1 ", "+", "-", "1,5", "0x1", "1.2.3"})
        EXPECT_EQ(std::get<std::string>(decodeField<Decimal>(text)), "Invalid Decimal string.")
            << text;
}

TEST(CSVValueConversionTest, CanonicalFormComposes)
{
    EXPECT_EQ(canonicalForm("Sta\u0308dte"), "Städte");
    EXPECT_EQ(canonicalForm("Städte"), "Städte");
    EXPECT_EQ(canonicalForm("Å"), "Å"); // the ångström sign U+212B
    EXPECT_EQ(canonicalForm("plain"), "plain");
}

} // namespace
} // namespace corvane
