#pragma once

#include <cstdint>

namespace corvane {

// The word-sized integers of records. They are 64 bits wide like
// std::int64_t and std::uint64_t, but types of their own, so that a decoding
// message names "Int" or "UInt" when the record asked for one, and "Int64" or
// "UInt64" when it asked for the fixed-width type.
struct Int {
    constexpr Int() = default;
    constexpr Int(std::int64_t value) : value(value) {}
    constexpr operator std::int64_t() const { return value; }
    std::int64_t value = 0;
};

struct UInt {
    constexpr UInt() = default;
    constexpr UInt(std::uint64_t value) : value(value) {}
    constexpr operator std::uint64_t() const { return value; }
    std::uint64_t value = 0;
};

} // namespace corvane
