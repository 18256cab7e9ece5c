#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane {

// Names a field of a record: by its string value, or by an integer value
// when it has one (for CSV, a column index). The description stands for the
// key in error messages.
class CodingKey {
public:
    // A key by name, with no integer value.
    CodingKey(std::string stringValue) : stringValue_(std::move(stringValue)) {}
    CodingKey(const char *stringValue) : stringValue_(stringValue) {}
    CodingKey(std::string stringValue, int intValue)
        : stringValue_(std::move(stringValue)), intValue_(intValue)
    {
    }
    // A key by position; its string value is the number.
    static CodingKey index(int intValue) { return CodingKey(std::to_string(intValue), intValue); }

    const std::string &stringValue() const { return stringValue_; }
    const std::optional<int> &intValue() const { return intValue_; }

    // `CodingKey(stringValue: "name", intValue: nil)` unless set otherwise.
    std::string description() const;
    CodingKey withDescription(std::string description) const
    {
        CodingKey key = *this;
        key.description_ = std::move(description);
        return key;
    }

    friend bool operator==(const CodingKey &a, const CodingKey &b)
    {
        return a.stringValue_ == b.stringValue_ && a.intValue_ == b.intValue_;
    }

private:
    std::string stringValue_;
    std::optional<int> intValue_;
    std::optional<std::string> description_;
};

// The keys from the top-level record down to the value being decoded.
using CodingPath = std::vector<CodingKey>;

} // namespace corvane
