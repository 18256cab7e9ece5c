#include "CsvTestSupport.h"

#include "csv/BinaryReader.h"
#include "csv/CSVReader.h"
#include "csv/FileInputStream.h"
#include "csv/MemoryInputStream.h"
#include "csv/UnicodeIterator.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

namespace corvane {
namespace {

using test::Rows;
using Code = CSVError::Code;

std::shared_ptr<InputStream> memory(std::string bytes)
{
    return std::make_shared<MemoryInputStream>(std::move(bytes));
}

const std::u32string sample = U"a,é\n\"𝄞\",z";
const Rows sampleRows{{"a", "é"}, {"𝄞", "z"}};

TEST(CSVStreamTest, EveryByteOrderMarkSetsTheEncodingsByteOrder)
{
    CSVReader utf8(memory("\xEF\xBB\xBF" + test::utf8(sample)), UTF8Codec());
    EXPECT_EQ(test::readRows(utf8), sampleRows);

    for (Endian endian : {Endian::little, Endian::big}) {
        const bool big = endian == Endian::big;
        CSVReader utf16(memory((big ? "\xFE\xFF" : "\xFF\xFE") + test::utf16(sample, endian)),
                        UTF16Codec(), Endian::unknown);
        EXPECT_EQ(test::readRows(utf16), sampleRows) << big;
        EXPECT_FALSE(utf16.error());

        const std::string mark32 =
            big ? std::string("\0\0\xFE\xFF", 4) : std::string("\xFF\xFE\0\0", 4);
        CSVReader utf32(memory(mark32 + test::utf32(sample, endian)), UTF32Codec(), endian);
        EXPECT_EQ(test::readRows(utf32), sampleRows) << big;
        EXPECT_FALSE(utf32.error());

        // Without a mark the byte order asked for holds.
        CSVReader unmarked(memory(test::utf16(sample, endian)), UTF16Codec(), endian);
        EXPECT_EQ(test::readRows(unmarked), sampleRows) << big;
    }

    // 8-bit text skips a mark of any width and stays UTF-8.
    CSVReader skipped(memory("\xFE\xFF"
                             "a,b"),
                      UTF8Codec());
    EXPECT_EQ(test::readRows(skipped), (Rows{{"a", "b"}}));
}

TEST(CSVStreamTest, MarkEdgeCases)
{
    CSVReader markOnly(memory("\xEF\xBB\xBF"), UTF8Codec());
    EXPECT_EQ(markOnly.readRow(), nullptr);
    EXPECT_FALSE(markOnly.error());

    // To 16-bit text FF FE 00 00 is its 2-byte mark and a U+0000.
    CSVReader fourByteMark(
        memory(std::string("\xFF\xFE\0\0", 4) + test::utf16(U"a", Endian::little)), UTF16Codec(),
        Endian::little);
    EXPECT_EQ(test::readRows(fourByteMark), (Rows{{std::string("\0a", 2)}}));

    EXPECT_EQ(test::thrownCode([] {
                  CSVReader(memory(std::string("\xFF\xFE"
                                               "a\0",
                                               4)),
                            UTF16Codec(), Endian::big);
              }),
              Code::stringEndianMismatch);
    CSVReader unknownOverMark(memory(std::string("\xFF\xFE"
                                                 "a\0",
                                                 4)),
                              UTF16Codec(), Endian::unknown);
    EXPECT_EQ(test::readRows(unknownOverMark), (Rows{{"a"}}));

    auto reader = BinaryReader::open(memory(""));
    EXPECT_EQ(reader->endian(), Endian::unknown);
    EXPECT_TRUE(reader->bufferedBytes().empty());
    EXPECT_TRUE(reader->closeOnDeinit());
}

// Wide text takes only a mark of its own width, and finds it even when the
// stream hands its first bytes over one at a time.
TEST(CSVStreamTest, MarksOfTheReadersOwnWidthAcrossShortReads)
{
    struct Case {
        std::string bytes;
        int width;
        Endian requested;
        std::u32string text;
    };
    const std::u32string nulFirst(U"\0a", 2);
    const std::u32string nulThenMark(U"\0\uFEFFa", 3);
    const std::vector<Case> cases{
        {"\xFF\xFE" + test::utf16(nulFirst, Endian::little), 16, Endian::unknown, nulFirst},
        {test::utf16(nulThenMark, Endian::big), 16, Endian::big, nulThenMark},
        {"\xFE\xFF" + test::utf16(U"é", Endian::big), 16, Endian::unknown, U"é"},
        {test::utf32(U"\U0001FEFFa", Endian::little), 32, Endian::little, U"\U0001FEFFa"},
        {std::string("\0\0\xFE\xFF", 4) + test::utf32(U"é", Endian::big), 32, Endian::unknown,
         U"é"},
    };
    for (const Case &c : cases) {
        for (const std::size_t chunk : {std::size_t(1), std::size_t(3), SIZE_MAX}) {
            const auto read = [&](auto codec) {
                CSVReader reader(
                    std::make_shared<test::TestStream>(c.bytes, test::TestStream::Options{chunk}),
                    codec, c.requested);
                return test::readRows(reader);
            };
            const Rows rows = c.width == 16 ? read(UTF16Codec()) : read(UTF32Codec());
            EXPECT_EQ(rows, (Rows{{test::utf8(c.text)}})) << c.width << " " << chunk;
        }
    }
}

TEST(CSVStreamTest, WideTextWithoutByteOrderIsAnError)
{
    CSVReader reader(memory(test::utf16(U"a,b\n", Endian::little)), UTF16Codec(), Endian::unknown);
    EXPECT_EQ(reader.readRow(), nullptr);
    ASSERT_TRUE(reader.error());
    EXPECT_EQ(reader.error()->code(), Code::stringEndianMismatch);
}

TEST(CSVStreamTest, OddByteCountEndsWithEncodingMismatch)
{
    CSVReader reader(memory(test::utf16(U"a,b", Endian::little) + "x"), UTF16Codec(),
                     Endian::little);
    EXPECT_EQ(test::readRows(reader), (Rows{{"a", "b"}}));
    ASSERT_TRUE(reader.error());
    EXPECT_EQ(reader.error()->code(), Code::stringEncodingMismatch);
}

TEST(CSVStreamTest, InvalidUtf8EndsTheRowAndReadingGoesOn)
{
    CSVReader reader(memory("a\xFF"
                            "b,c\n\xC3\n"),
                     UTF8Codec());
    ASSERT_NE(reader.readRow(), nullptr);
    EXPECT_EQ(*reader.currentRow(), (CSVReader::Row{"a"}));
    ASSERT_TRUE(reader.error());
    EXPECT_EQ(reader.error()->code(), Code::unicodeDecoding);
    EXPECT_EQ(test::readRows(reader), (Rows{{"b", "c"}}));
    // C3 cannot be followed by LF: the LF is no part of the error.
    EXPECT_EQ(test::readRows(reader), (Rows{{""}}));
    EXPECT_EQ(reader.readRow(), nullptr);
}

TEST(CSVStreamTest, ErrorsWhileReadingHeaderAreKept)
{
    CSVReader reader(memory("lat\xFF,lon\n1,2\n"), UTF8Codec(), true);
    EXPECT_EQ(*reader.headerRow(), (CSVReader::Row{"lat"}));
    ASSERT_TRUE(reader.error());
    EXPECT_EQ(reader.error()->code(), Code::unicodeDecoding);
}

// Decodes with each error shown as U+FFFD, as many as the decoder reports.
template <class Codec, class Unit> std::u32string decodeAll(const std::vector<Unit> &units)
{
    struct Units {
        const std::vector<Unit> *units;
        std::size_t position = 0;
        std::optional<Unit> next()
        {
            if (position >= units->size())
                return std::nullopt;
            return (*units)[position++];
        }
    };
    bool failed = false;
    UnicodeIterator<Units, Codec> iterator(Units{&units});
    iterator.setErrorHandler([&](const CSVError &error) {
        EXPECT_EQ(error.code(), Code::unicodeDecoding);
        failed = true;
    });
    std::u32string text;
    for (;;) {
        if (const auto scalar = iterator.next()) {
            text += *scalar;
        } else if (failed) {
            text += U'\uFFFD';
            failed = false;
        } else {
            return text;
        }
    }
}

TEST(CSVStreamTest, DecodersTakeOneMaximalSubpartPerError)
{
    const std::vector<std::uint8_t> bytes{0x61, 0xF1, 0x80, 0x80, 0xE1, 0x80, 0xC2, 0x62, 0x80,
                                          0x63, 0x80, 0xBF, 0x64, 0xE0, 0x9F, 0xED, 0xA0, 0x80,
                                          0xF4, 0x90, 0xC0, 0xF0, 0x9F, 0x98, 0x80, 0xF0, 0x9F};
    EXPECT_EQ(decodeAll<UTF8Codec>(bytes),
              U"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"
              U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD😀\uFFFD");

    const std::vector<std::uint16_t> units{0x61, 0xD800, 0x62, 0xDC00, 0xD83D, 0xDE00, 0xD83D};
    EXPECT_EQ(decodeAll<UTF16Codec>(units), U"a\uFFFDb\uFFFD😀\uFFFD");

    const std::vector<std::uint32_t> scalars{0x110000, 0xD800, 0x41, 0x1F600};
    EXPECT_EQ(decodeAll<UTF32Codec>(scalars), U"\uFFFD\uFFFDA😀");
}

TEST(CSVStreamTest, RefillsKeepScalarsWhole)
{
    // A 4-byte scalar across the first buffer's end, then many short reads.
    std::u32string text(BinaryReader::capacity - 2, U'x');
    text += U"𝄞,é\n";
    for (int i = 0; i < 2000; ++i)
        text += U"row,\"q𝄞\"\"\",東京\r\n";
    Rows expected{{std::string(BinaryReader::capacity - 2, 'x') + "𝄞", "é"}};
    expected.insert(expected.end(), 2000, CSVReader::Row{"row", "q𝄞\"", "東京"});

    for (std::size_t chunk : {std::size_t(7), std::size_t(65535)}) {
        CSVReader utf8(
            std::make_shared<test::TestStream>(test::utf8(text), test::TestStream::Options{chunk}),
            UTF8Codec());
        EXPECT_EQ(test::readRows(utf8), expected) << chunk;
        EXPECT_FALSE(utf8.error());

        // The buffer's odd size splits a 16-bit unit.
        CSVReader utf16(
            std::make_shared<test::TestStream>("\xFF\xFE" + test::utf16(text, Endian::little),
                                               test::TestStream::Options{chunk}),
            UTF16Codec(), Endian::unknown);
        EXPECT_EQ(test::readRows(utf16), expected) << chunk;
        EXPECT_FALSE(utf16.error());
    }
}

TEST(CSVStreamTest, FilesEndCleanly)
{
    QTemporaryDir directory;
    for (std::size_t size :
         {std::size_t(0), std::size_t(10), std::size_t(65535), std::size_t(65536 * 3 + 1)}) {
        const std::string path = directory.filePath(QString::number(size)).toStdString();
        std::string bytes(size, 'a');
        for (std::size_t i = 9; i < size; i += 10)
            bytes[i] = '\n';
        std::ofstream(path, std::ios::binary) << bytes;

        auto stream = std::make_shared<FileInputStream>(path);
        {
            CSVReader reader(stream, UTF8Codec());
            EXPECT_EQ(test::readRows(reader).size(), (size + 9) / 10) << size;
            EXPECT_FALSE(reader.error()) << size << ": " << reader.error()->description();
            EXPECT_EQ(reader.readRow(), nullptr);
            EXPECT_FALSE(reader.error());
        }
        EXPECT_EQ(stream->status(), StreamStatus::closed);
    }
}

TEST(CSVStreamTest, StreamThatClaimsMoreAtItsEndIsReportedAsUnreadable)
{
    CSVReader reader(
        std::make_shared<test::TestStream>("a,b\n", test::TestStream::Options{SIZE_MAX, true}),
        UTF8Codec());
    EXPECT_EQ(test::readRows(reader), (Rows{{"a", "b"}}));
    ASSERT_TRUE(reader.error());
    EXPECT_EQ(reader.error()->code(), Code::cannotReadFile);

    CSVReader wide(std::make_shared<test::TestStream>(test::utf16(U"a,b\n", Endian::big),
                                                      test::TestStream::Options{SIZE_MAX, true}),
                   UTF16Codec(), Endian::big);
    EXPECT_EQ(test::readRows(wide), (Rows{{"a", "b"}}));
    ASSERT_TRUE(wide.error());
    EXPECT_EQ(wide.error()->code(), Code::stringEncodingMismatch);
}

TEST(CSVStreamTest, ReadFailuresCarryTheStreamsAccount)
{
    test::TestStream::Options options;
    options.chunk = 4;
    options.failAt = 6;
    options.failure = "Input/output error";
    CSVReader reader(std::make_shared<test::TestStream>("a,b\nc,d\n", options), UTF8Codec());
    EXPECT_EQ(test::readRows(reader), (Rows{{"a", "b"}, {"c", ""}}));
    ASSERT_TRUE(reader.error());
    EXPECT_EQ(*reader.error(), CSVError::streamErrorHasOccurred("Input/output error"));
    EXPECT_NE(reader.error()->description().find("Input/output error"), std::string::npos);

    options.failure.reset();
    CSVReader silent(std::make_shared<test::TestStream>("a,b\nc,d\n", options), UTF8Codec());
    EXPECT_EQ(test::readRows(silent), (Rows{{"a", "b"}, {"c", ""}}));
    EXPECT_EQ(silent.error()->code(), Code::cannotReadFile);

    options.failAt = 0;
    EXPECT_EQ(test::thrownCode([&] {
                  CSVReader(std::make_shared<test::TestStream>("a", options), UTF8Codec());
              }),
              Code::cannotReadFile);
}

TEST(CSVStreamTest, FilesThatCannotBeOpenedOrRead)
{
    QTemporaryDir directory;
    EXPECT_EQ(test::thrownCode([&] {
                  CSVReader::initWithStream(std::make_shared<FileInputStream>(
                      directory.filePath("missing.csv").toStdString()));
              }),
              Code::cannotOpenFile);
    EXPECT_EQ(test::thrownCode([&] {
                  CSVReader::initWithStream(
                      std::make_shared<FileInputStream>(directory.path().toStdString()));
              }),
              Code::cannotReadFile);

    auto closed = memory("a");
    closed->open();
    closed->close();
    EXPECT_EQ(test::thrownCode([&] { CSVReader::initWithStream(closed); }), Code::cannotOpenFile);
}

} // namespace
} // namespace corvane
