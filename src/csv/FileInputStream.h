#pragma once

#include "csv/InputStream.h"

#include <filesystem>

namespace corvane {

// Reads a file through a POSIX descriptor. Whether bytes remain is answered
// exactly: at the end of the buffered data one byte is read ahead and kept,
// so a pipe or a file that grows is told apart from its end as well.
class FileInputStream final : public InputStream {
public:
    explicit FileInputStream(std::filesystem::path path);
    // Over a descriptor the caller opened (and vetted); the stream owns it.
    FileInputStream(std::filesystem::path path, int descriptor);
    ~FileInputStream() override;
    FileInputStream(const FileInputStream &) = delete;
    FileInputStream &operator=(const FileInputStream &) = delete;

    void open() override;
    bool hasBytesAvailable() override;
    void close() override;

    const std::filesystem::path &path() const { return path_; }

private:
    std::ptrdiff_t readOpen(std::uint8_t *buffer, std::size_t maxLength) override;
    std::ptrdiff_t readFromDescriptor(std::uint8_t *buffer, std::size_t maxLength);

    std::filesystem::path path_;
    int descriptor_ = -1;
    std::optional<std::uint8_t> lookAhead_;
};

} // namespace corvane
