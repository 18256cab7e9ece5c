#pragma once

#include "csv/Date.h"

#include <QByteArray>
#include <QUrl>

#include <concepts>
#include <type_traits>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

// How the row decoder reads field text as values. Each answers nothing when
// the text is refused; the decoder turns that into its error. Nothing here
// trims the text or depends on the user's locale.
namespace corvane {

// "true" or "false", exactly.
std::optional<bool> parseBool(std::string_view text);

// Decimal or hexadecimal notation, exponents, "inf" and "nan", with "." as
// the decimal point. The whole text must be the number: no white space
// before or after, and a NUL inside refuses it. A magnitude beyond the
// type's range gives infinity, one too small for it gives zero or a
// subnormal number, as the C library rounds it.
std::optional<double> parseDouble(const std::string &text);
std::optional<float> parseFloat(const std::string &text);

// An optional "+" or "-" and one or more digits 0-9, nothing else, in the
// range of `T`. "-0" is 0 for unsigned types too.
template <std::integral T> std::optional<T> parseInteger(std::string_view text)
{
    std::size_t position = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        position = 1;
    }
    if (position == text.size())
        return std::nullopt;
    // The magnitude is gathered unsigned; the negative range of a signed
    // type reaches one further than its positive range.
    using Magnitude = std::make_unsigned_t<T>;
    const Magnitude limit =
        negative ? (std::is_signed_v<T> ? Magnitude(std::numeric_limits<T>::max()) + 1 : 0)
                 : Magnitude(std::numeric_limits<T>::max());
    Magnitude magnitude = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c < '0' || c > '9')
            return std::nullopt;
        const auto digit = static_cast<Magnitude>(c - '0');
        if (digit > limit || magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = static_cast<Magnitude>(magnitude * 10 + digit);
    }
    if constexpr (std::is_signed_v<T>) {
        if (negative && magnitude > 0)
            return static_cast<T>(-static_cast<T>(magnitude - 1) - 1);
    }
    return static_cast<T>(magnitude);
}

// RFC 4648 base64 with its "=" padding, which is required: the length is a
// multiple of four, and no white space or line break may stand anywhere.
std::optional<QByteArray> parseBase64(std::string_view text);

// The internet date-time: YYYY-MM-DDTHH:MM:SS then "Z" or an offset ±HH:MM,
// with no fractions of a second. "T" and "Z" are upper case only.
std::optional<Date> parseISO8601Date(std::string_view text);

// A URL in Qt's strict mode; the empty text and invalid URLs give none.
std::optional<QUrl> parseURL(std::string_view text);

// A snake_case header name as a camelCase key: the runs between "_" are
// joined, the first lower-cased and the others capitalised, and the leading
// and trailing underscores kept; a name with fewer than two runs stays as it
// is. first_name gives firstName, URL_path gives urlPath, _user__ID_ gives
// _userId_.
std::string convertFromSnakeCase(std::string_view name);

// The text in Unicode normalisation form C, so that canonically equivalent
// texts compare equal.
std::string canonicalForm(std::string_view text);

} // namespace corvane
