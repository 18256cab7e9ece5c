#pragma once

#include <optional>
#include <string>

namespace corvane {

enum class StreamStatus { notOpen, open, atEnd, closed, error };

// What input and output streams share: opening, closing and their state.
class Stream {
public:
    virtual ~Stream() = default;

    virtual void open() = 0;
    virtual void close() = 0;

    StreamStatus status() const { return status_; }
    // The stream's account of its failure; none when it has nothing to say.
    const std::optional<std::string> &streamError() const { return streamError_; }

protected:
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
