#pragma once

#include "csv/InputStream.h"

namespace corvane {

// Reads a block of bytes held in memory.
class MemoryInputStream final : public InputStream {
public:
    explicit MemoryInputStream(std::string bytes);

    void open() override;
    bool hasBytesAvailable() override;
    void close() override;

private:
    std::ptrdiff_t readOpen(std::uint8_t *buffer, std::size_t maxLength) override;
    std::string bytes_;
    std::size_t offset_ = 0;
};

} // namespace corvane
