#include "CsvTestSupport.h"

#include "csv/CSVReader.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace corvane {
namespace {

using test::Rows;
using Options = test::TestStream::Options;

// Reads until the input is used up. Every step takes at least one code unit
// until the end, so `units + 1` steps must reach it; the step after that
// must still find nothing.
void exhaust(CSVReader &reader, std::size_t units)
{
    for (std::size_t step = 0; step <= units; ++step)
        reader.readRow();
    EXPECT_EQ(reader.readRow(), nullptr);
}

void tryReading(const std::function<void()> &read)
{
    try {
        read();
    } catch (const CSVError &) {
        // Opening may refuse random bytes (byte order, header row).
    }
}

TEST(CSVRobustnessTest, RandomBytesThroughEveryWayIn)
{
    std::mt19937 random(20240611);
    const char32_t delimiters[] = {U',', U';', U'\t', U' ', U'"', U'\n', U'\u3000', U'é'};
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 200, '\0');
        const char alphabet[] = {'a',    ',',    '"',    '\r',   '\n', ' ',   '\t',
                                 '\xC3', '\xA9', '\xFF', '\xFE', '\0', '\xBB'};
        for (char &byte : bytes)
            byte = round % 2 ? static_cast<char>(random()) : alphabet[random() % sizeof(alphabet)];
        const bool header = random() % 3 == 0;
        const bool trim = random() % 2;
        const char32_t delimiter = delimiters[random() % std::size(delimiters)];
        const Options options{1 + random() % 9, random() % 4 == 0};
        const auto stream = [&] { return std::make_shared<test::TestStream>(bytes, options); };
        const std::size_t units = bytes.size();

        tryReading([&] {
            CSVReader reader(stream(), UTF8Codec(), header, trim, delimiter);
            exhaust(reader, units);
        });
        tryReading([&] {
            CSVReader reader(bytes, header, trim, delimiter);
            exhaust(reader, units);
        });
        for (Endian endian : {Endian::big, Endian::little, Endian::unknown}) {
            tryReading([&] {
                CSVReader reader(stream(), UTF16Codec(), endian, header, trim, delimiter);
                exhaust(reader, units);
            });
            tryReading([&] {
                CSVReader reader(stream(), UTF32Codec(), endian, header, trim, delimiter);
                exhaust(reader, units);
            });
        }
        tryReading([&] {
            test::ScalarVector scalars;
            for (std::size_t i = 0; i < bytes.size(); i += 2)
                scalars.scalars += static_cast<char32_t>(random() % 4 ? random() % 0x80 : random());
            CSVReader reader(scalars, CSVReader::Configuration{header, trim, delimiter});
            exhaust(reader, units);
        });
    }
}

// Rows written with quoting where needed read back the same through every
// way in: runs of bytes over short reads, scalars one by one, UTF-16, UTF-32.
TEST(CSVRobustnessTest, QuotedRowsReadBackTheSameEverywhere)
{
    std::mt19937 random(7);
    const std::vector<std::string> pieces{
        "a", "Zz", "0.5", " ",  ",",      "\"",  "\n",   "\r",
        "é", "東", "🇮🇹",  "\t", "\u3000", "x y", "\"\"", std::string(1, '\0')};
    const auto isWhitespace = [](std::string_view piece) {
        return piece == " " || piece == "\t" || piece == "\u3000";
    };
    for (int round = 0; round < 200; ++round) {
        Rows rows(1 + random() % 6);
        std::string text;
        for (auto &row : rows) {
            row.resize(1 + random() % 5);
            for (std::size_t column = 0; column < row.size(); ++column) {
                std::string &field = row[column];
                std::vector<std::string_view> used;
                for (std::size_t count = random() % 6; count > 0; --count)
                    used.push_back(pieces[random() % pieces.size()]);
                for (std::string_view piece : used)
                    field += piece;
                const bool needsQuotes =
                    field.find_first_of(",\"\r\n") != std::string::npos ||
                    (!used.empty() && (isWhitespace(used.front()) || isWhitespace(used.back())));
                if (column > 0)
                    text += ',';
                if (needsQuotes || random() % 4 == 0) {
                    text += '"';
                    for (char c : field)
                        text += c == '"' ? std::string("\"\"") : std::string(1, c);
                    text += '"';
                } else {
                    text += field;
                }
            }
            text += random() % 2 ? "\r\n" : "\n";
        }
        const std::u32string scalars = test::scalarsOf(text);

        for (bool trim : {false, true}) {
            const Options options{1 + random() % 17};
            CSVReader fromString(text, false, trim);
            EXPECT_EQ(test::readRows(fromString), rows) << text;
            CSVReader fromStream(std::make_shared<test::TestStream>(text, options), UTF8Codec(),
                                 false, trim);
            EXPECT_EQ(test::readRows(fromStream), rows) << text;
            CSVReader fromScalars(test::ScalarVector{scalars},
                                  CSVReader::Configuration{false, trim});
            EXPECT_EQ(test::readRows(fromScalars), rows) << text;
            CSVReader fromUtf16(
                std::make_shared<test::TestStream>(test::utf16(scalars, Endian::big), options),
                UTF16Codec(), Endian::big, false, trim);
            EXPECT_EQ(test::readRows(fromUtf16), rows) << text;
            CSVReader fromUtf32(
                std::make_shared<test::TestStream>(test::utf32(scalars, Endian::little), options),
                UTF32Codec(), Endian::little, false, trim);
            EXPECT_EQ(test::readRows(fromUtf32), rows) << text;
        }
    }
}

} // namespace
} // namespace corvane
