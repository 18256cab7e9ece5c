#include "csv/Decoder.h"

#include "csv/CSVReader.h"

namespace corvane {

namespace {

// The text of a column that the current row is too short to have.
const std::string emptyText;

std::string convertedName(const CSVRowDecoderOptions::KeyDecodingStrategy &strategy,
                          const std::string &name)
{
    using Kind = CSVRowDecoderOptions::KeyDecodingStrategy::Kind;
    switch (strategy.kind) {
    case Kind::useDefaultKeys: break;
    case Kind::convertFromSnakeCase: return convertFromSnakeCase(name);
    case Kind::custom: return strategy.closure(name);
    }
    return name;
}

} // namespace

Decoder::Decoder(const CSVReader &reader, CSVRowDecoderOptions options)
    : reader_(reader), options_(std::move(options))
{
    const CSVReader::Row *header = reader_.headerRow();
    if (!header)
        return;
    hasHeaderRow_ = true;
    headerNames_.reserve(header->size());
    headerKeys_.reserve(header->size());
    for (const std::string &name : *header) {
        headerNames_.push_back(convertedName(options_.keyDecodingStrategy, name));
        headerKeys_.push_back(canonicalForm(headerNames_.back()));
    }
}

void Decoder::unkeyedContainer()
{
    throw DecodingError::valueNotFound(
        "UnkeyedDecodingContainer", codingPath_,
        "Cannot get unkeyed decoding container -- found null value instead.");
}

const std::string *Decoder::lookUp(const CodingKey &key) const
{
    const CSVReader::Row *row = reader_.currentRow();
    if (!row)
        return nullptr;
    if (const std::optional<int> index = key.intValue()) {
        if (*index < 0 || static_cast<std::size_t>(*index) >= row->size())
            return nullptr;
        return &(*row)[static_cast<std::size_t>(*index)];
    }
    if (!hasHeaderRow_)
        return nullptr;
    const std::string name = canonicalForm(key.stringValue());
    for (std::size_t column = 0; column < headerKeys_.size(); ++column) {
        if (headerKeys_[column] == name)
            return column < row->size() ? &(*row)[column] : &emptyText;
    }
    return nullptr;
}

const std::string &Decoder::textOf(const CodingKey &key) const
{
    if (const std::string *text = lookUp(key))
        return *text;
    throw DecodingError::keyNotFound(key, codingPath_,
                                     "No value associated with key " + key.description() + " (\"" +
                                         key.stringValue() + "\").");
}

const std::string *Decoder::singleValueText() const
{
    return codingPath_.empty() ? nullptr : lookUp(codingPath_.back());
}

bool Decoder::isNil(const std::string &text) const
{
    using Kind = CSVRowDecoderOptions::NilDecodingStrategy::Kind;
    switch (options_.nilDecodingStrategy.kind) {
    case Kind::empty: return text.empty();
    case Kind::never: return false;
    case Kind::custom: return options_.nilDecodingStrategy.closure(text);
    }
    return false;
}

void Decoder::throwValueNotFound(const std::string &typeName, NilWording wording) const
{
    throw DecodingError::valueNotFound(
        typeName, codingPath_,
        wording == NilWording::keyed ? "Expected " + typeName + " value but found null instead."
                                     : "Expected " + typeName + " but found null value instead.");
}

void Decoder::throwTypeMismatch(const std::string &typeName, const std::string &text) const
{
    throw DecodingError::typeMismatch(typeName, codingPath_,
                                      "Expected to decode " + typeName + " but found " + text +
                                          " instead.");
}

void Decoder::throwDataCorrupted(std::string debugDescription) const
{
    throw DecodingError::dataCorrupted(codingPath_, std::move(debugDescription));
}

bool Decoder::convertBool(const std::string &text)
{
    if (options_.boolDecodingStrategy.kind ==
        CSVRowDecoderOptions::BoolDecodingStrategy::Kind::custom)
        return options_.boolDecodingStrategy.closure(text);
    const std::optional<bool> value = parseBool(text);
    if (!value)
        throwTypeMismatch("Bool", text);
    return *value;
}

Date Decoder::convertDate(const std::string &text)
{
    const auto &strategy = options_.dateDecodingStrategy;
    using Kind = CSVRowDecoderOptions::DateDecodingStrategy::Kind;
    switch (strategy.kind) {
    case Kind::deferredToDate:
        return Date::sinceReferenceDate(singleValueContainer().decode<double>());
    case Kind::secondsSince1970: return Date::since1970(convertNumber<double>(text));
    case Kind::millisecondsSince1970: return Date::since1970(convertNumber<double>(text) / 1000.0);
    case Kind::iso8601:
        if (const std::optional<Date> date = parseISO8601Date(text))
            return *date;
        throwDataCorrupted("Expected date string to be ISO8601-formatted.");
    case Kind::formatted:
        if (const std::optional<Date> date = strategy.formatter(text))
            return *date;
        throwDataCorrupted("Date string does not match format expected by formatter.");
    case Kind::custom: return strategy.closure(text);
    }
    throwDataCorrupted("Expected date string to be ISO8601-formatted.");
}

QByteArray Decoder::convertData(const std::string &text)
{
    if (options_.dataDecodingStrategy.kind ==
        CSVRowDecoderOptions::DataDecodingStrategy::Kind::custom)
        return options_.dataDecodingStrategy.closure(text);
    std::optional<QByteArray> data = parseBase64(text);
    if (!data)
        throwDataCorrupted("Encountered Data is not valid Base64.");
    return std::move(*data);
}

QUrl Decoder::convertURL(const std::string &text)
{
    std::optional<QUrl> url = parseURL(text);
    if (!url)
        throwDataCorrupted("Invalid URL string.");
    return std::move(*url);
}

Decimal Decoder::convertDecimal(const std::string &text)
{
    std::optional<Decimal> decimal = Decimal::fromString(text);
    if (!decimal)
        throwDataCorrupted("Invalid Decimal string.");
    return std::move(*decimal);
}

std::vector<CodingKey> KeyedDecodingContainer::allKeys() const
{
    std::vector<CodingKey> keys;
    for (const std::string &name : decoder_->headerNames_) {
        if (!keyFromName_)
            keys.emplace_back(name);
        else if (std::optional<CodingKey> key = keyFromName_(name))
            keys.push_back(std::move(*key));
    }
    return keys;
}

KeyedDecodingContainer KeyedDecodingContainer::nestedContainer(const CodingKey &) const
{
    decoder_->throwDataCorrupted("nestedContainer(...) CSV does not support nested values");
}

void KeyedDecodingContainer::nestedUnkeyedContainer(const CodingKey &) const
{
    decoder_->throwDataCorrupted("nestedUnkeyedContainer(...) CSV does not support nested values");
}

Decoder &KeyedDecodingContainer::superDecoder() const
{
    decoder_->throwDataCorrupted("CSV does not support nested values");
}

Decoder &KeyedDecodingContainer::superDecoder(const CodingKey &) const
{
    decoder_->throwDataCorrupted("CSV does not support nested values");
}

} // namespace corvane
