#pragma once

#include <concepts>
#include <cstdint>
#include <optional>

namespace corvane {

// One step of a decoder: a scalar, the end of the input, or one invalid
// sequence taken off the input.
struct DecodingResult {
    enum class Kind { scalar, emptyInput, error };
    Kind kind;
    char32_t scalar = 0;

    static DecodingResult of(char32_t scalar) { return {Kind::scalar, scalar}; }
    static DecodingResult emptyInput() { return {Kind::emptyInput}; }
    static DecodingResult error() { return {Kind::error}; }
};

template <class Input, class CodeUnit>
concept CodeUnitInput = requires(Input &input)
{
    {
        input.next()
        } -> std::same_as<std::optional<CodeUnit>>;
};

// The decoders take one invalid sequence per error: the longest start of a
// well-formed sequence (its maximal subpart), at least one unit. A unit that
// cannot continue a sequence is not part of its error: it is held back and
// starts the next step. Nothing else is remembered between steps.

// The one unit a codec may hold back for its next step.
template <class CodeUnit> class HeldBackUnit {
public:
    // The held-back unit if there is one, else the input's next.
    template <CodeUnitInput<CodeUnit> Input> std::optional<CodeUnit> take(Input &input)
    {
        if (unit_ < 0) [[likely]]
            return input.next();
        const auto unit = static_cast<CodeUnit>(unit_);
        unit_ = -1;
        return unit;
    }
    void holdBack(CodeUnit unit) { unit_ = unit; }
    bool holds() const { return unit_ >= 0; }

private:
    std::int32_t unit_ = -1;
};

class UTF8Codec {
public:
    using CodeUnit = std::uint8_t;

    template <CodeUnitInput<CodeUnit> Input> DecodingResult decode(Input &input)
    {
        const std::optional<std::uint8_t> first = heldBack_.take(input);
        if (!first)
            return DecodingResult::emptyInput();
        const std::uint8_t lead = *first;
        if (lead < 0x80)
            return DecodingResult::of(lead);

        int trailing;
        std::uint8_t low = 0x80, high = 0xBF; // the range of the second byte
        char32_t scalar;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trailing = 1;
            scalar = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trailing = 2;
            scalar = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0; // no overlong forms
            else if (lead == 0xED)
                high = 0x9F; // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trailing = 3;
            scalar = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F; // nothing beyond U+10FFFF
        } else {
            return DecodingResult::error();
        }
        for (int i = 0; i < trailing; ++i) {
            const auto unit = input.next();
            if (!unit)
                return DecodingResult::error();
            if (*unit < low || *unit > high) {
                heldBack_.holdBack(*unit);
                return DecodingResult::error();
            }
            scalar = scalar << 6 | (*unit & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        return DecodingResult::of(scalar);
    }

    // Whether a unit taken off the input waits for the next step.
    bool holdsBackUnit() const { return heldBack_.holds(); }

private:
    HeldBackUnit<CodeUnit> heldBack_;
};

class UTF16Codec {
public:
    using CodeUnit = std::uint16_t;

    template <CodeUnitInput<CodeUnit> Input> DecodingResult decode(Input &input)
    {
        const std::optional<std::uint16_t> first = heldBack_.take(input);
        if (!first)
            return DecodingResult::emptyInput();
        const std::uint16_t unit = *first;
        if (unit < 0xD800 || unit > 0xDFFF)
            return DecodingResult::of(unit);
        if (unit >= 0xDC00)
            return DecodingResult::error(); // a low surrogate alone
        const auto low = input.next();
        if (!low)
            return DecodingResult::error();
        if (*low < 0xDC00 || *low > 0xDFFF) {
            heldBack_.holdBack(*low);
            return DecodingResult::error();
        }
        return DecodingResult::of(0x10000 + ((char32_t{unit} - 0xD800) << 10) + (*low - 0xDC00));
    }

    bool holdsBackUnit() const { return heldBack_.holds(); }

private:
    HeldBackUnit<CodeUnit> heldBack_;
};

class UTF32Codec {
public:
    using CodeUnit = std::uint32_t;

    template <CodeUnitInput<CodeUnit> Input> DecodingResult decode(Input &input)
    {
        const auto unit = input.next();
        if (!unit)
            return DecodingResult::emptyInput();
        if (*unit > 0x10FFFF || (*unit >= 0xD800 && *unit <= 0xDFFF))
            return DecodingResult::error();
        return DecodingResult::of(*unit);
    }

    bool holdsBackUnit() const { return false; }
};

} // namespace corvane
