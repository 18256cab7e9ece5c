#include "platform/formats/XmlPropertyList.h"

#include "platform/formats/BinaryPropertyList.h"
#include "platform/formats/ExpatParser.h"
#include "platform/formats/PropertyList.h"

#include <QDateTime>
#include <QStringDecoder>
#include <QTimeZone>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Base64 in whole groups of four, padded; whitespace anywhere. A stray
// character would otherwise be read as other bytes.
std::optional<QVariant> dataValue(const QByteArray &text)
{
    QByteArray base64;
    base64.reserve(text.size());
    for (const char c : text) {
        if (!isSpace(c))
            base64.append(c);
    }
    if (base64.size() % 4 != 0)
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(
        base64, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return QVariant(std::move(decoded.decoded));
}

// What an element of a property list stands for.
enum class Kind { plist, dictionary, array, key, string, integer, real, boolean, date, data };

std::optional<Kind> kindOf(std::string_view name)
{
    static constexpr std::pair<std::string_view, Kind> kinds[] = {
        {"plist", Kind::plist}, {"dict", Kind::dictionary}, {"array", Kind::array},
        {"key", Kind::key},     {"string", Kind::string},   {"integer", Kind::integer},
        {"real", Kind::real},   {"true", Kind::boolean},    {"false", Kind::boolean},
        {"date", Kind::date},   {"data", Kind::data}};
    for (const auto &[known, kind] : kinds) {
        if (name == known)
            return kind;
    }
    return std::nullopt;
}

bool holdsValues(Kind kind)
{
    return kind == Kind::plist || kind == Kind::dictionary || kind == Kind::array;
}

// Builds the value from expat's events. Text comes as expat gives it: line
// ends as one line feed, references decoded, CDATA as written; comments and
// processing instructions are left out.
class Reader {
public:
    std::optional<QVariant> read(const QByteArray &bytes)
    {
        XML_Parser parser = m_parser.get();
        XML_SetUserData(parser, this);
        XML_SetElementHandler(
            parser,
            [](void *reader, const XML_Char *name, const XML_Char **) {
                static_cast<Reader *>(reader)->guarded([&](Reader &r) { r.start(name); });
            },
            [](void *reader, const XML_Char *) {
                static_cast<Reader *>(reader)->guarded([](Reader &r) { r.end(); });
            });
        XML_SetCharacterDataHandler(parser, [](void *reader, const XML_Char *text, int length) {
            static_cast<Reader *>(reader)->guarded(
                [&](Reader &r) { r.characters(std::string_view(text, size_t(length))); });
        });
        // Entities are never expanded: a list that declares one, or refers
        // to one its document type would have to define, is refused.
        XML_SetEntityDeclHandler(
            parser, [](void *reader, const XML_Char *, int, const XML_Char *, int, const XML_Char *,
                       const XML_Char *, const XML_Char *,
                       const XML_Char *) { static_cast<Reader *>(reader)->m_parser.stop(); });
        XML_SetSkippedEntityHandler(parser, [](void *reader, const XML_Char *, int) {
            static_cast<Reader *>(reader)->m_parser.stop();
        });
        if (m_parser.parse(std::string_view(bytes.constData(), size_t(bytes.size()))))
            return std::nullopt;
        return std::move(m_root);
    }

private:
    struct Frame {
        Kind kind = Kind::plist;
        bool truth = false;
        // The plist's one value; a dictionary's key waiting for its value.
        std::optional<QVariant> value;
        std::optional<QString> key;
        QVariantList list;
        QVariantMap map;
    };

    template <class Work> void guarded(Work work)
    {
        m_parser.guarded([&] { work(*this); });
    }

    void start(std::string_view name)
    {
        const std::optional<Kind> kind = kindOf(name);
        if (!kind || (m_stack.empty() ? *kind == Kind::key : !accepts(m_stack.back(), *kind)))
            return m_parser.stop();
        if (*kind == Kind::dictionary || *kind == Kind::array) {
            if (++m_level > maxNesting)
                return m_parser.stop();
        }
        m_text.clear();
        Frame &frame = m_stack.emplace_back();
        frame.kind = *kind;
        frame.truth = name == "true";
    }

    // Whether `parent` may hold an element of this kind next: a plist one
    // value, a dictionary a key and then its value, an array any value.
    static bool accepts(const Frame &parent, Kind kind)
    {
        if (!holdsValues(parent.kind) || kind == Kind::plist)
            return false;
        if (parent.kind == Kind::plist)
            return kind != Kind::key && !parent.value;
        if (parent.kind == Kind::dictionary)
            return (kind == Kind::key) == !parent.key;
        return kind != Kind::key;
    }

    void characters(std::string_view text)
    {
        if (!holdsValues(m_stack.back().kind))
            m_text.append(text.data(), qsizetype(text.size()));
        else if (!isBlank(text))
            m_parser.stop();
    }

    void end()
    {
        Frame frame = std::move(m_stack.back());
        m_stack.pop_back();
        std::optional<QVariant> value;
        switch (frame.kind) {
        case Kind::plist: value = std::move(frame.value); break;
        case Kind::dictionary:
            --m_level;
            if (!frame.key)
                value = QVariant(std::move(frame.map));
            break;
        case Kind::array:
            --m_level;
            value = QVariant(std::move(frame.list));
            break;
        case Kind::key: m_stack.back().key = string(); return;
        default: value = scalar(frame); break;
        }
        if (!value)
            return m_parser.stop();
        if (m_stack.empty()) {
            m_root = std::move(value);
            return;
        }
        Frame &parent = m_stack.back();
        if (parent.kind == Kind::plist) {
            parent.value = std::move(value);
        } else if (parent.kind == Kind::array) {
            parent.list.append(std::move(*value));
        } else {
            insertInOrder(parent.map, *parent.key, *value);
            parent.key.reset();
        }
    }

    // A leading U+FEFF is text here, not a byte-order mark.
    QString string() const { return m_decoder(m_text); }

    std::optional<QVariant> scalar(const Frame &frame) const
    {
        const std::string_view raw(m_text.constData(), size_t(m_text.size()));
        switch (frame.kind) {
        case Kind::string: return QVariant(string());
        case Kind::integer: return integerValue(raw);
        case Kind::real: return realValue(raw);
        case Kind::boolean:
            return isBlank(raw) ? std::optional(QVariant(frame.truth)) : std::nullopt;
        case Kind::date: return dateValue(raw);
        default: return dataValue(m_text);
        }
    }

    ExpatParser m_parser;
    mutable QStringDecoder m_decoder{QStringConverter::Utf8,
                                     QStringConverter::Flag::Stateless |
                                         QStringConverter::Flag::ConvertInitialBom};
    std::vector<Frame> m_stack;
    int m_level = 0;
    // The text of the value being read.
    QByteArray m_text;
    std::optional<QVariant> m_root;
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

    // Whether XML can hold the text: no control character but tab, line feed
    // and CR (not even as a reference), no U+FFFE or U+FFFF, no lone surrogate.
    static bool writable(const QString &text)
    {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                QChar::isLowSurrogate(text[i + 1].unicode())) {
                ++i;
            } else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE ||
                       c == 0xFFFF || QChar::isSurrogate(c)) {
                return false;
            }
        }
        return true;
    }

    // "&", "<", ">" and CR as references: a CR as is reads back as a line
    // feed. Nothing for text XML cannot hold.
    static std::optional<QByteArray> escaped(const QString &text)
    {
        if (!writable(text))
            return std::nullopt;
        const QByteArray utf8 = text.toUtf8();
        QByteArray out;
        out.reserve(utf8.size());
        for (const char c : utf8) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\r': out += "&#13;"; break;
            default: out += c;
            }
        }
        return out;
    }

    static QByteArray real(double value)
    {
        // Its sign is kept, as the binary form keeps it; strtod and
        // Python's float read "-nan" back negative.
        if (std::isnan(value))
            return std::signbit(value) ? "-nan" : "nan";
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
            if (!keys.isEmpty()) {
                const auto key = escaped(keys[i]);
                if (!key)
                    return false;
                element(depth + 1, "key", *key);
            }
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
        case QMetaType::QString: {
            const auto text = escaped(value.toString());
            if (text)
                element(depth, "string", *text);
            return text.has_value();
        }
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
    return Reader().read(bytes);
}

QByteArray encodeXml(const QVariant &value)
{
    return Writer().write(value);
}

} // namespace corvane::PropertyList
