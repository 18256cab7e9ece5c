#include "location/GPXParser.h"

#include "core/Geodesy.h"
#include "core/NumberParsing.h"
#include "platform/files/RegularFile.h"
#include "platform/formats/ExpatParser.h"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {
namespace {

// The ASCII white space and line breaks, plus the Unicode spaces and
// separators, in their UTF-8 forms.
std::size_t unicodeSpaceLength(std::string_view text, bool atEnd)
{
    static constexpr std::string_view spaces[] = {
        "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
        "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
        "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
        "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};
    if (text.empty())
        return 0;
    const char edge = atEnd ? text.back() : text.front();
    if (edge == ' ' || (edge >= '\t' && edge <= '\r'))
        return 1;
    if (static_cast<unsigned char>(edge) < 0x80)
        return 0;
    for (std::string_view space : spaces) {
        if (atEnd ? text.ends_with(space) : text.starts_with(space))
            return space.size();
    }
    return 0;
}

std::string_view trimmed(std::string_view text)
{
    while (std::size_t length = unicodeSpaceLength(text, false))
        text.remove_prefix(length);
    while (std::size_t length = unicodeSpaceLength(text, true))
        text.remove_suffix(length);
    return text;
}

bool has(double value)
{
    return !std::isnan(value);
}

// The most text a number or a time is read from, white space around it
// included; a longer text is no value, and no more of it is kept.
constexpr std::size_t maximumValueText = 512;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether the text is a decimal as GPX writes numbers: a sign, digits with
// a point among them or not, and an exponent. Hexadecimal, "inf" and "nan",
// which the C library reads too, are not.
bool isDecimal(std::string_view text)
{
    std::size_t at = 0;
    const auto digits = [&] {
        const std::size_t first = at;
        while (at < text.size() && isDigit(text[at]))
            ++at;
        return at - first;
    };
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    std::size_t mantissa = digits();
    if (at < text.size() && text[at] == '.') {
        ++at;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        if (digits() == 0)
            return false;
    }
    return at == text.size();
}

// GPX numbers are plain finite decimals. NaN marks text that is no number
// (a plain double is cheaper to hand back than an optional, for hundreds of
// thousands of values).
double number(std::string_view text)
{
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    if (text.size() > maximumValueText)
        return none;
    text = trimmed(text);
    if (!isDecimal(text))
        return none;
    const std::optional<double> value = parseCDouble(text);
    return value && std::isfinite(*value) ? *value : none;
}

// Dilution of precision to metres: the worse the geometry, the steeper.
double horizontalAccuracy(double d)
{
    if (d < 5)
        return d * 2;
    if (d <= 10)
        return d * 3.5;
    if (d < 20)
        return d * 5;
    return d * 10;
}

double verticalAccuracy(double d)
{
    if (d < 5)
        return d * 2;
    if (d <= 10)
        return d * 3;
    if (d < 20)
        return d * 5;
    return d * 10;
}

// Element names are compared inline: a track has hundreds of thousands.
bool nameIs(const char *name, const char *expected)
{
    while (*expected && *name == *expected) {
        ++name;
        ++expected;
    }
    return *name == *expected;
}

bool containsGpsPart(const char *name)
{
    for (; *name; ++name) {
        if (name[0] == ':' && name[1] == 'g' && name[2] == 'p' && name[3] == 's')
            return true;
    }
    return false;
}

// Track-point speed extensions are written in kilometres per hour.
constexpr double metresPerSecondPerKilometrePerHour = 0.278;

using ParseResults = GPXParser::ParseResults;

unsigned bit(ParseResults kind)
{
    return 1u << static_cast<unsigned>(kind);
}

// The values read from one track point. Every value read is finite, so NaN
// marks one the point did not give.
struct TrackPoint {
    static constexpr double none = std::numeric_limits<double>::quiet_NaN();
    double lat = none, lon = none, ele = none, speed = none, course = none, time = none,
           hdop = none, vdop = none;
};

// The elements whose text a track point reads.
enum class Field : unsigned char { other, time, ele, hdop, vdop };

Field fieldOf(const char *name)
{
    if (nameIs(name, "time"))
        return Field::time;
    if (nameIs(name, "ele"))
        return Field::ele;
    if (nameIs(name, "hdop"))
        return Field::hdop;
    return nameIs(name, "vdop") ? Field::vdop : Field::other;
}

// Turns expat's start, text and end events into locations. expat is strict
// where others are lenient (text after the root element, a second root, a
// repeated attribute, a NUL), and a file that is not well-formed is no
// route. Its default handler keeps each reference in text as written, and
// nothing is fetched. Only attributes written in a tag are read, not those a
// document type adds, and one referring to an entity gives no number, as its
// text is written (looked for only when the document type declares one).
class TrackReader {
public:
    explicit TrackReader(double now) : now_(now) {}

    void read(std::string_view text)
    {
        ExpatParser parser("UTF-8");
        parser_ = &parser;
        XML_Parser handle = parser.get();
        XML_SetUserData(handle, this);
        XML_SetElementHandler(
            handle,
            [](void *reader, const XML_Char *name, const XML_Char **attributes) {
                self(reader).guarded([&](TrackReader &r) { r.start(name, attributes); });
            },
            [](void *reader, const XML_Char *name) {
                self(reader).guarded([&](TrackReader &r) { r.end(name); });
            });
        XML_SetCharacterDataHandler(handle, [](void *reader, const XML_Char *text, int length) {
            self(reader).guarded([&](TrackReader &r) { r.characters(text, length); });
        });
        XML_SetEntityDeclHandler(handle,
                                 [](void *reader, const XML_Char *, int parameter, const XML_Char *,
                                    int, const XML_Char *, const XML_Char *, const XML_Char *,
                                    const XML_Char *) { self(reader).entities_ |= !parameter; });
        // Comments, processing instructions, CDATA's bounds and references.
        XML_SetDefaultHandler(handle, [](void *reader, const XML_Char *text, int length) {
            self(reader).guarded([&](TrackReader &r) {
                if (length > 0 && *text == '&')
                    r.characters(text, length);
                else
                    r.flush();
            });
        });
        if (const std::optional<XmlFault> fault = parser.parse(text))
            throw GPXParser::XMLError(fault->message, fault->line, fault->column);
        const auto earlier = [](const Location &a, const Location &b) {
            return a.timestamp < b.timestamp;
        };
        // Most tracks are in time order already, and the stable sort would
        // leave them as they are.
        if ((includes_ & bit(ParseResults::timestamp)) &&
            !std::is_sorted(locations_.begin(), locations_.end(), earlier))
            std::stable_sort(locations_.begin(), locations_.end(), earlier);
    }

    GPXParser::Result result() &&
    {
        GPXParser::Result result;
        result.locations = std::move(locations_);
        for (ParseResults kind :
             {ParseResults::location, ParseResults::elevation, ParseResults::timestamp,
              ParseResults::speed, ParseResults::course, ParseResults::accuracy}) {
            if (!(includes_ & bit(kind)))
                result.missing.push_back(kind);
        }
        return result;
    }

private:
    static TrackReader &self(void *reader) { return *static_cast<TrackReader *>(reader); }

    template <class Work> void guarded(Work work)
    {
        parser_->guarded([&] { work(*this); });
    }

    void start(const char *name, const char **attributes)
    {
        flush();
        open_.push_back(fieldOf(name));
        const int written = XML_GetSpecifiedAttributeCount(parser_->get());
        const auto attribute = [&](const char *wanted) -> const char * {
            for (int i = 0; i < written; i += 2) {
                if (nameIs(attributes[i], wanted))
                    return entities_ && parser_->refersToEntity(i / 2) ? nullptr
                                                                       : attributes[i + 1];
            }
            return nullptr;
        };
        if (isTrackPoint(name)) {
            // A point left open inside another is dropped.
            current_ = TrackPoint();
            inTrackPoint_ = true;
            read(attribute("lat"), current_.lat);
            read(attribute("lon"), current_.lon);
        } else if (inTrackPoint_ && containsGpsPart(name)) {
            if (read(attribute("speed"), current_.speed))
                current_.speed *= metresPerSecondPerKilometrePerHour;
            read(attribute("azimuth"), current_.course);
        }
    }

    // Stores the attribute's number, if it is one.
    static bool read(const char *attribute, double &field)
    {
        if (!attribute)
            return false;
        const double value = number(attribute);
        if (!has(value))
            return false;
        field = value;
        return true;
    }

    // expat hands a run of text over in pieces; only what a point reads is
    // kept, and no more of it than a value is read from.
    void characters(const char *text, int length)
    {
        if (!inTrackPoint_ || open_.back() == Field::other || overlong_)
            return;
        if (chunk_.size() + std::size_t(length) > maximumValueText) {
            overlong_ = true;
            chunk_.clear();
            return;
        }
        chunk_.append(text, std::size_t(length));
    }

    // One chunk of text ends: a run between markup, or one CDATA section.
    // One too long to be a value reads as none.
    void flush()
    {
        overlong_ = false;
        if (chunk_.empty())
            return;
        text(open_.back(), chunk_);
        chunk_.clear();
    }

    void text(Field field, std::string_view chunk)
    {
        // Chunks of white space only read as nothing in every case below.
        if (field == Field::time) {
            if (const std::optional<double> time = GPXParser::parseTime(chunk))
                current_.time = *time;
        } else if (field == Field::ele) {
            if (const double ele = number(chunk); has(ele))
                current_.ele = ele;
        } else if (field == Field::hdop) {
            if (const double d = number(chunk); has(d))
                current_.hdop = horizontalAccuracy(d);
        } else if (field == Field::vdop) {
            if (const double d = number(chunk); has(d))
                current_.vdop = verticalAccuracy(d);
        }
    }

    static bool isTrackPoint(const char *name) { return nameIs(name, "trkpt"); }

    void end(const char *name)
    {
        flush();
        open_.pop_back();
        if (!isTrackPoint(name))
            return;
        if (inTrackPoint_)
            finish(current_);
        inTrackPoint_ = false;
    }

    void finish(const TrackPoint &point)
    {
        // A point off the globe would be played into every simulator as
        // nonsense; it is as unusable as one without coordinates.
        if (!isValidCoordinate(point.lat, point.lon))
            return;
        const auto valueOr = [](double value, double fallback) {
            return has(value) ? value : fallback;
        };
        if (has(point.ele) && has(point.time)) {
            Location location(point.lat, point.lon);
            location.altitude = point.ele;
            location.horizontalAccuracy = valueOr(point.hdop, 20.0);
            location.verticalAccuracy = valueOr(point.vdop, 10.0);
            location.course = valueOr(point.course, -1.0);
            location.speed = valueOr(point.speed, -1.0);
            location.timestamp = point.time;
            locations_.push_back(location);
        } else {
            locations_.push_back(Location::coordinateOnly(point.lat, point.lon, now_));
        }
        includes_ |= bit(ParseResults::location);
        if (has(point.ele))
            includes_ |= bit(ParseResults::elevation);
        if (has(point.time))
            includes_ |= bit(ParseResults::timestamp);
        if (has(point.speed))
            includes_ |= bit(ParseResults::speed);
        if (has(point.course))
            includes_ |= bit(ParseResults::course);
        if (has(point.hdop) && has(point.vdop))
            includes_ |= bit(ParseResults::accuracy);
    }

    double now_;
    std::vector<Location> locations_;
    unsigned includes_ = 0;
    // The point being read, while `inTrackPoint_`.
    TrackPoint current_;
    bool inTrackPoint_ = false;
    ExpatParser *parser_ = nullptr;
    // Whether the document type declares a general entity.
    bool entities_ = false;
    // What each open element is to a point, and the text read in the
    // innermost so far.
    std::vector<Field> open_;
    std::string chunk_;
    bool overlong_ = false;
};

enum class ReadResult { read, failed, tooLarge };

// Reads the whole file from its start, however its size changes meanwhile,
// but never more than the limit allows.
ReadResult readAll(int descriptor, std::string &bytes)
{
    constexpr auto limit = static_cast<std::size_t>(GPXParser::maximumFileSize);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        return ReadResult::failed;
    if (status.st_size > GPXParser::maximumFileSize)
        return ReadResult::tooLarge;
    bytes.clear();
    bytes.resize(static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)) + 1);
    std::size_t filled = 0;
    for (;;) {
        // One byte past the limit tells a file that grew too large.
        if (filled > limit)
            return ReadResult::tooLarge;
        if (filled == bytes.size())
            bytes.resize(std::min(bytes.size() * 2, limit + 1));
        const ssize_t count = ::pread(descriptor, bytes.data() + filled, bytes.size() - filled,
                                      static_cast<off_t>(filled));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return ReadResult::failed;
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return ReadResult::read;
}

// The value of "encoding" in an XML declaration at the start of `text`, or
// nothing when there is no declaration or it names none. Sets `column` to
// where the name begins.
std::optional<std::string_view> declaredEncoding(std::string_view text, int &column)
{
    if (!text.starts_with("<?xml"))
        return std::nullopt;
    const std::size_t close = text.find("?>");
    if (close == std::string_view::npos)
        return std::nullopt;
    const std::string_view declaration = text.substr(0, close);
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return std::nullopt;
    at += std::strlen("encoding");
    const auto skipSpace = [&] {
        while (at < declaration.size() && std::strchr(" \t\r\n", declaration[at]))
            ++at;
    };
    skipSpace();
    if (at >= declaration.size() || declaration[at] != '=')
        return std::nullopt;
    ++at;
    skipSpace();
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
        return std::nullopt;
    const char quote = declaration[at++];
    const std::size_t end = declaration.find(quote, at);
    if (end == std::string_view::npos)
        return std::nullopt;
    // The declaration is ASCII: its bytes are its characters.
    const std::size_t lineStart = declaration.find_last_of("\r\n", at);
    column = int(at - (lineStart == std::string_view::npos ? 0 : lineStart + 1)) + 1;
    return declaration.substr(at, end - at);
}

enum class SourceEncoding { utf8, utf16le, utf16be, utf32le, utf32be };

// The encoding from a byte-order mark or the first character's layout, and
// the length of the mark.
std::pair<SourceEncoding, std::size_t> detectEncoding(std::string_view bytes)
{
    const auto startsWith = [&](std::string_view prefix) { return bytes.starts_with(prefix); };
    using namespace std::string_view_literals;
    if (startsWith("\xEF\xBB\xBF"sv))
        return {SourceEncoding::utf8, 3};
    if (startsWith("\x00\x00\xFE\xFF"sv))
        return {SourceEncoding::utf32be, 4};
    if (startsWith("\xFF\xFE\x00\x00"sv))
        return {SourceEncoding::utf32le, 4};
    if (startsWith("\xFE\xFF"sv))
        return {SourceEncoding::utf16be, 2};
    if (startsWith("\xFF\xFE"sv))
        return {SourceEncoding::utf16le, 2};
    if (startsWith("\x00\x00\x00<"sv))
        return {SourceEncoding::utf32be, 0};
    if (startsWith("<\x00\x00\x00"sv))
        return {SourceEncoding::utf32le, 0};
    if (startsWith("\x00<\x00?"sv))
        return {SourceEncoding::utf16be, 0};
    if (startsWith("<\x00?\x00"sv))
        return {SourceEncoding::utf16le, 0};
    return {SourceEncoding::utf8, 0};
}

// Whether a declared encoding is one of Unicode's wider forms, which a file
// laid out in single bytes cannot be in.
bool isWideUnicode(const QString &name)
{
    switch (QStringConverter::encodingForName(name.toLatin1().constData())
                .value_or(QStringConverter::Utf8)) {
    case QStringConverter::Utf16:
    case QStringConverter::Utf16LE:
    case QStringConverter::Utf16BE:
    case QStringConverter::Utf32:
    case QStringConverter::Utf32LE:
    case QStringConverter::Utf32BE: return true;
    default: return false;
    }
}

} // namespace

