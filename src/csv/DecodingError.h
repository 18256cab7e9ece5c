#pragma once

#include "csv/CodingKey.h"

#include <exception>
#include <optional>
#include <string>

namespace corvane {

// Why a record could not be decoded, and where: the coding path leads from
// the top-level record to the value that failed.
class DecodingError : public std::exception {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    // A value that is not of the type asked for.
    static DecodingError typeMismatch(std::string typeName, CodingPath codingPath,
                                      std::string debugDescription);
    // A value that counts as nil where the type asked for needs one.
    static DecodingError valueNotFound(std::string typeName, CodingPath codingPath,
                                       std::string debugDescription);
    static DecodingError keyNotFound(CodingKey key, CodingPath codingPath,
                                     std::string debugDescription);
    static DecodingError dataCorrupted(CodingPath codingPath, std::string debugDescription);

    Kind kind() const noexcept { return kind_; }
    // The type asked for, for `typeMismatch` and `valueNotFound`; else empty.
    const std::string &typeName() const noexcept { return typeName_; }
    // The missing key, for `keyNotFound`.
    const std::optional<CodingKey> &key() const noexcept { return key_; }
    const CodingPath &codingPath() const noexcept { return codingPath_; }
    const std::string &debugDescription() const noexcept { return debugDescription_; }
    // The debug description, and the coding path when there is one.
    const char *what() const noexcept override { return what_.c_str(); }

private:
    DecodingError(Kind kind, std::string typeName, std::optional<CodingKey> key,
                  CodingPath codingPath, std::string debugDescription);

    Kind kind_;
    std::string typeName_;
    std::optional<CodingKey> key_;
    CodingPath codingPath_;
    std::string debugDescription_;
    std::string what_;
};

} // namespace corvane
