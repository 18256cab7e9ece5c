#pragma once

#include "csv/CharacterSet.h"

namespace corvane {

// Horizontal whitespace: tab and the space separators; no line ends.
const CharacterSet &csvDefaultWhitespaces();

// How a `CSVReader` splits its text (`CSVReader::Configuration`).
struct CSVReaderConfiguration {
    bool hasHeaderRow = false;
    bool trimFields = false;
    char32_t delimiter = U',';
    CharacterSet whitespaces = csvDefaultWhitespaces();

    friend bool operator==(const CSVReaderConfiguration &,
                           const CSVReaderConfiguration &) = default;
};

} // namespace corvane
