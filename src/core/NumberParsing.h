#pragma once

#include <optional>
#include <string_view>

namespace corvane {

// `text` read as one floating-point number in the C locale's `strtod`
// syntax: decimal with an optional exponent, hexadecimal, "inf",
// "infinity" and "nan" in any case, an optional sign. The whole text must
// be the number: empty text, leading white space or NUL, and anything left
// over (trailing space or an embedded NUL included) give nothing. Values
// beyond the range of a double read as `strtod` reads them (infinity, or a
// subnormal or zero). The user's locale plays no part.
std::optional<double> parseCDouble(std::string_view text);

} // namespace corvane
