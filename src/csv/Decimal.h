#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// A decimal number kept exactly as its text gave it: the value is
// (negative ? -1 : 1) × significand × 10^exponent. It is kept normalised, so
// equal numbers compare equal: no leading or trailing zeros in the
// significand, and zero is "0" with exponent 0 and no sign.
struct Decimal {
    // Reads `[+-]?digits[.digits]`, "." being the decimal point; nothing
    // else is accepted, not even surrounding spaces.
    static std::optional<Decimal> fromString(std::string_view text);

    // The plain decimal notation: "-12.5", "1500", "0.001".
    std::string toString() const;
    // The nearest double.
    double toDouble() const;

    friend bool operator==(const Decimal &, const Decimal &) = default;

    bool negative = false;
    std::string significand = "0";
    std::int64_t exponent = 0;
};

} // namespace corvane
