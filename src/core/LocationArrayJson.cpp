#include "core/LocationArrayJson.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

namespace corvane {

namespace {

// Written and read in pieces of this size: a route of any length costs no
// more memory than its own locations.
constexpr qint64 kChunkBytes = 64 * 1024;
// Arrays and objects nest at most this deep, the outer array included, as
// in Qt's document reader.
constexpr std::size_t kMaxDepth = 1024;
// Longer numbers are valid JSON, but no writer of this file makes them.
constexpr std::size_t kMaxNumberLength = 64 * 1024;

bool appendNumber(QByteArray &out, double value)
{
    if (!std::isfinite(value))
        return false;
    char text[32];
    const auto result = std::to_chars(std::begin(text), std::end(text), value);
    out.append(text, result.ptr - text);
    return true;
}

// One element, compact, keys in the order the file has always had them.
bool appendLocation(QByteArray &out, const Location &location)
{
    const std::pair<const char *, double> members[] = {
        {"{\"altitude\":", location.altitude},
        {",\"cordinate\":{\"lat\":", location.coordinate.latitude()},
        {",\"lon\":", location.coordinate.longitude()},
        {"},\"course\":", location.course},
        {",\"horizontalAccuracy\":", location.horizontalAccuracy},
        {",\"speed\":", location.speed},
        {",\"timestamp\":", location.timestamp - locationArrayReferenceDate},
        {",\"verticalAccuracy\":", location.verticalAccuracy}};
    for (const auto &[key, value] : members) {
        out += key;
        if (!appendNumber(out, value))
            return false;
    }
    out += '}';
    return true;
}

} // namespace

bool writeLocationArray(const std::vector<Location> &locations,
                        const std::function<bool(const QByteArray &piece)> &write)
{
    QByteArray piece;
    piece.reserve(kChunkBytes + 512);
    piece += '[';
    for (std::size_t i = 0; i < locations.size(); ++i) {
        if (i > 0)
            piece += ',';
        if (!appendLocation(piece, locations[i]))
            return false;
        if (piece.size() >= kChunkBytes) {
            if (!write(piece))
                return false;
            piece.truncate(0);
        }
    }
    piece += ']';
    return write(piece);
}

namespace {

// A pull reader of the array, a piece at a time, that builds no document:
// memory beyond the locations themselves stays bounded. It takes any JSON
// the file may hold (white space, any key order, keys it does not know with
// values of any kind), and like the document reader it replaces, one
// element that is no complete location fails the whole array.
class LocationArrayReader {
public:
    // Fills the buffer: the count read, 0 at the end, -1 on failure.
    explicit LocationArrayReader(const LocationArrayFill &fill) : m_fill(fill) {}

    std::optional<std::vector<Location>> read()
    {
        std::vector<Location> locations;
        if (peek() == 0xEF && !(take() && take() == 0xBB && take() == 0xBF))
            return std::nullopt;
        skipSpace();
        if (take() != '[')
            return std::nullopt;
        skipSpace();
        if (peek() == ']') {
            take();
        } else {
            for (;;) {
                Location location;
                if (!readLocation(location))
                    return std::nullopt;
                locations.push_back(location);
                skipSpace();
                const int next = take();
                if (next == ']')
                    break;
                if (next != ',')
                    return std::nullopt;
                skipSpace();
            }
        }
        skipSpace();
        if (peek() != kEnd)
            return std::nullopt;
        return locations;
    }

    bool fillFailed() const { return m_fillFailed; }

private:
    static constexpr int kEnd = -1;
    static bool isDigit(int byte) { return byte >= '0' && byte <= '9'; }
    enum Field { altitude, course, horizontalAccuracy, speed, timestamp, verticalAccuracy, count };
    // A value read for a key: none yet, a finite number, or something else.
    enum class State { missing, number, bad };
    struct Member {
        State state = State::missing;
        double value = 0;
    };

    int peek()
    {
        if (m_position == m_end && !refill())
            return kEnd;
        return static_cast<unsigned char>(*m_position);
    }

    int take()
    {
        const int byte = peek();
        if (byte != kEnd)
            ++m_position;
        return byte;
    }

    bool refill()
    {
        if (m_atEnd)
            return false;
        const qint64 count = m_fill(m_buffer.get(), kChunkBytes);
        if (count <= 0) {
            m_atEnd = true;
            m_fillFailed = count < 0;
            return false;
        }
        m_position = m_buffer.get();
        m_end = m_position + count;
        return true;
    }

