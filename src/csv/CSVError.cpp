#include "csv/CSVError.h"

namespace corvane {

namespace {

std::string describe(CSVError::Code code, const std::string &streamError)
{
    switch (code) {
    case CSVError::Code::streamErrorHasOccurred:
        return streamError.empty() ? "The file could not be read."
                                   : "The file could not be read: " + streamError;
    case CSVError::Code::cannotOpenFile: return "The file could not be opened.";
    case CSVError::Code::cannotReadFile: return "The file could not be read.";
    case CSVError::Code::cannotWriteStream: return "The file could not be written.";
    case CSVError::Code::unicodeDecoding:
        return "The file holds bytes that are not valid text in its encoding.";
    case CSVError::Code::cannotReadHeaderRow: return "The CSV file has no header row.";
    case CSVError::Code::stringEncodingMismatch:
        return "The file ends in the middle of a character; it is not in the expected text "
               "encoding.";
    case CSVError::Code::stringEndianMismatch:
        return "The byte order of the text is not the expected one, or it cannot be told.";
    }
    return "The CSV file could not be processed.";
}

} // namespace

CSVError::CSVError(Code code) : CSVError(code, std::string())
{
}

CSVError::CSVError(Code code, std::string streamError)
    : code_(code), streamError_(std::move(streamError)), description_(describe(code_, streamError_))
{
}

CSVError CSVError::streamErrorHasOccurred(std::string streamError)
{
    return CSVError(Code::streamErrorHasOccurred, std::move(streamError));
}

} // namespace corvane
