#pragma once

#include "csv/Endian.h"
#include "csv/OutputStream.h"
#include "csv/UnicodeCodecs.h"

#include <concepts>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ranges>
#include <string>
#include <string_view>

namespace corvane {

// Writes rows of text fields as CSV in UTF-8, UTF-16 or UTF-32, with no
// byte-order mark. A field is quoted when asked to, or when it holds a double
// quote, the delimiter, a carriage return or a line feed; quotes inside are
// doubled. Fields are UTF-8; an invalid sequence in one is written as U+FFFD.
//
// Rows are separated by the newline, not terminated: nothing follows the last
// row. So two rows do not survive a read back: a row with no fields writes
// nothing at all, and a last row of one empty field reads back as no row.
class CSVWriter {
public:
    enum class Newline { lf, crlf };

    struct Configuration {
        std::string delimiter; // written as it stands between fields
        std::string newline;   // the text of the chosen `Newline`
    };

    // Each opens the stream when it is not open yet, and throws
    // `CSVError` `cannotOpenFile` when it is not open afterwards. UTF-16 and
    // UTF-32 are written least significant byte first unless `endian` is `big`.
    explicit CSVWriter(std::shared_ptr<OutputStream> stream, std::string delimiter = ",",
                       Newline newline = Newline::lf);
    CSVWriter(std::shared_ptr<OutputStream> stream, UTF8Codec codec, std::string delimiter = ",",
              Newline newline = Newline::lf);
    CSVWriter(std::shared_ptr<OutputStream> stream, UTF16Codec codec, Endian endian,
              std::string delimiter = ",", Newline newline = Newline::lf);
    CSVWriter(std::shared_ptr<OutputStream> stream, UTF32Codec codec, Endian endian,
              std::string delimiter = ",", Newline newline = Newline::lf);
    // Closes the stream when it is open.
    ~CSVWriter();
    CSVWriter(const CSVWriter &) = delete;
    CSVWriter &operator=(const CSVWriter &) = delete;

    const Configuration &configuration() const { return configuration_; }

    // The next field starts a new row.
    void beginNewRow() { isFirstField_ = true; }

    // Writes one field after the separator it needs; `quoted` forces quotes.
    // Throws `cannotWriteStream` when the stream takes fewer bytes than
    // offered; what was written stays, and a retry goes on after it.
    void writeField(std::string_view field, bool quoted = false);

    // Writes one row; `quotedAtIndex` tells by 0-based index which fields to
    // quote regardless of their text. Stops at the first failure.
    template <std::ranges::input_range Row>
    requires std::convertible_to<std::ranges::range_reference_t<Row>, std::string_view>
    void writeRow(const Row &row, const std::function<bool(std::size_t)> &quotedAtIndex = {})
    {
        isFirstField_ = true;
        std::size_t index = 0;
        for (auto &&field : row) {
            writeField(field, quotedAtIndex && quotedAtIndex(index));
            ++index;
        }
    }
    void writeRow(std::initializer_list<std::string_view> row,
                  const std::function<bool(std::size_t)> &quotedAtIndex = {})
    {
        writeRow<std::initializer_list<std::string_view>>(row, quotedAtIndex);
    }

private:
    enum class Encoding { utf8, utf16, utf32 };

    CSVWriter(std::shared_ptr<OutputStream> stream, Encoding encoding, Endian endian,
              std::string delimiter, Newline newline);
    void writeText(std::string_view text);
    void writeScalar(char32_t scalar);

    std::shared_ptr<OutputStream> stream_;
    Configuration configuration_;
    Encoding encoding_;
    bool bigEndian_;
    bool isFirstRow_ = true;
    bool isFirstField_ = true;
};

} // namespace corvane
