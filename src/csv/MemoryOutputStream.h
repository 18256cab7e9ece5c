#pragma once

#include "csv/OutputStream.h"

#include <string>

namespace corvane {

// Collects the bytes written in memory.
class MemoryOutputStream final : public OutputStream {
public:
    void open() override;
    void close() override;

    // Everything written so far; it stays readable after closing.
    const std::string &data() const { return bytes_; }

private:
    std::ptrdiff_t writeOpen(const std::uint8_t *bytes, std::size_t length) override;
    std::string bytes_;
};

} // namespace corvane
