#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

enum class StreamStatus { notOpen, open, atEnd, closed, error };

// A source of bytes read once, in order: a file, a block of memory.
class InputStream {
public:
    virtual ~InputStream() = default;

    virtual void open() = 0;
    // Reads up to `maxLength` bytes into `buffer`: the count read, 0 at the
    // end, negative on failure or when the stream is not open.
    std::ptrdiff_t read(std::uint8_t *buffer, std::size_t maxLength)
    {
        if (status_ == StreamStatus::atEnd || maxLength == 0)
            return 0;
        if (status_ != StreamStatus::open)
            return -1;
        return readOpen(buffer, maxLength);
    }
    // Whether a read would give bytes (or report a failure) rather than the end.
    virtual bool hasBytesAvailable() = 0;
    virtual void close() = 0;

    StreamStatus status() const { return status_; }
    // The stream's account of its failure; none when it has nothing to say.
    const std::optional<std::string> &streamError() const { return streamError_; }

protected:
    // `read` on an open stream, for at least one byte.
    virtual std::ptrdiff_t readOpen(std::uint8_t *buffer, std::size_t maxLength) = 0;
    void setStatus(StreamStatus status) { status_ = status; }
    void fail(std::string description)
    {
        status_ = StreamStatus::error;
        streamError_ = std::move(description);
    }

private:
    StreamStatus status_ = StreamStatus::notOpen;
    std::optional<std::string> streamError_;
};

} // namespace corvane
