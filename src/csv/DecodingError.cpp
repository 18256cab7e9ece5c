#include "csv/DecodingError.h"

namespace corvane {

DecodingError::DecodingError(Kind kind, std::string typeName, std::optional<CodingKey> key,
                             CodingPath codingPath, std::string debugDescription)
    : kind_(kind), typeName_(std::move(typeName)), key_(std::move(key)),
      codingPath_(std::move(codingPath)), debugDescription_(std::move(debugDescription)),
      what_(debugDescription_)
{
    if (codingPath_.empty())
        return;
    what_ += " (coding path: ";
    for (std::size_t i = 0; i < codingPath_.size(); ++i)
        what_ += (i > 0 ? "." : "") + codingPath_[i].stringValue();
    what_ += ')';
}

DecodingError DecodingError::typeMismatch(std::string typeName, CodingPath codingPath,
                                          std::string debugDescription)
{
    return DecodingError(Kind::typeMismatch, std::move(typeName), std::nullopt,
                         std::move(codingPath), std::move(debugDescription));
}

DecodingError DecodingError::valueNotFound(std::string typeName, CodingPath codingPath,
                                           std::string debugDescription)
{
    return DecodingError(Kind::valueNotFound, std::move(typeName), std::nullopt,
                         std::move(codingPath), std::move(debugDescription));
}

DecodingError DecodingError::keyNotFound(CodingKey key, CodingPath codingPath,
                                         std::string debugDescription)
{
    return DecodingError(Kind::keyNotFound, std::string(), std::move(key), std::move(codingPath),
                         std::move(debugDescription));
}

DecodingError DecodingError::dataCorrupted(CodingPath codingPath, std::string debugDescription)
{
    return DecodingError(Kind::dataCorrupted, std::string(), std::nullopt, std::move(codingPath),
                         std::move(debugDescription));
}

} // namespace corvane
