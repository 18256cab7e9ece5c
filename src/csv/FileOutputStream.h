#pragma once

#include "csv/OutputStream.h"

#include <filesystem>
#include <vector>

namespace corvane {

// Writes a file through a POSIX descriptor, replacing what it held. Writes
// are gathered in a buffer, so a failure to pass them on is reported by the
// write that fills it, or by `close()`: check `status()` after closing.
class FileOutputStream final : public OutputStream {
public:
    explicit FileOutputStream(std::filesystem::path path);
    ~FileOutputStream() override;
    FileOutputStream(const FileOutputStream &) = delete;
    FileOutputStream &operator=(const FileOutputStream &) = delete;

    void open() override;
    // Passes the buffered bytes on; on failure the status is `error`.
    void close() override;

    const std::filesystem::path &path() const { return path_; }

private:
    std::ptrdiff_t writeOpen(const std::uint8_t *bytes, std::size_t length) override;
    bool flush();

    std::filesystem::path path_;
    int descriptor_ = -1;
    std::vector<std::uint8_t> buffer_;
};

} // namespace corvane
