#include "csv/location/CSVParser.h"

#include "core/NumberParsing.h"
#include "csv/FileInputStream.h"
#include "csv/MemoryInputStream.h"
#include "platform/RegularFile.h"

#include <QFile>

#include <cmath>
#include <optional>

namespace corvane {
namespace {

enum Column {
    timestampColumn,
    latitudeColumn,
    longitudeColumn,
    altitudeColumn,
    courseColumn,
    speedColumn,
    verticalAccuracyColumn,
    horizontalAccuracyColumn,
    columnCount,
};

bool isValidCoordinate(double latitude, double longitude)
{
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90 &&
           std::fabs(longitude) <= 180;
}

// Negative and NaN accuracies mean "unknown"; the route keeps 0 for them.
double accuracy(double value)
{
    return value >= 0 ? value : 0;
}

std::optional<Location> locationFrom(const CSVReader::Row &row)
{
    if (row.size() < columnCount)
        return std::nullopt;
    double values[columnCount];
    for (const Column column :
         {latitudeColumn, longitudeColumn, altitudeColumn, horizontalAccuracyColumn,
          verticalAccuracyColumn, courseColumn, speedColumn, timestampColumn}) {
        const std::optional<double> value = parseCDouble(row[column]);
        if (!value)
            return std::nullopt;
        values[column] = *value;
    }
    // A point off the globe or outside time would be played into every
    // simulator; such rows are as unusable as a non-numeric one.
    if (!isValidCoordinate(values[latitudeColumn], values[longitudeColumn]) ||
        !std::isfinite(values[timestampColumn]))
        return std::nullopt;

    Location location(values[latitudeColumn], values[longitudeColumn]);
    location.altitude = values[altitudeColumn];
    location.horizontalAccuracy = accuracy(values[horizontalAccuracyColumn]);
    location.verticalAccuracy = accuracy(values[verticalAccuracyColumn]);
    location.course = values[courseColumn];
    location.speed = values[speedColumn];
    location.timestamp = values[timestampColumn];
    return location;
}

// Only a regular file, opened without blocking: a named pipe or a device
// fails at once instead of hanging or reading without end.
std::shared_ptr<InputStream> fileStream(const std::filesystem::path &path)
{
    RegularFile file(path);
    if (!file.isOpen())
        throw CSVError(CSVError::Code::cannotOpenFile);
    return std::make_shared<FileInputStream>(path, file.release());
}

std::shared_ptr<InputStream> fileStream(const QUrl &url)
{
    if (!url.isLocalFile())
        throw CSVParser::Error(CSVParser::ParserError::resourceNotFoundError);
    return fileStream(std::filesystem::path(QFile::encodeName(url.toLocalFile()).toStdString()));
}

} // namespace

CSVParser::Error::Error(ParserError code) : code_(code), description_(CSVParser::description(code))
{
}

std::string CSVParser::description(ParserError code)
{
    switch (code) {
    case ParserError::resourceNotFoundError:
        return "The file could not be found, or it is not a file on this computer.";
    case ParserError::noLocationsError: return "The file holds no usable locations.";
    case ParserError::badData: return "The file holds data that cannot be read as locations.";
    case ParserError::incompleteData: return "A location in the file is incomplete.";
    case ParserError::unknown: break;
    }
    return "An unknown error occurred while reading the file.";
}

CSVParser::CSVParser(const QUrl &url) : CSVParser(fileStream(url))
{
}

CSVParser::CSVParser(const std::filesystem::path &path) : CSVParser(fileStream(path))
{
}

CSVParser::CSVParser(const QByteArray &data)
    : CSVParser(std::make_shared<MemoryInputStream>(data.toStdString()))
{
}

CSVParser::CSVParser(std::shared_ptr<InputStream> stream)
    : parser_(new CSVReader(CSVReader::initWithStream(std::move(stream), false, false, U',',
                                                      CSVReader::defaultWhitespaces())))
{
}

CSVParser::CSVParser(CSVParser &&) noexcept = default;
CSVParser &CSVParser::operator=(CSVParser &&) noexcept = default;
CSVParser::~CSVParser() = default;

const std::vector<Location> &CSVParser::parse()
{
    while (!finished_) {
        const CSVReader::Row *row = parser_->readRow();
        // A row that comes with an error was cut short by it: never use it.
        if (!row || parser_->error()) {
            finished_ = true;
            break;
        }
        if (std::optional<Location> location = locationFrom(*row))
            locations_.push_back(std::move(*location));
    }
    if (parser_->error())
        throw *parser_->error();
    return locations_;
}

} // namespace corvane
