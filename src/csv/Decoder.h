#pragma once

#include "csv/CSVRowDecoderOptions.h"
#include "csv/CSVValueConversion.h"
#include "csv/CodingKey.h"
#include "csv/Decodable.h"
#include "csv/DecodingError.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class CSVReader;
class KeyedDecodingContainer;
class SingleValueDecodingContainer;

// Decodes one record from the current row of a CSV reader; made by
// `CSVRowDecoder::decode` for one call. A key names a column by its integer
// value when it has one (0 is the first field), else by header name, names
// being compared in Unicode normalisation form C. A record's fields may
// themselves be records: their keys look up columns of the same row.
class Decoder {
public:
    // Turns a header name into one of the record's keys, or none to leave
    // the name out of `allKeys`.
    using KeyFromName = std::function<std::optional<CodingKey>(const std::string &)>;

    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    // The keys from the top-level record down to the value being decoded.
    const CodingPath &codingPath() const { return codingPath_; }
    const CSVRowDecoderOptions::UserInfo &userInfo() const { return options_.userInfo; }

    // Without `keyFromName`, every header name is a key.
    KeyedDecodingContainer container(KeyFromName keyFromName = {});
    // CSV has no lists: always throws `valueNotFound`.
    [[noreturn]] void unkeyedContainer();
    // Reads the field of the last key on the coding path.
    SingleValueDecodingContainer singleValueContainer();

private:
    friend class CSVRowDecoder;
    friend class KeyedDecodingContainer;
    friend class SingleValueDecodingContainer;

    // Which message a value that counts as nil gets.
    enum class NilWording { keyed, singleValue };

    Decoder(const CSVReader &reader, CSVRowDecoderOptions options);

    // The text of a contained key; null when the key is not contained.
    const std::string *lookUp(const CodingKey &key) const;
    // The text of a key; throws `keyNotFound` when it is not contained.
    const std::string &textOf(const CodingKey &key) const;
    // The single value's text: that of the last key on the path, if any.
    const std::string *singleValueText() const;
    bool isNil(const std::string &text) const;

    template <class T> T convert(const std::string &text, NilWording wording);
    template <class T> T convertNumber(const std::string &text);
    [[noreturn]] void throwValueNotFound(const std::string &typeName, NilWording wording) const;
    [[noreturn]] void throwTypeMismatch(const std::string &typeName, const std::string &text) const;
    [[noreturn]] void throwDataCorrupted(std::string debugDescription) const;
    bool convertBool(const std::string &text);
    Date convertDate(const std::string &text);
    QByteArray convertData(const std::string &text);
    QUrl convertURL(const std::string &text);
    Decimal convertDecimal(const std::string &text);

    // Keeps `key` on the coding path while a value is converted.
    class PathScope {
    public:
        PathScope(Decoder &decoder, const CodingKey &key) : decoder_(decoder)
        {
            decoder_.codingPath_.push_back(key);
        }
        ~PathScope() { decoder_.codingPath_.pop_back(); }
        PathScope(const PathScope &) = delete;
        PathScope &operator=(const PathScope &) = delete;

    private:
        Decoder &decoder_;
    };

    const CSVReader &reader_;
    const CSVRowDecoderOptions options_;
    bool hasHeaderRow_ = false;
    // The header names after the key strategy, and those in form C.
    std::vector<std::string> headerNames_;
    std::vector<std::string> headerKeys_;
    CodingPath codingPath_;
};

// Reads a record's fields by key from the current row.
class KeyedDecodingContainer {
public:
    const CodingPath &codingPath() const { return decoder_->codingPath(); }
    // The header names as keys, in column order; empty without a header row.
    std::vector<CodingKey> allKeys() const;
    bool contains(const CodingKey &key) const { return decoder_->lookUp(key) != nullptr; }
    // Whether the key's text counts as nil; throws `keyNotFound` when the
    // key is not contained.
    bool decodeNil(const CodingKey &key) const { return decoder_->isNil(decoder_->textOf(key)); }

