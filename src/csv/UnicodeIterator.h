#pragma once

#include "csv/BinaryReader.h"
#include "csv/CSVError.h"
#include "csv/Sequence.h"
#include "csv/UnicodeCodecs.h"

#include <concepts>
#include <optional>
#include <string_view>

namespace corvane {

// Unicode scalars decoded from an iterator of code units. An invalid sequence
// ends the current run with `unicodeDecoding`; the next step goes on after it.
template <class Input, class Codec>
class UnicodeIterator : public Sequence<UnicodeIterator<Input, Codec>> {
public:
    explicit UnicodeIterator(Input input, Codec codec = {})
        : input_(std::move(input)), codec_(std::move(codec))
    {
    }

    Input &input() { return input_; }
    const Codec &inputEncoding() const { return codec_; }
    void setErrorHandler(CSVErrorHandler handler) { errorHandler_ = std::move(handler); }

    std::optional<char32_t> next()
    {
        const DecodingResult result = codec_.decode(input_);
        if (result.kind == DecodingResult::Kind::scalar) [[likely]]
            return result.scalar;
        if (result.kind == DecodingResult::Kind::error && errorHandler_)
            errorHandler_(CSVError(CSVError::Code::unicodeDecoding));
        return std::nullopt;
    }

    // UTF-8 from a byte reader: the buffered bytes that come next, for a
    // reader that takes plain ASCII as it stands; empty while the codec
    // holds a byte back.
    std::string_view window() const requires std::same_as<Input, BinaryReader::UInt8Iterator> &&
        std::same_as<Codec, UTF8Codec>
    {
        return codec_.holdsBackUnit() ? std::string_view() : input_.reader()->bufferedBytes();
    }
    void consume(std::size_t count) requires std::same_as<Input, BinaryReader::UInt8Iterator> &&
        std::same_as<Codec, UTF8Codec>
    {
        input_.reader()->skipBufferedBytes(count);
    }

private:
    Input input_;
    Codec codec_;
    CSVErrorHandler errorHandler_;
};

} // namespace corvane
