#pragma once

#include <exception>
#include <functional>
#include <string>

namespace corvane {

// The one error type of the CSV toolkit. Opening an input throws it; errors
// met while reading end the input and are kept by the reader instead.
class CSVError : public std::exception {
public:
    enum class Code {
        streamErrorHasOccurred,
        cannotOpenFile,
        cannotReadFile,
        cannotWriteStream,
        unicodeDecoding,
        cannotReadHeaderRow,
        stringEncodingMismatch,
        stringEndianMismatch,
    };

    explicit CSVError(Code code);
    // A failed read, with the stream's own account of it.
    static CSVError streamErrorHasOccurred(std::string streamError);

    Code code() const noexcept { return code_; }
    // Empty unless the code is `streamErrorHasOccurred`.
    const std::string &streamError() const noexcept { return streamError_; }
    // One English sentence, fit for an alert.
    const std::string &description() const noexcept { return description_; }
    const char *what() const noexcept override { return description_.c_str(); }

    friend bool operator==(const CSVError &a, const CSVError &b)
    {
        return a.code_ == b.code_ && a.streamError_ == b.streamError_;
    }

private:
    CSVError(Code code, std::string streamError);

    Code code_;
    std::string streamError_;
    std::string description_;
};

// Told of the error that ended a sequence.
using CSVErrorHandler = std::function<void(const CSVError &)>;

} // namespace corvane
