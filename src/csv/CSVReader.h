#pragma once

#include "csv/CSVError.h"
#include "csv/CSVReaderConfiguration.h"
#include "csv/CSVTokenizer.h"
#include "csv/Endian.h"
#include "csv/InputStream.h"
#include "csv/Sequence.h"
#include "csv/UnicodeCodecs.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Reads CSV text row by row. It is forgiving: malformed quoting is content,
// and a read or decoding failure only ends the row in progress and is kept
// in `error()`; asked again, the reader goes on after an invalid sequence.
//
// Rows are lent, not given: the row a step returns, `currentRow()` and
// field lookups stay valid until the next step. The reader cannot move,
// because its input reports errors into it.
class CSVReader : public Sequence<CSVReader> {
public:
    using Configuration = CSVReaderConfiguration;
    using Row = std::vector<std::string>;

    static const CharacterSet &defaultWhitespaces() { return csvDefaultWhitespaces(); }

    // Any iterator of scalars, with the configuration as given. Reads the
    // header row at once when one is expected: throws `cannotReadHeaderRow`
    // when there is none.
    template <ScalarIterator Iterator>
    CSVReader(Iterator iterator, Configuration configuration)
        : configuration_(std::move(configuration))
    {
        start(
            std::make_unique<detail::CSVTokenizer<Iterator>>(std::move(iterator), configuration_));
    }

    // Text in a stream, with or without a byte-order mark. These and the
    // string reader leave the delimiter out of `whitespaces`. Opening throws
    // `cannotOpenFile`, `cannotReadFile` or `stringEndianMismatch`.
    CSVReader(std::shared_ptr<InputStream> stream, UTF8Codec codec, bool hasHeaderRow = false,
              bool trimFields = false, char32_t delimiter = U',',
              const CharacterSet &whitespaces = defaultWhitespaces());
    CSVReader(std::shared_ptr<InputStream> stream, UTF16Codec codec, Endian endian,
              bool hasHeaderRow = false, bool trimFields = false, char32_t delimiter = U',',
              const CharacterSet &whitespaces = defaultWhitespaces());
    CSVReader(std::shared_ptr<InputStream> stream, UTF32Codec codec, Endian endian,
              bool hasHeaderRow = false, bool trimFields = false, char32_t delimiter = U',',
              const CharacterSet &whitespaces = defaultWhitespaces());
    // UTF-8 text in a stream.
    static CSVReader initWithStream(std::shared_ptr<InputStream> stream, bool hasHeaderRow = false,
                                    bool trimFields = false, char32_t delimiter = U',',
                                    const CharacterSet &whitespaces = defaultWhitespaces());
    // UTF-8 text in memory; invalid sequences read as U+FFFD.
    explicit CSVReader(std::string text, bool hasHeaderRow = false, bool trimFields = false,
                       char32_t delimiter = U',',
                       const CharacterSet &whitespaces = defaultWhitespaces());

    CSVReader(const CSVReader &) = delete;
    CSVReader &operator=(const CSVReader &) = delete;
    ~CSVReader();

    // The next row, or null at the end of the input.
    const Row *readRow();
    const Row *next() { return readRow(); }

    // The latest error the input reported; never cleared.
    const std::optional<CSVError> &error() const { return error_; }
    const Row *headerRow() const { return headerRow_ ? &*headerRow_ : nullptr; }
    // The row the last step returned; null before the first and after the end.
    const Row *currentRow() const { return hasCurrentRow_ ? &row_ : nullptr; }
    const Configuration &configuration() const { return configuration_; }

    // The current row's field in the column of the first header equal to
    // `headerName`: none when no header matches, "" when the row is shorter.
    // Without a header row, or with a match but no current row, throws
    // `std::logic_error`.
    std::optional<std::string_view> operator[](std::string_view headerName) const;

private:
    static Configuration configurationOf(bool hasHeaderRow, bool trimFields, char32_t delimiter,
                                         const CharacterSet &whitespaces);
    template <class CodeUnitIterator, class Codec>
    void startDecoding(std::shared_ptr<InputStream> stream, Codec codec,
                       std::optional<Endian> endian);
    void start(std::unique_ptr<detail::RowSource> rows);

    Configuration configuration_;
    std::optional<CSVError> error_;
    std::unique_ptr<detail::RowSource> rows_;
    Row row_;
    bool hasCurrentRow_ = false;
    std::optional<Row> headerRow_;
};

} // namespace corvane
