#include "csv/CharacterSet.h"

#include <algorithm>

namespace corvane {

CharacterSet::CharacterSet(std::initializer_list<char32_t> scalars)
{
    for (char32_t scalar : scalars)
        insert(scalar);
}

CharacterSet::CharacterSet(std::u32string_view scalars)
{
    for (char32_t scalar : scalars)
        insert(scalar);
}

void CharacterSet::insert(char32_t first, char32_t last)
{
    if (first > last)
        return;
    // Merges every range that overlaps or touches first...last.
    auto begin = std::lower_bound(
        ranges_.begin(), ranges_.end(), first,
        [](const auto &range, char32_t value) { return std::uint64_t{range.second} + 1 < value; });
    auto end = begin;
    while (end != ranges_.end() && end->first <= std::uint64_t{last} + 1) {
        first = std::min(first, end->first);
        last = std::max(last, end->second);
        ++end;
    }
    const auto at = ranges_.erase(begin, end);
    ranges_.insert(at, {first, last});
    updateAscii();
}

void CharacterSet::remove(char32_t scalar)
{
    auto range =
        std::upper_bound(ranges_.begin(), ranges_.end(), scalar,
                         [](char32_t value, const auto &range) { return value < range.first; });
    if (range == ranges_.begin())
        return;
    --range;
    if (scalar > range->second)
        return;
    const auto [first, last] = *range;
    range = ranges_.erase(range);
    if (scalar < last)
        range = ranges_.insert(range, {scalar + 1, last});
    if (first < scalar)
        ranges_.insert(range, {first, scalar - 1});
    updateAscii();
}

bool CharacterSet::containsBeyondAscii(char32_t scalar) const
{
    auto range =
        std::upper_bound(ranges_.begin(), ranges_.end(), scalar,
                         [](char32_t value, const auto &range) { return value < range.first; });
    return range != ranges_.begin() && scalar <= std::prev(range)->second;
}

void CharacterSet::updateAscii()
{
    ascii_ = {};
    for (const auto &[first, last] : ranges_) {
        for (char32_t scalar = first; scalar <= last && scalar < 128; ++scalar)
            ascii_[scalar >> 6] |= std::uint64_t{1} << (scalar & 63);
    }
}

} // namespace corvane
