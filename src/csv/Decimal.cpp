#include "csv/Decimal.h"

#include "csv/CSVValueConversion.h"

namespace corvane {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::size_t digitRun(std::string_view text, std::size_t from)
{
    std::size_t end = from;
    while (end < text.size() && isDigit(text[end]))
        ++end;
    return end - from;
}

} // namespace

std::optional<Decimal> Decimal::fromString(std::string_view text)
{
    Decimal decimal;
    std::size_t position = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        decimal.negative = text[0] == '-';
        position = 1;
    }
    const std::size_t integerDigits = digitRun(text, position);
    if (integerDigits == 0)
        return std::nullopt;
    std::string digits(text.substr(position, integerDigits));
    position += integerDigits;
    std::size_t fractionDigits = 0;
    if (position < text.size() && text[position] == '.') {
        fractionDigits = digitRun(text, position + 1);
        if (fractionDigits == 0)
            return std::nullopt;
        digits.append(text.substr(position + 1, fractionDigits));
        position += 1 + fractionDigits;
    }
    if (position != text.size())
        return std::nullopt;

    std::int64_t exponent = -static_cast<std::int64_t>(fractionDigits);
    const std::size_t last = digits.find_last_not_of('0');
    if (last == std::string::npos)
        return Decimal(); // zero, whatever its sign
    exponent += static_cast<std::int64_t>(digits.size() - 1 - last);
    digits.erase(last + 1);
    digits.erase(0, digits.find_first_not_of('0'));
    decimal.significand = std::move(digits);
    decimal.exponent = exponent;
    return decimal;
}

std::string Decimal::toString() const
{
    std::string text = negative ? "-" : "";
    if (exponent >= 0)
        return text + significand + std::string(static_cast<std::size_t>(exponent), '0');
    const auto fraction = static_cast<std::size_t>(-exponent);
    if (fraction >= significand.size())
        return text + "0." + std::string(fraction - significand.size(), '0') + significand;
    return text + significand.substr(0, significand.size() - fraction) + "." +
           significand.substr(significand.size() - fraction);
}

double Decimal::toDouble() const
{
    const std::string scientific =
        (negative ? "-" : "") + significand + "e" + std::to_string(exponent);
    return parseDouble(scientific).value_or(0.0);
}

} // namespace corvane
