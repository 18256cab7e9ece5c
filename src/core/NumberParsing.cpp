#include "core/NumberParsing.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace corvane {
namespace {

// Made once and kept: the process's own locale may use a decimal comma.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return locale;
}

bool startsWithSpaceOrNul(char first)
{
    switch (first) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case '\0': return true;
    default: return false;
    }
}

} // namespace

std::optional<double> parseCDouble(std::string_view text)
{
    // `strtod` would skip leading white space itself.
    if (text.empty() || startsWithSpaceOrNul(text.front()))
        return std::nullopt;
    // Plain decimals, the common case, without the C library's slower
    // conversion; both round correctly, so the value is the same. Whatever
    // this does not take whole (a sign "+", hexadecimal, a value out of
    // range) goes to `strtod`.
    double fast = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), fast);
    if (error == std::errc() && stop == text.data() + text.size())
        return fast;

    const locale_t locale = cLocale();
    if (locale == locale_t(nullptr))
        return std::nullopt;

    // `strtod` needs a terminated string; most numbers fit the small buffer.
    char small[64];
    std::string large;
    const char *begin = small;
    if (text.size() < sizeof small) {
        std::memcpy(small, text.data(), text.size());
        small[text.size()] = '\0';
    } else {
        large.assign(text);
        begin = large.c_str();
    }
    char *end = nullptr;
    const double value = strtod_l(begin, &end, locale);
    // An embedded NUL stops `strtod` early, so it shows here as text left over.
    if (end != begin + text.size())
        return std::nullopt;
    return value;
}

} // namespace corvane