    void skipSpace()
    {
        for (;;) {
            const int byte = peek();
            if (byte != ' ' && byte != '\t' && byte != '\n' && byte != '\r')
                return;
            ++m_position;
        }
    }

    bool expect(char wanted)
    {
        skipSpace();
        return take() == wanted;
    }

    // A string; its first bytes, decoded, go to `key` (a character beyond
    // ASCII as 0xFF, which matches no key). As lenient as Qt's document
    // reader: an unknown escape stands for the byte after the backslash,
    // control characters pass; other UTF-8 must be valid.
    bool readString(std::string *key = nullptr)
    {
        if (take() != '"')
            return false;
        const auto append = [key](char c) {
            if (key && key->size() <= 32)
                key->push_back(c);
        };
        for (;;) {
            int byte = take();
            if (byte == '"')
                return true;
            if (byte == kEnd)
                return false;
            if (byte == '\\') {
                switch (byte = take()) {
                case kEnd: return false;
                case 'b': append('\b'); continue;
                case 'f': append('\f'); continue;
                case 'n': append('\n'); continue;
                case 'r': append('\r'); continue;
                case 't': append('\t'); continue;
                case 'u': {
                    int unit = 0;
                    for (int i = 0; i < 4; ++i) {
                        const int digit = hexValue(take());
                        if (digit < 0)
                            return false;
                        unit = unit * 16 + digit;
                    }
                    append(unit < 0x80 ? char(unit) : char(0xFF));
                    continue;
                }
                default:
                    // The byte itself, even one that is no UTF-8 by itself.
                    append(byte < 0x80 ? char(byte) : char(0xFF));
                    continue;
                }
            }
            if (byte >= 0x80) {
                if (!takeUtf8Tail(byte))
                    return false;
                append(char(0xFF));
            } else {
                append(char(byte));
            }
        }
    }

    static int hexValue(int byte)
    {
        if (byte >= '0' && byte <= '9')
            return byte - '0';
        if (byte >= 'a' && byte <= 'f')
            return byte - 'a' + 10;
        if (byte >= 'A' && byte <= 'F')
            return byte - 'A' + 10;
        return -1;
    }

    // The rest of a UTF-8 sequence whose first byte was `lead`: no overlong
    // forms, no surrogates, nothing beyond U+10FFFF.
    bool takeUtf8Tail(int lead)
    {
        int tail;
        int low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            tail = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            tail = 2;
            if (lead == 0xE0)
                low = 0xA0;
            if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            tail = 3;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        for (int i = 0; i < tail; ++i) {
            const int byte = take();
            if (byte < low || byte > high)
                return false;
            low = 0x80;
            high = 0xBF;
        }
        return true;
    }

    // A number, scanned as Qt's document reader scans it ("1." and ".5"
    // pass, "01" does not) and refused, as there, unless it converts to a
    // finite double: out of range, it fails the whole array.
    bool readNumber(double &value)
    {
        m_number.clear();
        const auto keep = [&] {
            m_number.push_back(char(take()));
            return m_number.size() <= kMaxNumberLength;
        };
        const auto digits = [&] {
            while (isDigit(peek()))
                if (!keep())
                    return false;
            return true;
        };
        if (peek() == '-')
            keep();
        if (peek() == '0') {
            keep();
        } else if (!digits()) {
            return false;
        }
        if (peek() == '.' && !(keep() && digits()))
            return false;
        if (peek() == 'e' || peek() == 'E') {
            keep();
            if (peek() == '+' || peek() == '-')
                keep();
            if (!digits())
                return false;
        }
        const char *end = m_number.data() + m_number.size();
        const auto [stop, error] = std::from_chars(m_number.data(), end, value);
        return error == std::errc() && stop == end;
    }

    bool readLiteral(const char *word)
    {
        for (; *word; ++word)
            if (take() != *word)
                return false;
        return true;
    }

