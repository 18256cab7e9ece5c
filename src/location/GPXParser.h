#pragma once

#include "core/Location.h"

#include <QUrl>

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

// Reads the track points (`trkpt`) of a GPX file into locations and tells
// which kinds of data no point carried. Waypoints and route points are
// ignored, and so is whatever cannot be read as a value: a point without a
// usable "lat" or "lon" is dropped. A point with both a time and an
// elevation is a full fix; any other point is known by its place alone and
// is stamped with the moment the file was read. One parser per file, used
// from one thread; nothing in the file is ever fetched or expanded.
class GPXParser {
public:
    // The kinds of data a point may carry, in the order the missing list
    // gives them.
    enum class ParseResults { location, elevation, timestamp, speed, course, accuracy };

    // `noLocationsError` is for callers that need a route of at least two
    // points; the parser itself never gives it. `fileTooLarge`: the file
    // holds more than `maximumFileSize` bytes.
    enum class ParserError { resourceNotFoundError, noLocationsError, unknown, fileTooLarge };

    // The largest file read, as for every route file.
    static constexpr std::int64_t maximumFileSize = maximumRouteFileSize;

    // What `GPXParser` throws; `what()` is one English sentence fit for an
    // alert.
    class Failure : public std::exception {
    public:
        const std::string &description() const noexcept { return description_; }
        const char *what() const noexcept override { return description_.c_str(); }

    protected:
        explicit Failure(std::string description) : description_(std::move(description)) {}

    private:
        std::string description_;
    };

    class Error : public Failure {
    public:
        explicit Error(ParserError code);
        ParserError code() const noexcept { return code_; }

    private:
        ParserError code_;
    };

    // The file is not well-formed XML, or is in an encoding we do not read.
    // Line and column count from 1; the column counts characters.
    class XMLError : public Failure {
    public:
        XMLError(std::string message, int line, int column);
        const std::string &message() const noexcept { return message_; }
        int line() const noexcept { return line_; }
        int column() const noexcept { return column_; }

    private:
        std::string message_;
        int line_;
        int column_;
    };

    static std::string description(ParserError code);

    struct Result {
        std::vector<Location> locations;
        std::vector<ParseResults> missing;
    };

    // Seconds since 1970; read once per parse for the points known by their
    // place alone, so they keep their file order when sorted by time.
    using Clock = std::function<double()>;
    static double systemTime();

    // Opens a regular file; throws `Error(resourceNotFoundError)` when it
    // cannot (missing, unreadable, a folder, not a local file), and
    // `Error(fileTooLarge)` for one past `maximumFileSize`, before reading.
    explicit GPXParser(const std::filesystem::path &path, Clock clock = systemTime);
    explicit GPXParser(const QUrl &url, Clock clock = systemTime);

    GPXParser(GPXParser &&) noexcept;
    GPXParser &operator=(GPXParser &&) noexcept;
    ~GPXParser();

    // Reads the whole file. The locations come in file order, or sorted by
    // time (stable) when any point had a time. Throws `XMLError` for a file
    // that is not well-formed, `Error(unknown)` when the file cannot be read,
    // `Error(fileTooLarge)` when it grew past the limit since it was opened,
    // and `std::bad_alloc` when its route, or its markup (a tag of a million
    // attributes), is too large for memory; no partial route is returned.
    Result parse();

    // A GPX time "yyyy-MM-ddTHH:mm:ss", an optional fraction of any number
    // of digits (rounded to the nanosecond), then "Z", "±hh:mm" or no zone,
    // which is UTC, as seconds since 1970. White space around it is
    // allowed, as in any XML date; anything else gives nothing.
    static std::optional<double> parseTime(std::string_view text);

    // A file's bytes as the text the parser reads: UTF-8 without a
    // byte-order mark, decoded from what the mark, the layout of the first
    // characters or the declared encoding says (windows-1252, any ISO 8859
    // part, whatever the platform's converters know by name). Throws
    // `XMLError` naming a declared encoding that nothing here decodes.
    static std::string utf8Text(std::string bytes);

private:
    int descriptor_ = -1;
    Clock clock_;
};

} // namespace corvane
