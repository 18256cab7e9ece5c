#include "csv/CSVWriter.h"

#include "csv/CSVError.h"

#include <array>
#include <optional>

namespace corvane {

namespace {

std::string newlineText(CSVWriter::Newline newline)
{
    return newline == CSVWriter::Newline::crlf ? "\r\n" : "\n";
}

struct ByteInput {
    std::string_view bytes;
    std::size_t position = 0;
    std::optional<std::uint8_t> next()
    {
        if (position >= bytes.size())
            return std::nullopt;
        return static_cast<std::uint8_t>(bytes[position++]);
    }
};

// Calls `visit` with each scalar of UTF-8 `text`; U+FFFD for what is invalid.
template <class Visit> void forEachScalar(std::string_view text, Visit &&visit)
{
    ByteInput input{text};
    UTF8Codec codec;
    for (;;) {
        const DecodingResult result = codec.decode(input);
        if (result.kind == DecodingResult::Kind::emptyInput)
            return;
        visit(result.kind == DecodingResult::Kind::scalar ? result.scalar : char32_t{0xFFFD});
    }
}

bool needsQuotes(std::string_view field, std::string_view delimiter)
{
    if (field.find_first_of("\"\r\n") != std::string_view::npos)
        return true;
    return !delimiter.empty() && field.find(delimiter) != std::string_view::npos;
}

} // namespace

CSVWriter::CSVWriter(std::shared_ptr<OutputStream> stream, Encoding encoding, Endian endian,
                     std::string delimiter, Newline newline)
    : stream_(std::move(stream)), configuration_{std::move(delimiter), newlineText(newline)},
      encoding_(encoding), bigEndian_(endian == Endian::big)
{
    if (stream_ && stream_->status() == StreamStatus::notOpen)
        stream_->open();
    if (!stream_ || stream_->status() != StreamStatus::open)
        throw CSVError(CSVError::Code::cannotOpenFile);
}

CSVWriter::CSVWriter(std::shared_ptr<OutputStream> stream, std::string delimiter, Newline newline)
    : CSVWriter(std::move(stream), Encoding::utf8, Endian::unknown, std::move(delimiter), newline)
{
}

CSVWriter::CSVWriter(std::shared_ptr<OutputStream> stream, UTF8Codec, std::string delimiter,
                     Newline newline)
    : CSVWriter(std::move(stream), Encoding::utf8, Endian::unknown, std::move(delimiter), newline)
{
}

CSVWriter::CSVWriter(std::shared_ptr<OutputStream> stream, UTF16Codec, Endian endian,
                     std::string delimiter, Newline newline)
    : CSVWriter(std::move(stream), Encoding::utf16, endian, std::move(delimiter), newline)
{
}

CSVWriter::CSVWriter(std::shared_ptr<OutputStream> stream, UTF32Codec, Endian endian,
                     std::string delimiter, Newline newline)
    : CSVWriter(std::move(stream), Encoding::utf32, endian, std::move(delimiter), newline)
{
}

CSVWriter::~CSVWriter()
{
    if (stream_->status() == StreamStatus::open)
        stream_->close();
}

void CSVWriter::writeField(std::string_view field, bool quoted)
{
    if (isFirstRow_)
        isFirstRow_ = false;
    else if (isFirstField_)
        writeText(configuration_.newline);
    if (isFirstField_)
        isFirstField_ = false;
    else
        writeText(configuration_.delimiter);

    if (!quoted && !needsQuotes(field, configuration_.delimiter)) {
        writeText(field);
        return;
    }
    writeScalar(U'"');
    forEachScalar(field, [this](char32_t scalar) {
        if (scalar == U'"')
            writeScalar(U'"');
        writeScalar(scalar);
    });
    writeScalar(U'"');
}

void CSVWriter::writeText(std::string_view text)
{
    forEachScalar(text, [this](char32_t scalar) { writeScalar(scalar); });
}

void CSVWriter::writeScalar(char32_t scalar)
{
    // Code units of the scalar, each in its bytes in stream order.
    std::array<std::array<std::uint8_t, 4>, 4> units;
    std::size_t unitCount = 0;
    std::size_t width = 1;
    const auto put = [&](std::uint32_t unit) {
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t shift = 8 * (bigEndian_ ? width - 1 - i : i);
            units[unitCount][i] = static_cast<std::uint8_t>(unit >> shift);
        }
        ++unitCount;
    };
    switch (encoding_) {
    case Encoding::utf8:
        if (scalar < 0x80) {
            put(scalar);
        } else if (scalar < 0x800) {
            put(0xC0 | scalar >> 6);
            put(0x80 | (scalar & 0x3F));
        } else if (scalar < 0x10000) {
            put(0xE0 | scalar >> 12);
            put(0x80 | (scalar >> 6 & 0x3F));
            put(0x80 | (scalar & 0x3F));
        } else {
            put(0xF0 | scalar >> 18);
            put(0x80 | (scalar >> 12 & 0x3F));
            put(0x80 | (scalar >> 6 & 0x3F));
            put(0x80 | (scalar & 0x3F));
        }
        break;
    case Encoding::utf16:
        width = 2;
        if (scalar < 0x10000) {
            put(scalar);
        } else {
            put(0xD800 + ((scalar - 0x10000) >> 10));
            put(0xDC00 + ((scalar - 0x10000) & 0x3FF));
        }
        break;
    case Encoding::utf32:
        width = 4;
        put(scalar);
        break;
    }

    // A short write fails the scalar, but its other units are still offered.
    bool failed = false;
    for (std::size_t i = 0; i < unitCount; ++i) {
        if (stream_->write(units[i].data(), width) != static_cast<std::ptrdiff_t>(width))
            failed = true;
    }
    if (failed)
        throw CSVError(CSVError::Code::cannotWriteStream);
}

} // namespace corvane
