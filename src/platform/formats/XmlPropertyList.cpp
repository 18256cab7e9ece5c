#include "platform/formats/XmlPropertyList.h"

#include "platform/formats/BinaryPropertyList.h"
#include "platform/formats/PropertyList.h"

#include <QDateTime>
#include <QTimeZone>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace corvane::PropertyList {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isBlank(std::string_view text)
{
    return trimmed(text).empty();
}

void appendUtf8(QByteArray &out, char32_t c)
{
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | c >> 6));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | c >> 12));
        out.append(char(0x80 | (c >> 6 & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | c >> 18));
        out.append(char(0x80 | (c >> 12 & 0x3F)));
        out.append(char(0x80 | (c >> 6 & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

// The character of "&#65;" or "&#x41;", given "65" or "x41". A surrogate
// stands for no character and becomes U+FFFD.
std::optional<char32_t> characterReference(std::string_view digits)
{
    const int base = digits.starts_with('x') ? 16 : 10;
    if (base == 16)
        digits.remove_prefix(1);
    quint32 code = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        code == 0 || code > 0x10FFFF)
        return std::nullopt;
    return code >= 0xD800 && code <= 0xDFFF ? U'\uFFFD' : char32_t(code);
}

// Appends `text` with its references replaced; false on one XML does not
// define (a DOCTYPE's own entities are never expanded) or a bare "&".
bool appendDecoded(QByteArray &out, std::string_view text)
{
    // Room for a character reference with a few leading zeros.
    constexpr size_t longestReference = 16;
    for (;;) {
        const size_t ampersand = text.find('&');
        out.append(text.data(), qsizetype(std::min(ampersand, text.size())));
        if (ampersand == std::string_view::npos)
            return true;
        text.remove_prefix(ampersand + 1);
        const size_t semicolon = text.substr(0, longestReference).find(';');
        if (semicolon == std::string_view::npos)
            return false;
        const std::string_view name = text.substr(0, semicolon);
        text.remove_prefix(semicolon + 1);
        if (name == "amp") {
            out.append('&');
        } else if (name == "lt") {
            out.append('<');
        } else if (name == "gt") {
            out.append('>');
        } else if (name == "quot") {
            out.append('"');
        } else if (name == "apos") {
            out.append('\'');
        } else if (name.starts_with('#')) {
            const auto code = characterReference(name.substr(1));
            if (!code)
                return false;
            appendUtf8(out, *code);
        } else {
            return false;
        }
    }
}

// Decimal or "0x" hex, with an optional sign.
std::optional<QVariant> integerValue(std::string_view text)
{
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    quint64 magnitude = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return integerVariant(magnitude, negative);
}

// What C's strtod takes, whatever the program's locale, and nothing else.
std::optional<QVariant> realValue(std::string_view text)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    text = trimmed(text);
    if (!cLocale || text.empty() || std::isspace(static_cast<unsigned char>(text.front())))
        return std::nullopt;
    const std::string terminated(text);
    char *end = nullptr;
    const double value = strtod_l(terminated.c_str(), &end, cLocale);
    if (end != terminated.c_str() + terminated.size())
        return std::nullopt;
    return QVariant(value);
}

// "YYYY-MM-DDTHH:MM:SSZ" in UTC. The year may have fewer or more digits and
// a minus sign (astronomical years: 0 is 1 BC); a fraction of the second and
// the "Z" may be left out.
std::optional<QVariant> dateValue(std::string_view text)
{
    text = trimmed(text);
    size_t at = 0;
    const auto isDigit = [&] { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    const bool negative = !text.empty() && text.front() == '-';
    at += negative ? 1 : 0;
    int year = 0;
    int yearDigits = 0;
    for (; isDigit() && yearDigits <= 7; ++at, ++yearDigits)
        year = year * 10 + (text[at] - '0');
    if (yearDigits == 0 || yearDigits > 7)
        return std::nullopt;
    const auto field = [&](char separator) -> int {
        if (at >= text.size() || text[at] != separator)
            return -1;
        ++at;
        int value = 0;
        for (int i = 0; i < 2; ++i, ++at) {
            if (!isDigit())
                return -1;
            value = value * 10 + (text[at] - '0');
        }
        return value;
    };
    const int month = field('-');
    const int day = field('-');
    const int hour = field('T');
    const int minute = field(':');
    const int second = field(':');
    if (month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59)
        return std::nullopt;
    int ms = 0;
    if (at < text.size() && text[at] == '.') {
        ++at;
        int fractionDigits = 0;
        for (; isDigit(); ++at, ++fractionDigits) {
            if (fractionDigits < 3)
                ms = ms * 10 + (text[at] - '0');
        }
        if (fractionDigits == 0)
            return std::nullopt;
        for (; fractionDigits < 3; ++fractionDigits)
            ms *= 10;
    }
    if (at < text.size() && text[at] == 'Z')
        ++at;
    if (at != text.size())
        return std::nullopt;
    const int astronomical = negative ? -year : year;
    const QDate date(astronomical > 0 ? astronomical : astronomical - 1, month, day);
    if (!date.isValid())
        return std::nullopt;
    const auto since1970 =
        dateMilliseconds(QDateTime(date, QTime(hour, minute, second, ms), QTimeZone::utc()));
    if (!since1970)
        return std::nullopt;
    return QVariant(QDateTime::fromMSecsSinceEpoch(*since1970, QTimeZone::utc()));
}

// Base64, whitespace anywhere.
std::optional<QVariant> dataValue(const QByteArray &text)
{
    QByteArray base64;
    base64.reserve(text.size());
    for (const char c : text) {
        if (!isSpace(c))
            base64.append(c);
    }
    auto decoded = QByteArray::fromBase64Encoding(
        base64, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return QVariant(std::move(decoded.decoded));
}

class Reader {
public:
    explicit Reader(const QByteArray &bytes)
        : m_bytes(bytes), m_copy(bytes.constData(), bytes.size())
    {
    }

    std::optional<QVariant> read()
    {
        // pugixml ends a text at a NUL, so the copy it parses in place has
        // none; each text is then taken from the original bytes at the same
        // offset, with the length pugixml found.
        m_copy.replace('\0', '\x01');
        m_buffer = m_copy.data();
        pugi::xml_document document;
        const pugi::xml_parse_result parsed = document.load_buffer_inplace(
            m_buffer, size_t(m_copy.size()),
            pugi::parse_cdata | pugi::parse_ws_pcdata | pugi::parse_embed_pcdata,
            pugi::encoding_utf8);
        if (parsed.status == pugi::status_out_of_memory)
            throw std::bad_alloc();
        if (!parsed)
            return std::nullopt;
        // One element at the top: a <plist> holding the value, or the value
        // alone. Text around it is left, as XML has it.
        pugi::xml_node top;
        for (const pugi::xml_node node : document.children()) {
            if (node.type() != pugi::node_element)
                continue;
            if (top)
                return std::nullopt;
            top = node;
        }
        if (!top)
            return std::nullopt;
        if (std::string_view(top.name()) != "plist")
            return value(top, 1);
        pugi::xml_node root;
        const bool one = forEachElement(top, [&](const pugi::xml_node &element) {
            const bool first = !root;
            root = element;
            return first;
        });
        if (!one || !root)
            return std::nullopt;
        return value(root, 1);
    }

private:
    // A text pugixml holds, as the input has it.
    std::string_view original(const char *text) const
    {
        // Empty texts may be pugixml's own constant, outside the buffer.
        if (text < m_buffer || text >= m_buffer + m_copy.size())
            return {};
        return {m_bytes.constData() + (text - m_buffer), std::strlen(text)};
    }

    // Calls `visit` on each element in a container, whose text around them
    // must be blank; false as soon as one is not, or `visit` fails.
    template <class Visit> bool forEachElement(const pugi::xml_node &container, Visit visit) const
    {
        if (!isBlank(original(container.value())))
            return false;
        for (const pugi::xml_node child : container.children()) {
            if (child.type() == pugi::node_element) {
                if (!visit(child))
                    return false;
            } else if (!isBlank(original(child.value()))) {
                return false;
            }
        }
        return true;
    }

    // The text in a value's element (the first part may be stored in the
    // element itself), references decoded; nothing when it holds an element.
    std::optional<QByteArray> content(const pugi::xml_node &element) const
    {
        QByteArray text;
        if (!appendDecoded(text, original(element.value())))
            return std::nullopt;
        for (const pugi::xml_node child : element.children()) {
            const std::string_view part = original(child.value());
            if (child.type() == pugi::node_cdata)
                text.append(part.data(), qsizetype(part.size()));
            else if (child.type() != pugi::node_pcdata || !appendDecoded(text, part))
                return std::nullopt;
        }
        return text;
    }

    // `level` is the one the value takes if it is a container.
    std::optional<QVariant> value(const pugi::xml_node &element, int level) const
    {
        const std::string_view name = element.name();
        if (name == "dict" || name == "array") {
            if (level > maxNesting)
                return std::nullopt;
            return name == "dict" ? dictionary(element, level) : array(element, level);
        }
        const auto text = content(element);
        if (!text)
            return std::nullopt;
        if (name == "string" || name == "key")
            return QVariant(QString::fromUtf8(*text));
        const std::string_view raw(text->constData(), size_t(text->size()));
        if (name == "integer")
            return integerValue(raw);
        if (name == "real")
            return realValue(raw);
        if (name == "true" || name == "false")
            return isBlank(raw) ? std::optional(QVariant(name == "true")) : std::nullopt;
        if (name == "date")
            return dateValue(raw);
        if (name == "data")
            return dataValue(*text);
        return std::nullopt;
    }

    std::optional<QVariant> array(const pugi::xml_node &element, int level) const
    {
        QVariantList list;
        const bool read = forEachElement(element, [&](const pugi::xml_node &child) {
            auto item = value(child, level + 1);
            if (item)
                list.append(std::move(*item));
            return item.has_value();
        });
        return read ? std::optional(QVariant(std::move(list))) : std::nullopt;
    }

    // Each <key> followed by its value.
    std::optional<QVariant> dictionary(const pugi::xml_node &element, int level) const
    {
        QVariantMap map;
        std::optional<QString> key;
        const bool read = forEachElement(element, [&](const pugi::xml_node &child) {
            if (!key) {
                const auto text = std::string_view(child.name()) == "key"
                                      ? content(child)
                                      : std::optional<QByteArray>();
                if (!text)
                    return false;
                key = QString::fromUtf8(*text);
                return true;
            }
            const auto item = value(child, level + 1);
            if (!item)
                return false;
            insertInOrder(map, *key, *item);
            key.reset();
            return true;
        });
        if (!read || key)
            return std::nullopt;
        return QVariant(std::move(map));
    }

    const QByteArray &m_bytes;
    QByteArray m_copy;
    char *m_buffer = nullptr;
};

class Writer {
public:
    QByteArray write(const QVariant &root)
    {
        m_out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                "<plist version=\"1.0\">\n";
        if (!add(root, 1, 0))
            return {};
        m_out += "</plist>\n";
        return m_out;
    }

private:
    // `<name>text</name>` on a line of its own, the text as given.
    void element(int depth, const char *name, QByteArrayView text)
    {
        m_out.append(depth, '\t');
        m_out += '<';
        m_out += name;
        m_out += '>';
        m_out += text;
        m_out += "</";
        m_out += name;
        m_out += ">\n";
    }

    // "&", "<" and ">" as references; everything else, a NUL included, as is.
    static QByteArray escaped(const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        QByteArray out;
        out.reserve(utf8.size());
        for (const char c : utf8) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
            }
        }
        return out;
    }

    static QByteArray real(double value)
    {
        if (std::isnan(value))
            return "nan";
        if (std::isinf(value))
            return value > 0 ? "+infinity" : "-infinity";
        char text[32];
        const auto written = std::to_chars(text, text + sizeof text, value); // the shortest exact
        return QByteArray(text, written.ptr - text);
    }

    static std::optional<QByteArray> date(const QDateTime &value)
    {
        const auto ms = dateMilliseconds(value);
        if (!ms)
            return std::nullopt;
        const qint64 seconds = *ms / 1000 - (*ms % 1000 < 0 ? 1 : 0);
        const QDateTime whole = QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
        const QDate day = whole.date();
        const QTime time = whole.time();
        const int year = day.year() > 0 ? day.year() : day.year() + 1;
        char text[48];
        const int length = std::snprintf(text, sizeof text, "%s%04d-%02d-%02dT%02d:%02d:%02dZ",
                                         year < 0 ? "-" : "", std::abs(year), day.month(),
                                         day.day(), time.hour(), time.minute(), time.second());
        return QByteArray(text, length);
    }

    bool container(int depth, const char *name, const QStringList &keys, const QVariantList &items,
                   int level)
    {
        if (level > maxNesting)
            return false;
        m_out.append(depth, '\t');
        if (items.isEmpty()) {
            m_out += '<' + QByteArray(name) + "/>\n";
            return true;
        }
        m_out += '<' + QByteArray(name) + ">\n";
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (!keys.isEmpty())
                element(depth + 1, "key", escaped(keys[i]));
            if (!add(items[i], level + 1, depth + 1))
                return false;
        }
        m_out.append(depth, '\t');
        m_out += "</" + QByteArray(name) + ">\n";
        return true;
    }

    // `level` is the one the value takes if it is a container.
    bool add(const QVariant &value, int level, int depth)
    {
        if (value.metaType() == QMetaType::fromType<Uid>())
            return container(depth, "dict", {"CF$UID"}, {value.value<Uid>().value}, level);
        if (const auto number = integerOf(value)) {
            element(depth, "integer",
                    number->isUnsigned ? QByteArray::number(number->bits)
                                       : QByteArray::number(qint64(number->bits)));
            return true;
        }
        switch (value.typeId()) {
        case QMetaType::QString: element(depth, "string", escaped(value.toString())); return true;
        case QMetaType::QVariantList:
        case QMetaType::QStringList: return container(depth, "array", {}, value.toList(), level);
        case QMetaType::QVariantMap: {
            const QVariantMap map = value.toMap();
            return container(depth, "dict", map.keys(), map.values(), level);
        }
        case QMetaType::Bool:
            m_out.append(depth, '\t');
            m_out += value.toBool() ? "<true/>\n" : "<false/>\n";
            return true;
        case QMetaType::Double:
        case QMetaType::Float: element(depth, "real", real(value.toDouble())); return true;
        case QMetaType::QByteArray:
            element(depth, "data", value.toByteArray().toBase64());
            return true;
        case QMetaType::QDateTime: {
            const auto text = date(value.toDateTime());
            if (text)
                element(depth, "date", *text);
            return text.has_value();
        }
        default: return false;
        }
    }

    QByteArray m_out;
};

} // namespace

std::optional<QVariant> parseXml(const QByteArray &bytes)
{
    return Reader(bytes).read();
}

QByteArray encodeXml(const QVariant &value)
{
    return Writer().write(value);
}

} // namespace corvane::PropertyList
