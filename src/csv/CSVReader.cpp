#include "csv/CSVReader.h"

#include "csv/BinaryReader.h"
#include "csv/UnicodeIterator.h"

#include <algorithm>
#include <stdexcept>

namespace corvane {

namespace {

// The scalars of UTF-8 text in memory. Text that is not valid UTF-8 reads
// with each invalid sequence replaced by U+FFFD.
class StringScalarIterator {
public:
    explicit StringScalarIterator(std::string text) : text_(std::move(text)) {}

    std::optional<char32_t> next()
    {
        Bytes bytes{*this};
        const DecodingResult result = codec_.decode(bytes);
        switch (result.kind) {
        case DecodingResult::Kind::scalar: return result.scalar;
        case DecodingResult::Kind::error: return U'\uFFFD';
        case DecodingResult::Kind::emptyInput: break;
        }
        return std::nullopt;
    }

    std::string_view window() const
    {
        return codec_.holdsBackUnit() ? std::string_view()
                                      : std::string_view(text_).substr(position_);
    }
    void consume(std::size_t count) { position_ += count; }

private:
    struct Bytes {
        StringScalarIterator &owner;
        std::optional<std::uint8_t> next()
        {
            if (owner.position_ >= owner.text_.size())
                return std::nullopt;
            return static_cast<std::uint8_t>(owner.text_[owner.position_++]);
        }
    };

    std::string text_;
    std::size_t position_ = 0;
    UTF8Codec codec_;
};

} // namespace

const CharacterSet &csvDefaultWhitespaces()
{
    static const CharacterSet whitespaces = [] {
        CharacterSet set{U'\t', U' ', U'\u00A0', U'\u1680', U'\u202F', U'\u205F', U'\u3000'};
        set.insert(U'\u2000', U'\u200A');
        return set;
    }();
    return whitespaces;
}

CSVReader::Configuration CSVReader::configurationOf(bool hasHeaderRow, bool trimFields,
                                                    char32_t delimiter,
                                                    const CharacterSet &whitespaces)
{
    Configuration configuration{hasHeaderRow, trimFields, delimiter, whitespaces};
    // A tab delimiter must never be trimmed away.
    configuration.whitespaces.remove(delimiter);
    return configuration;
}

template <class CodeUnitIterator, class Codec>
void CSVReader::startDecoding(std::shared_ptr<InputStream> stream, Codec codec,
                              std::optional<Endian> endian)
{
    using Source = UnicodeIterator<CodeUnitIterator, Codec>;
    Source source(CodeUnitIterator(BinaryReader::open(std::move(stream), endian,
                                                      sizeof(typename CodeUnitIterator::Unit))),
                  std::move(codec));
    // Installed before the header row is read, so that its errors are kept too.
    // The reader cannot move, so `this` stays valid for the handlers' life.
    const CSVErrorHandler record = [this](const CSVError &error) { error_ = error; };
    source.input().setErrorHandler(record);
    source.setErrorHandler(record);
    start(std::make_unique<detail::CSVTokenizer<Source>>(std::move(source), configuration_));
}

CSVReader::CSVReader(std::shared_ptr<InputStream> stream, UTF8Codec codec, bool hasHeaderRow,
                     bool trimFields, char32_t delimiter, const CharacterSet &whitespaces)
    : configuration_(configurationOf(hasHeaderRow, trimFields, delimiter, whitespaces))
{
    startDecoding<BinaryReader::UInt8Iterator>(std::move(stream), std::move(codec), std::nullopt);
}

CSVReader::CSVReader(std::shared_ptr<InputStream> stream, UTF16Codec codec, Endian endian,
                     bool hasHeaderRow, bool trimFields, char32_t delimiter,
                     const CharacterSet &whitespaces)
    : configuration_(configurationOf(hasHeaderRow, trimFields, delimiter, whitespaces))
{
    startDecoding<BinaryReader::UInt16Iterator>(std::move(stream), std::move(codec), endian);
}

CSVReader::CSVReader(std::shared_ptr<InputStream> stream, UTF32Codec codec, Endian endian,
                     bool hasHeaderRow, bool trimFields, char32_t delimiter,
                     const CharacterSet &whitespaces)
    : configuration_(configurationOf(hasHeaderRow, trimFields, delimiter, whitespaces))
{
    startDecoding<BinaryReader::UInt32Iterator>(std::move(stream), std::move(codec), endian);
}

CSVReader CSVReader::initWithStream(std::shared_ptr<InputStream> stream, bool hasHeaderRow,
                                    bool trimFields, char32_t delimiter,
                                    const CharacterSet &whitespaces)
{
    return CSVReader(std::move(stream), UTF8Codec(), hasHeaderRow, trimFields, delimiter,
                     whitespaces);
}

CSVReader::CSVReader(std::string text, bool hasHeaderRow, bool trimFields, char32_t delimiter,
                     const CharacterSet &whitespaces)
    : CSVReader(StringScalarIterator(std::move(text)),
                configurationOf(hasHeaderRow, trimFields, delimiter, whitespaces))
{
}

CSVReader::~CSVReader() = default;

void CSVReader::start(std::unique_ptr<detail::RowSource> rows)
{
    rows_ = std::move(rows);
    if (!configuration_.hasHeaderRow)
        return;
    if (!rows_->readRow(row_))
        throw CSVError(CSVError::Code::cannotReadHeaderRow);
    headerRow_ = row_;
}

const CSVReader::Row *CSVReader::readRow()
{
    hasCurrentRow_ = rows_->readRow(row_);
    return currentRow();
}

std::optional<std::string_view> CSVReader::operator[](std::string_view headerName) const
{
    if (!headerRow_)
        throw std::logic_error("CSVReader.headerRow must not be nil");
    const auto header = std::find(headerRow_->begin(), headerRow_->end(), headerName);
    if (header == headerRow_->end())
        return std::nullopt;
    if (!hasCurrentRow_)
        throw std::logic_error("CSVReader.currentRow must not be nil");
    const auto column = static_cast<std::size_t>(header - headerRow_->begin());
    if (column >= row_.size())
        return std::string_view();
    return std::string_view(row_[column]);
}

} // namespace corvane
