#pragma once

#include "csv/CSVError.h"
#include "csv/Endian.h"
#include "csv/InputStream.h"
#include "csv/Sequence.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace corvane {

// Buffered reading of a stream's bytes, with the byte-order mark found once,
// at the start. Its iterators hand out 8-, 16- or 32-bit code units.
class BinaryReader {
public:
    static constexpr std::ptrdiff_t capacity = 65535;

    template <class CodeUnit> class CodeUnitIterator;
    using UInt8Iterator = CodeUnitIterator<std::uint8_t>;
    using UInt16Iterator = CodeUnitIterator<std::uint16_t>;
    using UInt32Iterator = CodeUnitIterator<std::uint32_t>;

    // Opens the stream when it is not open yet, reads the first buffer-load
    // and skips a byte-order mark. 8-bit text passes no byte order; 16- and
    // 32-bit text the one expected (`unknown`: whatever the mark says) and
    // the size of its code unit.
    // Throws `cannotOpenFile`, `cannotReadFile` or `stringEndianMismatch`.
    static std::shared_ptr<BinaryReader> open(std::shared_ptr<InputStream> stream,
                                              std::optional<Endian> requestedEndian = std::nullopt,
                                              std::size_t codeUnitSize = 1);

    ~BinaryReader();
    BinaryReader(const BinaryReader &) = delete;
    BinaryReader &operator=(const BinaryReader &) = delete;

    InputStream &stream() const { return *stream_; }
    Endian endian() const { return endian_; }
    bool closeOnDeinit() const { return closeOnDeinit_; }
    void setCloseOnDeinit(bool close) { closeOnDeinit_ = close; }

    // Each throws a `CSVError` when the stream fails or ends before the unit is whole.
    std::uint8_t readUInt8();
    std::uint16_t readUInt16() { return readWide<std::uint16_t>(); }
    std::uint32_t readUInt32() { return readWide<std::uint32_t>(); }

    // The bytes read from the stream and not taken yet; nothing more is read.
    std::string_view bufferedBytes() const
    {
        return {reinterpret_cast<const char *>(buffer_.get()) + position_,
                static_cast<std::size_t>(count_ - position_)};
    }
    void skipBufferedBytes(std::size_t count) { position_ += static_cast<std::ptrdiff_t>(count); }

private:
    explicit BinaryReader(std::shared_ptr<InputStream> stream);
    void refill();
    template <class CodeUnit> CodeUnit readWide();
    // The end of the input: nothing buffered, and the stream says so too.
    bool atEnd() { return count_ - position_ < 1 && !stream_->hasBytesAvailable(); }

    std::shared_ptr<InputStream> stream_;
    Endian endian_ = Endian::unknown;
    bool closeOnDeinit_ = false;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::ptrdiff_t count_ = 0;
    std::ptrdiff_t position_ = 0;
};

// The code units of a reader's text, one width per encoding form. An error
// ends the sequence and goes to the error handler; asked again, the iterator
// asks the stream again.
template <class CodeUnit>
class BinaryReader::CodeUnitIterator : public Sequence<CodeUnitIterator<CodeUnit>> {
public:
    using Unit = CodeUnit;

    explicit CodeUnitIterator(std::shared_ptr<BinaryReader> reader) : reader_(std::move(reader)) {}

    const std::shared_ptr<BinaryReader> &reader() const { return reader_; }
    void setErrorHandler(CSVErrorHandler handler) { errorHandler_ = std::move(handler); }

    std::optional<CodeUnit> next()
    {
        BinaryReader &reader = *reader_;
        if constexpr (sizeof(CodeUnit) == 1) {
            if (reader.position_ < reader.count_) [[likely]]
                return reader.buffer_[reader.position_++];
        }
        if (reader.atEnd())
            return std::nullopt;
        try {
            if constexpr (sizeof(CodeUnit) == 1)
                return reader.readUInt8();
            else
                return reader.readWide<CodeUnit>();
        } catch (const CSVError &error) {
            if (errorHandler_)
                errorHandler_(error);
            return std::nullopt;
        }
    }

private:
    std::shared_ptr<BinaryReader> reader_;
    CSVErrorHandler errorHandler_;
};

template <class CodeUnit> CodeUnit BinaryReader::readWide()
{
    CodeUnit value = 0;
    for (std::size_t i = 0; i < sizeof(CodeUnit); ++i) {
        if (position_ >= count_) {
            refill();
            if (count_ == 0)
                throw CSVError(CSVError::Code::stringEncodingMismatch);
        }
        const std::uint32_t byte = buffer_[position_++];
        if (endian_ == Endian::big)
            value = static_cast<CodeUnit>(std::uint32_t{value} << 8 | byte);
        else
            value = static_cast<CodeUnit>(value | byte << (8 * i));
    }
    if (endian_ == Endian::unknown)
        throw CSVError(CSVError::Code::stringEndianMismatch);
    return value;
}

} // namespace corvane
