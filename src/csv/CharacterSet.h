#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

// A set of Unicode scalars, kept as ranges; ASCII answers from a bitmap.
class CharacterSet {
public:
    CharacterSet() = default;
    CharacterSet(std::initializer_list<char32_t> scalars);
    explicit CharacterSet(std::u32string_view scalars);

    void insert(char32_t scalar) { insert(scalar, scalar); }
    // Inserts first...last, both included.
    void insert(char32_t first, char32_t last);
    void remove(char32_t scalar);

    bool contains(char32_t scalar) const
    {
        if (scalar < 128)
            return (ascii_[scalar >> 6] >> (scalar & 63)) & 1;
        return containsBeyondAscii(scalar);
    }

    friend bool operator==(const CharacterSet &, const CharacterSet &) = default;

private:
    bool containsBeyondAscii(char32_t scalar) const;
    void updateAscii();

    std::vector<std::pair<char32_t, char32_t>> ranges_; // sorted, disjoint, not adjacent
    std::array<std::uint64_t, 2> ascii_{};
};

} // namespace corvane
