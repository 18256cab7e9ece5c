#include "CsvTestSupport.h"

#include "csv/CSVError.h"
#include "csv/CSVReader.h"
#include "csv/CSVWriter.h"
#include "csv/FileInputStream.h"
#include "csv/FileOutputStream.h"
#include "csv/MemoryInputStream.h"
#include "csv/MemoryOutputStream.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <random>

namespace corvane {
namespace {

using test::Rows;
using Code = CSVError::Code;

// The bytes of `rows` written by a writer that `make` builds on a stream.
template <class Make> std::string written(const Rows &rows, Make &&make)
{
    auto stream = std::make_shared<MemoryOutputStream>();
    {
        CSVWriter writer = make(stream);
        for (const auto &row : rows)
            writer.writeRow(row);
    }
    return stream->data();
}

std::string writtenUtf8(const Rows &rows, std::string delimiter = ",",
                        CSVWriter::Newline newline = CSVWriter::Newline::lf)
{
    return written(rows, [&](auto stream) { return CSVWriter(stream, delimiter, newline); });
}

TEST(CSVWriterTest, RowsAreSeparatedNotTerminated)
{
    EXPECT_EQ(writtenUtf8({{"a", "b"}, {"c"}}), "a,b\nc");
    EXPECT_EQ(writtenUtf8({{"a", "b"}, {"c"}}, ",", CSVWriter::Newline::crlf), "a,b\r\nc");
    EXPECT_EQ(writtenUtf8({{"a", "b"}, {"c", "d"}}, "\t"), "a\tb\nc\td");
    // The two rows that do not come back: an empty row, a last row of one empty field.
    EXPECT_EQ(writtenUtf8({{"a"}, {}, {"b"}}), "a\nb");
    EXPECT_EQ(writtenUtf8({{"a"}, {""}}), "a\n");
    EXPECT_EQ(writtenUtf8({{"a"}, {""}, {"b"}}), "a\n\nb");
}

TEST(CSVWriterTest, FieldsAreQuotedWhereTheyMustBe)
{
    const std::pair<std::string, std::string> fields[] = {
        {"plain", "plain"},           {"", ""},
        {"a,b", "\"a,b\""},           {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},           {"line\nbreak", "\"line\nbreak\""},
        {"cr\rhere", "\"cr\rhere\""}, {"crlf\r\nhere", "\"crlf\r\nhere\""},
        {" spaced ", " spaced "},     {"semi;colon", "semi;colon"},
    };
    for (const auto &[field, text] : fields)
        EXPECT_EQ(writtenUtf8({{field, "z"}}), text + ",z") << field;

    // A delimiter of two characters quotes only where it stands whole.
    EXPECT_EQ(writtenUtf8({{"x;;y", "x;y", "z"}}, ";;"), "\"x;;y\";;x;y;;z");
    // A delimiter followed by a combining mark is still a delimiter to a reader.
    EXPECT_EQ(writtenUtf8({{",\u0301", "z"}}), "\",\u0301\",z");

    auto stream = std::make_shared<MemoryOutputStream>();
    {
        CSVWriter writer(stream);
        writer.writeRow({"a", "", "c"}, [](std::size_t index) { return index != 2; });
        writer.beginNewRow();
        writer.writeField("d");
        writer.writeField("e", true);
    }
    EXPECT_EQ(stream->data(), "\"a\",\"\",c\nd,\"e\"");
}

TEST(CSVWriterTest, SixteenAndThirtyTwoBitTextInEitherByteOrder)
{
    const Rows rows{{"A", "😀"}};
    const auto in16 = [&](Endian endian) {
        return written(rows, [&](auto stream) { return CSVWriter(stream, UTF16Codec(), endian); });
    };
    const auto in32 = [&](Endian endian) {
        return written(rows, [&](auto stream) { return CSVWriter(stream, UTF32Codec(), endian); });
    };
    using namespace std::string_literals;
    EXPECT_EQ(in16(Endian::big), "\0A\0,\xD8\x3D\xDE\x00"s);
    EXPECT_EQ(in16(Endian::little), "A\0,\0\x3D\xD8\x00\xDE"s);
    EXPECT_EQ(in16(Endian::unknown), in16(Endian::little));
    EXPECT_EQ(in32(Endian::big), "\0\0\0A\0\0\0,\0\x01\xF6\x00"s);
    EXPECT_EQ(in32(Endian::little), "A\0\0\0,\0\0\0\x00\xF6\x01\0"s);
    EXPECT_EQ(in32(Endian::unknown), in32(Endian::little));
    EXPECT_EQ(written(rows, [](auto stream) { return CSVWriter(stream, UTF8Codec()); }),
              "A,\xF0\x9F\x98\x80");
    // Invalid UTF-8 in a field is written as U+FFFD.
    EXPECT_EQ(writtenUtf8({{"a\xC3", "\xFF"}}), "a\xEF\xBF\xBD,\xEF\xBF\xBD");
}

TEST(CSVWriterTest, AShortWriteOffersTheRestOfTheScalarThenFails)
{
    auto stream = std::make_shared<test::TestOutputStream>(1);
    CSVWriter writer(stream, UTF16Codec(), Endian::big);
    EXPECT_EQ(test::thrownCode([&] { writer.writeField("😀"); }), Code::cannotWriteStream);
    EXPECT_EQ(stream->offered, (std::vector<std::size_t>{2, 2}));
    EXPECT_EQ(stream->bytes, "\xD8");

    // What was written stays, and a retry goes on after the failed field.
    stream->capacity = SIZE_MAX;
    writer.writeField("b");
    EXPECT_EQ(stream->bytes, std::string("\xD8\0,\0b", 5));

    // In UTF-8 each of the scalar's bytes is offered on its own.
    auto utf8 = std::make_shared<test::TestOutputStream>(1);
    CSVWriter utf8Writer(utf8);
    EXPECT_EQ(test::thrownCode([&] { utf8Writer.writeRow({"😀"}); }), Code::cannotWriteStream);
    EXPECT_EQ(utf8->offered, (std::vector<std::size_t>{1, 1, 1, 1}));
    EXPECT_EQ(utf8->bytes, "\xF0");
}

TEST(CSVWriterTest, OpensTheStreamAndClosesItWhenDone)
{
    auto fresh = std::make_shared<test::TestOutputStream>();
    {
        CSVWriter writer(fresh);
        EXPECT_EQ(fresh->status(), StreamStatus::open);
    }
    EXPECT_EQ(fresh->status(), StreamStatus::closed);

    auto alreadyOpen = std::make_shared<test::TestOutputStream>();
    alreadyOpen->open();
    CSVWriter writer(alreadyOpen);
    EXPECT_EQ(alreadyOpen->openCalls, 1);

    auto refusing = std::make_shared<test::TestOutputStream>(SIZE_MAX, false);
    EXPECT_EQ(test::thrownCode([&] { CSVWriter{refusing}; }), Code::cannotOpenFile);
    auto closed = std::make_shared<test::TestOutputStream>();
    closed->open();
    closed->close();
    EXPECT_EQ(test::thrownCode([&] { CSVWriter(closed, UTF32Codec(), Endian::big); }),
              Code::cannotOpenFile);
    EXPECT_EQ(test::thrownCode([] {
                  CSVWriter(std::make_shared<FileOutputStream>("/nonexistent-dir/out.csv"));
              }),
              Code::cannotOpenFile);
}

// Rows of awkward fields, none of the two kinds that do not come back.
Rows randomRows(unsigned seed)
{
    static const char *const pieces[] = {"a",    "é", "😀", ",",  "\"",   "\n", "\r",
                                         "\r\n", " ", ";", "\t", "東京", ""};
    std::mt19937 random(seed);
    Rows rows(40);
    for (auto &row : rows) {
        row.resize(1 + random() % 4);
        for (auto &field : row) {
            for (unsigned n = random() % 5; n > 0; --n)
                field += pieces[random() % std::size(pieces)];
        }
    }
    if (rows.back() == CSVReader::Row{""})
        rows.back() = {"last"};
    return rows;
}

TEST(CSVWriterTest, WrittenRowsReadBackTheSame)
{
    for (unsigned seed = 1; seed <= 25; ++seed) {
        const Rows rows = randomRows(seed);
        for (const auto newline : {CSVWriter::Newline::lf, CSVWriter::Newline::crlf}) {
            const std::string utf8 = writtenUtf8(rows, ";", newline);
            CSVReader fromUtf8(std::make_shared<MemoryInputStream>(utf8), UTF8Codec(), false, false,
                               U';');
            EXPECT_EQ(test::readRows(fromUtf8), rows) << seed;

            for (const Endian endian : {Endian::big, Endian::little}) {
                const std::string utf16 = written(rows, [&](auto stream) {
                    return CSVWriter(stream, UTF16Codec(), endian, "\t", newline);
                });
                CSVReader from16(std::make_shared<MemoryInputStream>(utf16), UTF16Codec(), endian,
                                 false, false, U'\t');
                EXPECT_EQ(test::readRows(from16), rows) << seed;

                const std::string utf32 = written(rows, [&](auto stream) {
                    return CSVWriter(stream, UTF32Codec(), endian, ",", newline);
                });
                CSVReader from32(std::make_shared<MemoryInputStream>(utf32), UTF32Codec(), endian);
                EXPECT_EQ(test::readRows(from32), rows) << seed;
            }
        }
    }
}

TEST(CSVWriterTest, FilesHoldWhatWasWritten)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const std::filesystem::path path = directory.filePath("out.csv").toStdString();
    // Well past the file stream's buffer.
    Rows rows;
    for (int i = 0; i < 20000; ++i)
        rows.push_back({std::to_string(i), "field, " + std::to_string(i * 7), "ü"});
    {
        CSVWriter writer(std::make_shared<FileOutputStream>(path));
        for (const auto &row : rows)
            writer.writeRow(row);
    }
    auto reader = CSVReader::initWithStream(std::make_shared<FileInputStream>(path));
    EXPECT_EQ(test::readRows(reader), rows);
    EXPECT_FALSE(reader.error());
}

TEST(CSVWriterTest, AFullDeviceIsReportedNotSwallowed)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    // What the last close passes on fails there.
    auto small = std::make_shared<FileOutputStream>("/dev/full");
    {
        CSVWriter writer(small);
        writer.writeRow({"a", "b"});
    }
    EXPECT_EQ(small->status(), StreamStatus::error);
    ASSERT_TRUE(small->streamError());
    EXPECT_NE(small->streamError()->find("/dev/full"), std::string::npos);

    // A write that fills the buffer fails at once.
    auto large = std::make_shared<FileOutputStream>("/dev/full");
    CSVWriter writer(large);
    EXPECT_EQ(test::thrownCode([&] {
                  for (int i = 0; i < 100000; ++i)
                      writer.writeRow({"0123456789"});
              }),
              Code::cannotWriteStream);
}

} // namespace
} // namespace corvane
