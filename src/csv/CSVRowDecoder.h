#pragma once

#include "csv/CSVRowDecoderOptions.h"
#include "csv/Decoder.h"

namespace corvane {

class CSVReader;

// Decodes the current row of a CSV reader into a record, one row per call:
// the caller steps the reader, which the decoder never moves. The record
// type reads itself (`static T decode(Decoder &)`, or a `Decodable`
// specialisation) through a keyed container, by header name or by column
// index. One decoder may serve any number of rows and readers; each call
// works on a copy of the options taken at its start.
class CSVRowDecoder : public CSVRowDecoderOptions {
public:
    using Options = CSVRowDecoderOptions;

    // The older form of the nil strategy: `standard` for `empty`,
    // `allowEmpty` for `never`.
    enum class StringDecodingStrategy { standard, allowEmpty };

    // Throws `std::logic_error` while the nil strategy is `custom`, which
    // this older form cannot tell.
    StringDecodingStrategy stringDecodingStrategy() const;
    void setStringDecodingStrategy(StringDecodingStrategy strategy);

    // Throws `DecodingError`, and whatever the record's own decoding or a
    // custom strategy throws. With no current row, every key is absent.
    template <class T> T decode(const CSVReader &reader) const
    {
        Decoder decoder(reader, static_cast<const Options &>(*this));
        return Decodable<T>::decode(decoder);
    }
};

} // namespace corvane