    // Throws `keyNotFound` when the key is not contained, `valueNotFound`
    // when its text counts as nil, and the conversion's errors.
    template <class T> T decode(const CodingKey &key) const
    {
        const std::string &text = decoder_->textOf(key);
        const Decoder::PathScope scope(*decoder_, key);
        return decoder_->convert<T>(text, Decoder::NilWording::keyed);
    }
    // None when the key is not contained or its text counts as nil.
    template <class T> std::optional<T> decodeIfPresent(const CodingKey &key) const
    {
        const std::string *text = decoder_->lookUp(key);
        if (!text || decoder_->isNil(*text))
            return std::nullopt;
        return decode<T>(key);
    }

    // CSV has no nested values: these always throw `dataCorrupted`.
    [[noreturn]] KeyedDecodingContainer nestedContainer(const CodingKey &key) const;
    [[noreturn]] void nestedUnkeyedContainer(const CodingKey &key) const;
    [[noreturn]] Decoder &superDecoder() const;
    [[noreturn]] Decoder &superDecoder(const CodingKey &key) const;

private:
    friend class Decoder;
    KeyedDecodingContainer(Decoder &decoder, Decoder::KeyFromName keyFromName)
        : decoder_(&decoder), keyFromName_(std::move(keyFromName))
    {
    }

    Decoder *decoder_;
    Decoder::KeyFromName keyFromName_;
};

// Reads the one field named by the last key on the coding path. With an
// empty coding path there is no field, and the value counts as nil.
class SingleValueDecodingContainer {
public:
    const CodingPath &codingPath() const { return decoder_->codingPath(); }
    bool decodeNil() const
    {
        const std::string *text = decoder_->singleValueText();
        return !text || decoder_->isNil(*text);
    }
    // Throws `valueNotFound` when the text counts as nil, and the
    // conversion's errors.
    template <class T> T decode() const
    {
        const std::string *text = decoder_->singleValueText();
        if (!text)
            decoder_->throwValueNotFound(decodingTypeName<T>(), Decoder::NilWording::singleValue);
        return decoder_->convert<T>(*text, Decoder::NilWording::singleValue);
    }

private:
    friend class Decoder;
    explicit SingleValueDecodingContainer(Decoder &decoder) : decoder_(&decoder) {}
    Decoder *decoder_;
};

inline KeyedDecodingContainer Decoder::container(KeyFromName keyFromName)
{
    return KeyedDecodingContainer(*this, std::move(keyFromName));
}

inline SingleValueDecodingContainer Decoder::singleValueContainer()
{
    return SingleValueDecodingContainer(*this);
}

template <class T> T Decoder::convertNumber(const std::string &text)
{
    std::optional<T> value;
    if constexpr (std::same_as<T, double>)
        value = parseDouble(text);
    else if constexpr (std::same_as<T, float>)
        value = parseFloat(text);
    else if constexpr (std::same_as<T, Int>)
        value = parseInteger<std::int64_t>(text);
    else if constexpr (std::same_as<T, UInt>)
        value = parseInteger<std::uint64_t>(text);
    else
        value = parseInteger<T>(text);
    if (!value)
        throwTypeMismatch(decodingTypeName<T>(), text);
    return *value;
}

template <class T> T Decoder::convert(const std::string &text, NilWording wording)
{
    if (isNil(text))
        throwValueNotFound(decodingTypeName<T>(), wording);
    if constexpr (std::same_as<T, bool>)
        return convertBool(text);
    else if constexpr (std::same_as<T, std::string>)
        return text;
    else if constexpr (BasicDecodable<T>)
        return convertNumber<T>(text);
    else if constexpr (std::same_as<T, Date>)
        return convertDate(text);
    else if constexpr (std::same_as<T, QByteArray>)
        return convertData(text);
    else if constexpr (std::same_as<T, QUrl>)
        return convertURL(text);
    else if constexpr (std::same_as<T, Decimal>)
        return convertDecimal(text);
    else
        return Decodable<T>::decode(*this);
}

// A basic or strategy type asked for as a whole record reads a single value.
template <class T>
requires BasicDecodable<T> || StrategyDecodable<T>
struct Decodable<T> {
    static T decode(Decoder &decoder) { return decoder.singleValueContainer().decode<T>(); }
};

template <class T> struct Decodable<std::vector<T>> {
    [[noreturn]] static std::vector<T> decode(Decoder &decoder) { decoder.unkeyedContainer(); }
};

} // namespace corvane