    // Any value, inside `depth` arrays and objects; only its syntax is
    // checked.
    bool skipValue(std::size_t depth)
    {
        std::vector<char> open;
        for (;;) {
            skipSpace();
            bool complete = true;
            switch (peek()) {
            case '{':
            case '[': {
                if (depth + open.size() == kMaxDepth)
                    return false;
                const char bracket = char(take());
                open.push_back(bracket);
                skipSpace();
                if (peek() == (bracket == '{' ? '}' : ']')) {
                    take();
                    open.pop_back();
                } else if (bracket == '{') {
                    if (!readString() || !expect(':'))
                        return false;
                    complete = false;
                } else {
                    complete = false;
                }
                break;
            }
            case '"':
                if (!readString())
                    return false;
                break;
            case 't':
                if (!readLiteral("true"))
                    return false;
                break;
            case 'f':
                if (!readLiteral("false"))
                    return false;
                break;
            case 'n':
                if (!readLiteral("null"))
                    return false;
                break;
            default:
                double ignored;
                if (!readNumber(ignored))
                    return false;
            }
            if (!complete)
                continue;
            // After a whole value: close what ends here, or go on to the
            // next member or element.
            for (;;) {
                if (open.empty())
                    return true;
                skipSpace();
                const int next = take();
                if (next == ',') {
                    if (open.back() == '{') {
                        skipSpace();
                        if (!readString() || !expect(':'))
                            return false;
                    }
                    break;
                }
                if (next != (open.back() == '{' ? '}' : ']'))
                    return false;
                open.pop_back();
            }
        }
    }

    // The value of a known key inside `depth` arrays and objects: a number,
    // or anything else, which spoils it.
    bool readMember(Member &member, std::size_t depth)
    {
        switch (peek()) {
        case '{':
        case '[':
        case '"':
        case 't':
        case 'f':
        case 'n': member.state = State::bad; return skipValue(depth);
        default: member.state = State::number; return readNumber(member.value);
        }
    }

    // An object's members, each handed to `member` with its key; the last
    // of keys given twice wins, as in the document reader.
    template <class Handle> bool readObject(Handle handle)
    {
        if (!expect('{'))
            return false;
        skipSpace();
        if (peek() == '}') {
            take();
            return true;
        }
        std::string key;
        for (;;) {
            key.clear();
            skipSpace();
            if (!readString(&key) || !expect(':'))
                return false;
            skipSpace();
            if (!handle(key))
                return false;
            skipSpace();
            const int next = take();
            if (next == '}')
                return true;
            if (next != ',')
                return false;
        }
    }

    bool readLocation(Location &location)
    {
        Member fields[count];
        Member latitude, longitude;
        static const std::pair<const char *, Field> keys[] = {
            {"altitude", altitude},
            {"course", course},
            {"horizontalAccuracy", horizontalAccuracy},
            {"speed", speed},
            {"timestamp", timestamp},
            {"verticalAccuracy", verticalAccuracy}};
        const bool read = readObject([&](const std::string &key) {
            if (key == "cordinate") {
                latitude = longitude = Member();
                if (peek() != '{') {
                    latitude.state = State::bad;
                    return skipValue(2);
                }
                return readObject([&](const std::string &inner) {
                    if (inner == "lat")
                        return readMember(latitude, 3);
                    if (inner == "lon")
                        return readMember(longitude, 3);
                    return skipValue(3);
                });
            }
            for (const auto &[name, field] : keys)
                if (key == name)
                    return readMember(fields[field], 2);
            return skipValue(2);
        });
        if (!read || latitude.state != State::number || longitude.state != State::number)
            return false;
        for (const Member &field : fields)
            if (field.state != State::number)
                return false;
        // Set one by one: the coordinate's constructor drops values out of range.
        location.coordinate.setLatitude(latitude.value);
        location.coordinate.setLongitude(longitude.value);
        location.altitude = fields[altitude].value;
        location.horizontalAccuracy = fields[horizontalAccuracy].value;
        location.verticalAccuracy = fields[verticalAccuracy].value;
        location.speed = fields[speed].value;
        location.course = fields[course].value;
        location.timestamp = fields[timestamp].value + locationArrayReferenceDate;
        return true;
    }

    const LocationArrayFill &m_fill;
    std::string m_number;
    std::unique_ptr<char[]> m_buffer = std::make_unique<char[]>(kChunkBytes);
    const char *m_position = nullptr;
    const char *m_end = nullptr;
    bool m_atEnd = false;
    bool m_fillFailed = false;
};

} // namespace

std::optional<std::vector<Location>> readLocationArray(const LocationArrayFill &fill,
                                                       bool *fillFailed)
{
    LocationArrayReader reader(fill);
    auto locations = reader.read();
    if (fillFailed)
        *fillFailed = reader.fillFailed();
    return reader.fillFailed() ? std::nullopt : std::move(locations);
}

} // namespace corvane
