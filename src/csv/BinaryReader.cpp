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

// UTF-32 little-endian before UTF-16 little-endian: FF FE 00 00 is a 4-byte mark.
constexpr std::array<ByteOrderMark, 5> byteOrderMarks{{
    {{0x00, 0x00, 0xFE, 0xFF}, 4, Endian::big},
    {{0xFF, 0xFE, 0x00, 0x00}, 4, Endian::little},
    {{0xEF, 0xBB, 0xBF, 0x00}, 3, Endian::unknown},
    {{0xFE, 0xFF, 0x00, 0x00}, 2, Endian::big},
    {{0xFF, 0xFE, 0x00, 0x00}, 2, Endian::little},
}};

const ByteOrderMark *findMark(const std::uint8_t *bytes, std::ptrdiff_t count)
{
    for (const ByteOrderMark &mark : byteOrderMarks) {
        if (count >= mark.length && std::equal(bytes, bytes + mark.length, mark.bytes.begin()))
            return &mark;
    }
    return nullptr;
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
                                                 std::optional<Endian> requestedEndian)
{
    if (stream->status() == StreamStatus::notOpen)
        stream->open();
    if (stream->status() != StreamStatus::open)
        throw CSVError(CSVError::Code::cannotOpenFile);

    std::shared_ptr<BinaryReader> reader(new BinaryReader(std::move(stream)));
    const std::ptrdiff_t count = reader->stream_->read(reader->buffer_.get(), capacity);
    if (count < 0)
        throw CSVError(CSVError::Code::cannotReadFile);
    reader->count_ = count;

    const ByteOrderMark *mark = findMark(reader->buffer_.get(), count);
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
