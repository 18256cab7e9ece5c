#include "csv/CSVValueConversion.h"

#include <QString>

#include <chrono>
#include <cstdlib>
#include <locale.h>
#include <vector>

namespace corvane {

namespace {

// The one "C" locale the number conversions use, whatever the user's is.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return locale;
}

template <class Number>
std::optional<Number> parseFloatingPoint(const std::string &text,
                                         Number (*convert)(const char *, char **, locale_t))
{
    // The conversion would skip leading white space itself.
    if (text.empty() || std::string_view(" \t\n\v\f\r").find(text[0]) != std::string_view::npos)
        return std::nullopt;
    char *end = nullptr;
    const Number value = convert(text.c_str(), &end, cLocale());
    // Counted against the byte length, so a NUL inside refuses the text.
    if (end != text.c_str() + text.size())
        return std::nullopt;
    return value;
}

bool isAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Digits at `text[position...]`, exactly `count` of them.
std::optional<int> fixedDigits(std::string_view text, std::size_t position, std::size_t count)
{
    int value = 0;
    for (std::size_t i = position; i < position + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Each word's first letter upper case and its other letters lower case.
QString capitalized(const QString &text)
{
    QString result;
    result.reserve(text.size());
    qsizetype position = 0;
    while (position < text.size()) {
        if (text[position].isSpace()) {
            result += text[position++];
            continue;
        }
        qsizetype wordEnd = position;
        while (wordEnd < text.size() && !text[wordEnd].isSpace())
            ++wordEnd;
        const qsizetype firstLength =
            text[position].isHighSurrogate() && position + 1 < wordEnd ? 2 : 1;
        result += text.mid(position, firstLength).toUpper();
        result += text.mid(position + firstLength, wordEnd - position - firstLength).toLower();
        position = wordEnd;
    }
    return result;
}

} // namespace

std::optional<bool> parseBool(std::string_view text)
{
    if (text == "true")
        return true;
    if (text == "false")
        return false;
    return std::nullopt;
}

std::optional<double> parseDouble(const std::string &text)
{
    return parseFloatingPoint<double>(text, strtod_l);
}

std::optional<float> parseFloat(const std::string &text)
{
    return parseFloatingPoint<float>(text, strtof_l);
}

std::optional<QByteArray> parseBase64(std::string_view text)
{
    // Qt would take text without its padding.
    if (text.size() % 4 != 0)
        return std::nullopt;
    auto result = QByteArray::fromBase64Encoding(
        QByteArray(text.data(), static_cast<qsizetype>(text.size())),
        QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (result.decodingStatus != QByteArray::Base64DecodingStatus::Ok)
        return std::nullopt;
    return std::move(result.decoded);
}

std::optional<Date> parseISO8601Date(std::string_view text)
{
    // 2016-12-31T23:59:59Z or 2016-12-31T23:59:59+01:00
    if (text.size() != 20 && text.size() != 25)
        return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const auto year = fixedDigits(text, 0, 4), month = fixedDigits(text, 5, 2),
               day = fixedDigits(text, 8, 2), hour = fixedDigits(text, 11, 2),
               minute = fixedDigits(text, 14, 2), second = fixedDigits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 ||
        *second > 59)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok())
        return std::nullopt;

    long long offset = 0;
    if (text.size() == 20) {
        if (text[19] != 'Z')
            return std::nullopt;
    } else {
        if ((text[19] != '+' && text[19] != '-') || text[22] != ':')
            return std::nullopt;
        const auto offsetHours = fixedDigits(text, 20, 2), offsetMinutes = fixedDigits(text, 23, 2);
        if (!offsetHours || !offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59)
            return std::nullopt;
        offset = (text[19] == '-' ? -1 : 1) * (*offsetHours * 3600LL + *offsetMinutes * 60LL);
    }
    const long long days = std::chrono::sys_days(date).time_since_epoch().count();
    const long long seconds = days * 86400 + *hour * 3600LL + *minute * 60LL + *second - offset;
    return Date::since1970(static_cast<double>(seconds));
}

std::optional<QUrl> parseURL(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::string convertFromSnakeCase(std::string_view name)
{
    const std::size_t first = name.find_first_not_of('_');
    if (first == std::string_view::npos)
        return std::string(name);
    const std::size_t end = name.find_last_not_of('_') + 1;
    std::vector<std::string_view> runs;
    for (std::size_t position = first; position < end;) {
        const std::size_t runEnd = std::min(name.find('_', position), end);
        if (runEnd > position)
            runs.push_back(name.substr(position, runEnd - position));
        position = runEnd + 1;
    }
    if (runs.size() < 2)
        return std::string(name);

    const auto toQString = [](std::string_view text) {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    };
    QString camel = toQString(runs[0]).toLower();
    for (std::size_t i = 1; i < runs.size(); ++i)
        camel += capitalized(toQString(runs[i]));
    return std::string(name.substr(0, first)) + camel.toStdString() + std::string(name.substr(end));
}

std::string canonicalForm(std::string_view text)
{
    if (isAscii(text))
        return std::string(text);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        .normalized(QString::NormalizationForm_C)
        .toStdString();
}

} // namespace corvane
