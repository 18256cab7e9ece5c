#pragma once

#include "csv/CSVReader.h"
#include "csv/Endian.h"
#include "csv/InputStream.h"
#include "csv/OutputStream.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::test {

using Rows = std::vector<CSVReader::Row>;

// A stream over bytes in memory that can misbehave: short reads, a
// `hasBytesAvailable` that claims more at the end, a failure at an offset.
class TestStream final : public InputStream {
public:
    struct Options {
        std::size_t chunk = SIZE_MAX;
        bool claimsBytesAtEnd = false;
        std::optional<std::size_t> failAt;
        std::optional<std::string> failure; // the stream error text, if any
    };

    explicit TestStream(std::string bytes) : TestStream(std::move(bytes), Options()) {}
    TestStream(std::string bytes, Options options)
        : bytes_(std::move(bytes)), options_(std::move(options))
    {
    }

    void open() override { setStatus(StreamStatus::open); }
    bool hasBytesAvailable() override
    {
        return status() == StreamStatus::open &&
               (options_.claimsBytesAtEnd || offset_ < bytes_.size());
    }
    void close() override { setStatus(StreamStatus::closed); }

private:
    std::ptrdiff_t readOpen(std::uint8_t *buffer, std::size_t maxLength) override
    {
        if (options_.failAt && offset_ >= *options_.failAt) {
            if (options_.failure)
                fail(*options_.failure);
            return -1;
        }
        std::size_t count = std::min({maxLength, options_.chunk, bytes_.size() - offset_});
        if (options_.failAt)
            count = std::min(count, *options_.failAt - offset_);
        std::copy_n(bytes_.data() + offset_, count, buffer);
        offset_ += count;
        return static_cast<std::ptrdiff_t>(count);
    }

    std::string bytes_;
    Options options_;
    std::size_t offset_ = 0;
};

// Collects what is written, up to a capacity; past it, writes come up short.
// Each write's offered length is kept.
class TestOutputStream final : public OutputStream {
public:
    explicit TestOutputStream(std::size_t capacity = SIZE_MAX, bool opens = true)
        : capacity(capacity), opens_(opens)
    {
    }

    void open() override
    {
        ++openCalls;
        if (opens_)
            setStatus(StreamStatus::open);
        else
            fail("refused");
    }
    void close() override { setStatus(StreamStatus::closed); }

    std::size_t capacity;
    std::string bytes;
    std::vector<std::size_t> offered;
    int openCalls = 0;

private:
    std::ptrdiff_t writeOpen(const std::uint8_t *data, std::size_t length) override
    {
        offered.push_back(length);
        const std::size_t count = std::min(length, capacity - std::min(capacity, bytes.size()));
        bytes.append(reinterpret_cast<const char *>(data), count);
        return static_cast<std::ptrdiff_t>(count);
    }

    bool opens_;
};

// The code of the CSV error that `action` throws; none when it throws none.
inline std::optional<CSVError::Code> thrownCode(const std::function<void()> &action)
{
    try {
        action();
    } catch (const CSVError &error) {
        return error.code();
    }
    return std::nullopt;
}

// A reader at the one row of a text with the header "v", the row's one field
// being `text`.
inline std::unique_ptr<CSVReader> readerAtField(const std::string &text)
{
    std::string csv = "v\n\"";
    for (const char c : text)
        csv += c == '"' ? std::string("\"\"") : std::string(1, c);
    auto reader = std::make_unique<CSVReader>(csv + "\"", true);
    reader->next();
    return reader;
}

// Every row up to the first end.
inline Rows readRows(CSVReader &reader)
{
    Rows rows;
    while (const CSVReader::Row *row = reader.readRow())
        rows.push_back(*row);
    return rows;
}

inline std::string utf8(std::u32string_view text)
{
    std::string bytes;
    for (char32_t scalar : text)
        detail::appendUtf8(bytes, scalar);
    return bytes;
}

inline std::u32string scalarsOf(std::string_view utf8Text)
{
    std::u32string text;
    for (std::size_t i = 0; i < utf8Text.size();) {
        const auto lead = static_cast<unsigned char>(utf8Text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t scalar = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            scalar = scalar << 6 | (static_cast<unsigned char>(utf8Text[i + k]) & 0x3F);
        text += scalar;
        i += length;
    }
    return text;
}

inline std::string codeUnits(std::uint32_t unit, int width, Endian endian)
{
    std::string bytes;
    for (int i = 0; i < width; ++i) {
        const int shift = endian == Endian::big ? 8 * (width - 1 - i) : 8 * i;
        bytes += static_cast<char>(unit >> shift & 0xFF);
    }
    return bytes;
}

inline std::string utf16(std::u32string_view text, Endian endian)
{
    std::string bytes;
    for (char32_t scalar : text) {
        if (scalar >= 0x10000) {
            bytes += codeUnits(0xD800 + ((scalar - 0x10000) >> 10), 2, endian);
            bytes += codeUnits(0xDC00 + ((scalar - 0x10000) & 0x3FF), 2, endian);
        } else {
            bytes += codeUnits(scalar, 2, endian);
        }
    }
    return bytes;
}

inline std::string utf32(std::u32string_view text, Endian endian)
{
    std::string bytes;
    for (char32_t scalar : text)
        bytes += codeUnits(scalar, 4, endian);
    return bytes;
}

// Scalars one by one, with no view of bytes: the reader's plain path.
struct ScalarVector {
    std::u32string scalars;
    std::size_t position = 0;
    std::optional<char32_t> next()
    {
        if (position >= scalars.size())
            return std::nullopt;
        return scalars[position++];
    }
};

} // namespace corvane::test
