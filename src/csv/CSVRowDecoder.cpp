#include "csv/CSVRowDecoder.h"

#include <stdexcept>

namespace corvane {

CSVRowDecoder::StringDecodingStrategy CSVRowDecoder::stringDecodingStrategy() const
{
    switch (nilDecodingStrategy.kind) {
    case NilDecodingStrategy::Kind::empty: return StringDecodingStrategy::standard;
    case NilDecodingStrategy::Kind::never: return StringDecodingStrategy::allowEmpty;
    case NilDecodingStrategy::Kind::custom: break;
    }
    throw std::logic_error(
        "'StringDecodingStrategy.custom' is deprecated: renamed to 'NilDecodingStrategy.custom'");
}

void CSVRowDecoder::setStringDecodingStrategy(StringDecodingStrategy strategy)
{
    nilDecodingStrategy = strategy == StringDecodingStrategy::standard
                              ? NilDecodingStrategy::empty()
                              : NilDecodingStrategy::never();
}

} // namespace corvane
