#include "csv/BinaryReader.h"

#include <algorithm>
#include <array>

namespace corvane {

namespace {

struct ByteOrderMark {
    std::array<std::uint8_t, 4> bytes;
    std::ptrdiff_t length;
    Endian endian;
};

// Longest first: FF FE 00 00 is a 4-byte mark where both forms apply.
constexpr std::array<ByteOrderMark, 5> byteOrderMarks{{
    {{0x00, 0x00, 0xFE, 0xFF}, 4, Endian::big},
    {{0xFF, 0xFE, 0x00, 0x00}, 4, Endian::little},
    {{0xEF, 0xBB, 0xBF, 0x00}, 3, Endian::unknown},
    {{0xFE, 0xFF, 0x00, 0x00}, 2, Endian::big},
    {{0xFF, 0xFE, 0x00, 0x00}, 2, Endian::little},
}};

// Wide text takes only the marks of its own code-unit width: to a 16-bit
// reader FF FE 00 00 is a mark and the character U+0000. 8-bit text skips a
// mark of any width (none of them is UTF-8 text).
bool appliesTo(const ByteOrderMark &mark, std::size_t codeUnitSize)
{
    if (codeUnitSize == 1)
        return true;
    return mark.length == static_cast<std::ptrdiff_t>(codeUnitSize) &&
           mark.endian != Endian::unknown;
}

const ByteOrderMark *findMark(const std::uint8_t *bytes, std::ptrdiff_t count,
                              std::size_t codeUnitSize)
{
    for (const ByteOrderMark &mark : byteOrderMarks) {
        if (appliesTo(mark, codeUnitSize) && count >= mark.length &&
            std::equal(bytes, bytes + mark.length, mark.bytes.begin()))
            return &mark;
    }
    return nullptr;
}

// Whether more bytes could still make or lengthen a mark.
bool markUndecided(const std::uint8_t *bytes, std::ptrdiff_t count, std::size_t codeUnitSize)
{
    return std::any_of(byteOrderMarks.begin(), byteOrderMarks.end(),
                       [&](const ByteOrderMark &mark) {
                           return appliesTo(mark, codeUnitSize) && count < mark.length &&
                                  std::equal(bytes, bytes + count, mark.bytes.begin());
                       });
}

} // namespace

BinaryReader::BinaryReader(std::shared_ptr<InputStream> stream)
    : stream_(std::move(stream)), buffer_(std::make_unique<std::uint8_t[]>(capacity))
{
}

BinaryReader::~BinaryReader()
{
    if (closeOnDeinit_ && stream_->status() != StreamStatus::closed)
        stream_->close();
}

std::shared_ptr<BinaryReader> BinaryReader::open(std::shared_ptr<InputStream> stream,
                                                 std::optional<Endian> requestedEndian,
                                                 std::size_t codeUnitSize)
{
    if (stream->status() == StreamStatus::notOpen)
        stream->open();
    if (stream->status() != StreamStatus::open)
        throw CSVError(CSVError::Code::cannotOpenFile);

    std::shared_ptr<BinaryReader> reader(new BinaryReader(std::move(stream)));
    std::uint8_t *buffer = reader->buffer_.get();
    std::ptrdiff_t count = 0;
    // A pipe may hand over fewer bytes than a mark: read on until it is told.
    do {
        const std::ptrdiff_t read = reader->stream_->read(buffer + count, capacity - count);
        if (read < 0)
            throw CSVError(CSVError::Code::cannotReadFile);
        if (read == 0)
            break;
        count += read;
    } while (markUndecided(buffer, count, codeUnitSize));
    reader->count_ = count;

    const ByteOrderMark *mark = findMark(buffer, count, codeUnitSize);
    if (!requestedEndian) {
        // 8-bit text skips any mark and is still decoded as UTF-8.
        if (mark) {
            reader->position_ = mark->length;
            reader->endian_ = mark->endian;
        }
    } else if (mark) {
        if (*requestedEndian != Endian::unknown && *requestedEndian != mark->endian)
            throw CSVError(CSVError::Code::stringEndianMismatch);
        reader->endian_ = mark->endian;
        reader->position_ = mark->length;
    } else {
        reader->endian_ = *requestedEndian;
    }
    reader->closeOnDeinit_ = true;
    return reader;
}

void BinaryReader::refill()
{
    const std::ptrdiff_t count = stream_->read(buffer_.get(), capacity);
    if (count < 0) {
        if (const auto &error = stream_->streamError())
            throw CSVError::streamErrorHasOccurred(*error);
        throw CSVError(CSVError::Code::cannotReadFile);
    }
    count_ = count;
    position_ = 0;
}

std::uint8_t BinaryReader::readUInt8()
{
    if (position_ >= count_) {
        refill();
        if (count_ == 0)
            throw CSVError(CSVError::Code::cannotReadFile);
    }
    return buffer_[position_++];
}

} // namespace corvane
