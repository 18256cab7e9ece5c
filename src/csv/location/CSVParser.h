#pragma once

#include "core/Location.h"
#include "csv/CSVReader.h"
#include "csv/InputStream.h"

#include <QByteArray>
#include <QUrl>

#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

// Reads a route from CSV text of eight numeric columns a row: timestamp
// (seconds since 1970), latitude, longitude, altitude, course, speed,
// vertical and horizontal accuracy; further columns are ignored. A row
// that does not fit (too short, a field that is not exactly one number, no
// valid coordinate, no finite time) is dropped, so a header or stray lines
// do not fail the file. One parser per file, used from one thread.
class CSVParser {
public:
    enum class ParserError {
        resourceNotFoundError,
        noLocationsError,
        badData,
        incompleteData,
        unknown,
        // The file holds more than `maximumFileSize` bytes.
        fileTooLarge
    };

    // The largest file read, as for every route file.
    static constexpr std::int64_t maximumFileSize = maximumRouteFileSize;

    class Error : public std::exception {
    public:
        explicit Error(ParserError code);
        ParserError code() const noexcept { return code_; }
        // One English sentence, fit for an alert.
        const std::string &description() const noexcept { return description_; }
        const char *what() const noexcept override { return description_.c_str(); }

    private:
        ParserError code_;
        std::string description_;
    };

    static std::string description(ParserError code);

    // A local file. Another kind of URL throws `Error(resourceNotFoundError)`;
    // failing to open the file throws the reader's `CSVError`
    // (`cannotOpenFile` for a missing file), and a file past
    // `maximumFileSize` throws `Error(fileTooLarge)` before it is read.
    explicit CSVParser(const QUrl &url);
    explicit CSVParser(const std::filesystem::path &path);
    // Text held in memory.
    explicit CSVParser(const QByteArray &data);
    // Any stream of UTF-8 text; opening errors are thrown as `CSVError`.
    explicit CSVParser(std::shared_ptr<InputStream> stream);

    CSVParser(CSVParser &&) noexcept;
    CSVParser &operator=(CSVParser &&) noexcept;
    ~CSVParser();

    // Reads every row and returns the locations in row order; a second call
    // returns the same list. A file that cannot be read to its end (a read
    // failure, an invalid byte sequence) throws that `CSVError` rather than
    // give a shortened route, and so does every later call; one that grew
    // past the limit since it was opened throws `Error(fileTooLarge)`.
    const std::vector<Location> &parse();

    // The locations read so far.
    const std::vector<Location> &locations() const { return locations_; }

private:
    std::unique_ptr<CSVReader> parser_;
    std::vector<Location> locations_;
    bool finished_ = false;
};

} // namespace corvane
