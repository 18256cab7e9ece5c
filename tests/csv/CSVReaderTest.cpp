#include "CsvTestSupport.h"

#include "csv/CSVReader.h"
#include "csv/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace corvane {
namespace {

using test::Rows;

struct TokenizerCase {
    const char *name;
    std::string text;
    Rows rows;
};

class CSVTokenizerTable : public testing::TestWithParam<TokenizerCase> {};

// Each text goes through the three ways in: bytes taken in runs from a
// string and from a stream, and scalars one by one.
TEST_P(CSVTokenizerTable, SplitsRowsAndFields)
{
    const TokenizerCase &param = GetParam();

    CSVReader fromString(param.text);
    EXPECT_EQ(test::readRows(fromString), param.rows) << "string";

    CSVReader fromStream(std::make_shared<MemoryInputStream>(param.text), UTF8Codec());
    EXPECT_EQ(test::readRows(fromStream), param.rows) << "stream";
    EXPECT_FALSE(fromStream.error());

    CSVReader fromScalars(test::ScalarVector{test::scalarsOf(param.text)},
                          CSVReader::Configuration());
    EXPECT_EQ(test::readRows(fromScalars), param.rows) << "scalars";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CSVTokenizerTable,
    testing::Values(
        TokenizerCase{"Empty", "", {}}, TokenizerCase{"FinalLineEnd", "a,b\n", {{"a", "b"}}},
        TokenizerCase{"BlankLastLine", "a,b\n\n", {{"a", "b"}, {""}}},
        TokenizerCase{"TrailingDelimiter", "a,", {{"a", ""}}},
        TokenizerCase{"EveryLineEnd", "a\r\nb\rc\nd", {{"a"}, {"b"}, {"c"}, {"d"}}},
        TokenizerCase{"TwoCarriageReturns", "a\r\rb", {{"a"}, {""}, {"b"}}},
        TokenizerCase{"LineFeedOnly", "\n", {{""}}},
        TokenizerCase{"QuotedSpecials", "\"x,\ny\rz\"\"w\",end\r\n", {{"x,\ny\rz\"w", "end"}}},
        TokenizerCase{"UnclosedQuote", "a,\"bc\nd", {{"a", "bc\nd"}}},
        TokenizerCase{"QuoteInsideUnquoted", "a\"b,c\"\n", {{"a\"b", "c\""}}},
        TokenizerCase{"MalformedClosingQuote", "\"ab\"cd,e\n\",f", {{"ab\"cd,e\n", "f"}}},
        TokenizerCase{"MalformedThenDoubled", "\"a\"b\"\"c\",d", {{"a\"b\"c", "d"}}},
        TokenizerCase{"EmptyQuoted", "\"\",\"\"\r\n\"\"", {{"", ""}, {""}}},
        TokenizerCase{"NonAscii", "é,🇮🇹\n東京,\"x😀\"", {{"é", "🇮🇹"}, {"東京", "x😀"}}},
        TokenizerCase{"NulBytes", std::string("a\0b,c", 5), {{std::string("a\0b", 3), "c"}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CSVReaderTest, TrimmingDropsOnlyWhitespaceOutsideQuotes)
{
    CSVReader trimmed("  a  ,  b  \n  \" a \"  ,b\n\u3000x\u3000,y", false, true);
    EXPECT_EQ(test::readRows(trimmed), (Rows{{"a", "b"}, {" a ", "b"}, {"x", "y"}}));

    CSVReader untrimmed("  a  ,  b  \n  \" a \"  ,b", false, false);
    EXPECT_EQ(test::readRows(untrimmed), (Rows{{"  a  ", "  b  "}, {"  \" a \"  ", "b"}}));
}

TEST(CSVReaderTest, MalformedClosingQuoteLosesNothingWithOrWithoutTrimming)
{
    for (bool trim : {false, true}) {
        CSVReader reader("\"ab\"  c\",d\n", false, trim);
        EXPECT_EQ(test::readRows(reader), (Rows{{"ab\"  c", "d"}})) << trim;
    }
}

TEST(CSVReaderTest, DelimiterIsNeverTrimmedUnlessTheConfigurationSaysSo)
{
    CSVReader tabs("\ta\t b \t", false, true, U'\t');
    EXPECT_EQ(test::readRows(tabs), (Rows{{"", "a", "b", ""}}));
    EXPECT_FALSE(tabs.configuration().whitespaces.contains(U'\t'));

    // A ready configuration is taken as it stands: its tab is whitespace.
    CSVReader::Configuration configuration;
    configuration.trimFields = true;
    configuration.delimiter = U'\t';
    CSVReader asGiven(test::ScalarVector{U"\ta"}, configuration);
    EXPECT_EQ(test::readRows(asGiven), (Rows{{"a"}}));
    EXPECT_TRUE(asGiven.configuration().whitespaces.contains(U'\t'));
}

TEST(CSVReaderTest, NonAsciiDelimiterSplitsInsideAsciiRuns)
{
    CSVReader reader(std::make_shared<MemoryInputStream>("abc¦def¦\"g¦h\"\n"), UTF8Codec(), false,
                     false, U'¦');
    EXPECT_EQ(test::readRows(reader), (Rows{{"abc", "def", "g¦h"}}));
}

TEST(CSVReaderTest, DefaultWhitespacesAreTabAndSpaceSeparators)
{
    const CharacterSet &whitespaces = CSVReader::defaultWhitespaces();
    for (char32_t scalar :
         std::u32string_view(U"\t \u00A0\u1680\u2000\u2005\u200A\u202F\u205F\u3000"))
        EXPECT_TRUE(whitespaces.contains(scalar)) << std::hex << std::uint32_t{scalar};
    for (char32_t scalar : {U'\n', U'\r', U'\u200B', U'\u2028', U'\u00A1', U'x'})
        EXPECT_FALSE(whitespaces.contains(scalar)) << std::hex << std::uint32_t{scalar};
}

TEST(CSVReaderTest, HeaderRowAndFieldsByName)
{
    CSVReader reader("name,lat,name\nx,1,y\nshort\n", true);
    ASSERT_NE(reader.headerRow(), nullptr);
    EXPECT_EQ(*reader.headerRow(), (CSVReader::Row{"name", "lat", "name"}));
    EXPECT_EQ(reader.currentRow(), nullptr);

    EXPECT_EQ(reader["nothing"], std::nullopt); // no current row needed
    try {
        (void)reader["lat"];
        ADD_FAILURE() << "no current row yet";
    } catch (const std::logic_error &error) {
        EXPECT_STREQ(error.what(), "CSVReader.currentRow must not be nil");
    }

    ASSERT_NE(reader.readRow(), nullptr);
    EXPECT_EQ(reader["name"], "x");
    EXPECT_EQ(reader["lat"], "1");
    ASSERT_NE(reader.readRow(), nullptr);
    EXPECT_EQ(reader["lat"], "");
    EXPECT_EQ(reader.readRow(), nullptr);
    EXPECT_EQ(reader.currentRow(), nullptr);
    EXPECT_EQ(reader.readRow(), nullptr);

    CSVReader headerless("a,b\n");
    try {
        (void)headerless["a"];
        ADD_FAILURE() << "no header row";
    } catch (const std::logic_error &error) {
        EXPECT_STREQ(error.what(), "CSVReader.headerRow must not be nil");
    }
}

TEST(CSVReaderTest, EmptyInputHasNoHeaderRow)
{
    EXPECT_THROW(CSVReader("", true), CSVError);
    try {
        CSVReader reader(std::make_shared<MemoryInputStream>(""), UTF8Codec(), true);
        ADD_FAILURE() << "no header row";
    } catch (const CSVError &error) {
        EXPECT_EQ(error.code(), CSVError::Code::cannotReadHeaderRow);
        EXPECT_FALSE(error.description().empty());
    }
}

TEST(CSVReaderTest, RowsLoopAndCollect)
{
    CSVReader reader("a\nb,c\n");
    Rows rows(reader.begin(), reader.end());
    EXPECT_EQ(rows, (Rows{{"a"}, {"b", "c"}}));

    auto streamed = CSVReader::initWithStream(std::make_shared<MemoryInputStream>("x\ny"));
    std::vector<std::string> firsts;
    for (const CSVReader::Row &row : streamed)
        firsts.push_back(row.front());
    EXPECT_EQ(firsts, (std::vector<std::string>{"x", "y"}));
}

TEST(CSVReaderTest, StringWithInvalidUtf8ReadsReplacementCharacters)
{
    CSVReader reader("a\xFF,b\xE2\x82\n");
    EXPECT_EQ(test::readRows(reader), (Rows{{"a\uFFFD", "b\uFFFD"}}));
    EXPECT_FALSE(reader.error());
}

} // namespace
} // namespace corvane
