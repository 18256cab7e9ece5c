#include "csv/location/CSVParser.h"

#include "core/NumberParsing.h"
#include "csv/FileInputStream.h"
#include "csv/MemoryInputStream.h"
#include "platform/files/RegularFile.h"

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

// What the bounded stream says when its file grew past the limit.
const std::string grewTooLargeText = "the file grew past the largest size read";

// A file's stream that fails once it has given more than the limit, in case
// the file grows while it is read.
class BoundedInputStream final : public InputStream {
public:
    explicit BoundedInputStream(std::shared_ptr<InputStream> inner) : inner_(std::move(inner)) {}

    void open() override
    {
        inner_->open();
        mirror();
    }
    bool hasBytesAvailable() override
    {
        return status() == StreamStatus::error || inner_->hasBytesAvailable();
    }
    void close() override
    {
        inner_->close();
        setStatus(StreamStatus::closed);
    }

private:
    std::ptrdiff_t readOpen(std::uint8_t *buffer, std::size_t maxLength) override
    {
        const std::ptrdiff_t count = inner_->read(buffer, maxLength);
        if (count > 0)
            given_ += count;
        if (given_ > CSVParser::maximumFileSize) {
            fail(grewTooLargeText);
            return -1;
        }
        mirror();
        return count;
    }

    void mirror()
    {
        if (inner_->status() == StreamStatus::error)
            fail(inner_->streamError().value_or(std::string()));
        else
            setStatus(inner_->status());
    }

    std::shared_ptr<InputStream> inner_;
    std::int64_t given_ = 0;
};

// Only a regular file, opened without blocking: a named pipe or a device
// fails at once instead of hanging or reading without end.
std::shared_ptr<InputStream> fileStream(const std::filesystem::path &path)
{
    RegularFile file(path);
    if (!file.isOpen())
        throw CSVError(CSVError::Code::cannotOpenFile);
    // Refused before a byte of it is read.
    if (file.size() > CSVParser::maximumFileSize)
        throw CSVParser::Error(CSVParser::ParserError::fileTooLarge);
    auto stream = std::make_shared<FileInputStream>(path, file.release());
    return std::make_shared<BoundedInputStream>(std::move(stream));
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
    case ParserError::fileTooLarge: return routeFileTooLargeText();
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
    if (const auto &error = parser_->error()) {
        if (error->code() == CSVError::Code::streamErrorHasOccurred &&
            error->streamError() == grewTooLargeText)
            throw Error(ParserError::fileTooLarge);
        throw *error;
    }
    return locations_;
}

} // namespace corvane