std::string GPXParser::utf8Text(std::string bytes)
{
    const auto [encoding, markLength] = detectEncoding(bytes);
    const std::string_view text = std::string_view(bytes).substr(markLength);
    const auto decode = [&](QStringDecoder decoder) {
        const QString decoded = decoder(QByteArrayView(text.data(), qsizetype(text.size())));
        return decoded.toStdString();
    };
    const auto convert = [&](QStringConverter::Encoding from) {
        return decode(QStringDecoder(from, QStringConverter::Flag::Stateless));
    };
    switch (encoding) {
    case SourceEncoding::utf16le: return convert(QStringConverter::Utf16LE);
    case SourceEncoding::utf16be: return convert(QStringConverter::Utf16BE);
    case SourceEncoding::utf32le: return convert(QStringConverter::Utf32LE);
    case SourceEncoding::utf32be: return convert(QStringConverter::Utf32BE);
    case SourceEncoding::utf8: break;
    }
    int column = 1;
    const std::optional<std::string_view> declared =
        markLength == 0 ? declaredEncoding(bytes, column) : std::nullopt;
    const QString name = declared ? QString::fromLatin1(*declared).toLower() : QString();
    // A single-byte file that calls itself UTF-16 is read as the bytes it is.
    if (!declared || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii" ||
        isWideUnicode(name)) {
        bytes.erase(0, markLength);
        return bytes;
    }
    if (name == "iso-8859-1" || name == "latin1" || name == "iso8859-1")
        return convert(QStringConverter::Latin1);
    // Windows code pages, the other ISO 8859 parts and whatever else the
    // platform's converters know by name.
    QStringDecoder decoder(name.toLatin1().constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        throw XMLError("Unsupported encoding \"" + std::string(*declared) + "\"", 1, column);
    return decode(std::move(decoder));
}

namespace {

// Reads `digits` decimal digits at `at`, or nothing.
std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t digits)
{
    if (at + digits > text.size())
        return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

GPXParser::Error::Error(ParserError code) : Failure(GPXParser::description(code)), code_(code)
{
}

GPXParser::XMLError::XMLError(std::string message, int line, int column)
    : Failure("The file is not a readable GPX file: " + message + " (line " + std::to_string(line) +
              ", column " + std::to_string(column) + ")."),
      message_(std::move(message)), line_(line), column_(column)
{
}

std::string GPXParser::description(ParserError code)
{
    switch (code) {
    case ParserError::resourceNotFoundError: return "The file could not be found or opened.";
    case ParserError::noLocationsError: return "The file holds fewer than two track points.";
    case ParserError::fileTooLarge: return routeFileTooLargeText();
    case ParserError::unknown: break;
    }
    return "An unknown error occurred while reading the file.";
}

double GPXParser::systemTime()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

GPXParser::GPXParser(const std::filesystem::path &path, Clock clock) : clock_(std::move(clock))
{
    RegularFile file(path);
    if (!file.isOpen())
        throw Error(ParserError::resourceNotFoundError);
    // Refused before a byte of it is read.
    if (file.size() > maximumFileSize)
        throw Error(ParserError::fileTooLarge);
    descriptor_ = file.release();
}

namespace {

std::filesystem::path localPath(const QUrl &url)
{
    if (!url.isLocalFile())
        throw GPXParser::Error(GPXParser::ParserError::resourceNotFoundError);
    return std::filesystem::path(url.toLocalFile().toStdString());
}

} // namespace

GPXParser::GPXParser(const QUrl &url, Clock clock) : GPXParser(localPath(url), std::move(clock))
{
}

GPXParser::GPXParser(GPXParser &&other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), clock_(std::move(other.clock_))
{
}

GPXParser &GPXParser::operator=(GPXParser &&other) noexcept
{
    if (this != &other) {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
        clock_ = std::move(other.clock_);
    }
    return *this;
}

GPXParser::~GPXParser()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

GPXParser::Result GPXParser::parse()
{
    std::string bytes;
    const ReadResult read = descriptor_ < 0 ? ReadResult::failed : readAll(descriptor_, bytes);
    if (read == ReadResult::tooLarge)
        throw Error(ParserError::fileTooLarge);
    if (read != ReadResult::read)
        throw Error(ParserError::unknown);
    const std::string text = utf8Text(std::move(bytes));
    TrackReader reader(clock_ ? clock_() : systemTime());
    reader.read(text);
    return std::move(reader).result();
}

std::optional<double> GPXParser::parseTime(std::string_view text)
{
    text = trimmed(text);
    // yyyy-MM-ddTHH:mm:ss
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const std::optional<int> year = digitsAt(text, 0, 4);
    const std::optional<int> month = digitsAt(text, 5, 2);
    const std::optional<int> day = digitsAt(text, 8, 2);
    const std::optional<int> hour = digitsAt(text, 11, 2);
    const std::optional<int> minute = digitsAt(text, 14, 2);
    const std::optional<int> second = digitsAt(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 ||
        *second > 59)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(unsigned(*month)),
                                           std::chrono::day(unsigned(*day))};
    if (!date.ok())
        return std::nullopt;

    // Any number of digits; past nanoseconds they only round.
    std::size_t at = 19;
    double fraction = 0;
    if (at < text.size() && text[at] == '.') {
        const std::size_t first = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        const std::size_t digits = at - first;
        if (digits == 0)
            return std::nullopt;
        const std::size_t kept = std::min<std::size_t>(digits, 9);
        int nanoseconds = *digitsAt(text, first, kept);
        if (digits > kept && text[first + kept] >= '5')
            ++nanoseconds;
        fraction = nanoseconds / std::pow(10.0, double(kept));
    }

    int offsetMinutes = 0;
    // Without a zone the time is UTC, as every GPX time is.
    const std::string_view zone = text.substr(at);
    if (!zone.empty() && zone != "Z") {
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':')
            return std::nullopt;
        const std::optional<int> offsetHours = digitsAt(zone, 1, 2);
        const std::optional<int> offsetMinutesPart = digitsAt(zone, 4, 2);
        if (!offsetHours || !offsetMinutesPart || *offsetHours > 23 || *offsetMinutesPart > 59)
            return std::nullopt;
        offsetMinutes = (*offsetHours * 60 + *offsetMinutesPart) * (zone[0] == '-' ? -1 : 1);
    }

    const long long days = std::chrono::sys_days(date).time_since_epoch().count();
    const long long seconds = days * 86400 + *hour * 3600 + *minute * 60 + *second -
                              static_cast<long long>(offsetMinutes) * 60;
    return static_cast<double>(seconds) + fraction;
}

} // namespace corvane
