#pragma once

#include "csv/Date.h"
#include "csv/Decimal.h"
#include "csv/Int.h"

#include <QByteArray>
#include <QUrl>

#include <concepts>
#include <cstdint>
#include <string>
#include <typeinfo>
#include <vector>

namespace corvane {

class Decoder;

// How a type reads itself from a decoder: by default its own
// `static T decode(Decoder &)`; specialise this for a type that cannot have one.
template <class T> struct Decodable {
    static T decode(Decoder &decoder) { return T::decode(decoder); }
};

// The types a decoder converts from text by fixed rules.
template <class T>
concept BasicDecodable = std::same_as<T, bool> || std::same_as<T, std::string> ||
    std::same_as<T, double> || std::same_as<T, float> || std::same_as<T, Int> ||
    std::same_as<T, std::int8_t> || std::same_as<T, std::int16_t> ||
    std::same_as<T, std::int32_t> || std::same_as<T, std::int64_t> || std::same_as<T, UInt> ||
    std::same_as<T, std::uint8_t> || std::same_as<T, std::uint16_t> ||
    std::same_as<T, std::uint32_t> || std::same_as<T, std::uint64_t>;

// The types a decoder converts by the strategies it was given.
template <class T>
concept StrategyDecodable = std::same_as<T, Date> || std::same_as<T, QByteArray> ||
    std::same_as<T, QUrl> || std::same_as<T, Decimal>;

namespace detail {

// The unqualified name of a type: "corvane::Point" gives "Point".
std::string unqualifiedTypeName(const std::type_info &type);

template <class T> struct IsVector : std::false_type {
};
template <class T> struct IsVector<std::vector<T>> : std::true_type {
};

} // namespace detail

// The name of a type in decoding messages: the names records know ("Int",
// "UInt8", "String", "Data", "URL"), a record's own `typeName` when it has
// one, else its C++ name without namespaces.
template <class T> std::string decodingTypeName()
{
    if constexpr (std::same_as<T, bool>)
        return "Bool";
    else if constexpr (std::same_as<T, std::string>)
        return "String";
    else if constexpr (std::same_as<T, double>)
        return "Double";
    else if constexpr (std::same_as<T, float>)
        return "Float";
    else if constexpr (std::same_as<T, Int>)
        return "Int";
    else if constexpr (std::same_as<T, UInt>)
        return "UInt";
    else if constexpr (std::signed_integral<T>)
        return "Int" + std::to_string(sizeof(T) * 8);
    else if constexpr (std::unsigned_integral<T>)
        return "UInt" + std::to_string(sizeof(T) * 8);
    else if constexpr (std::same_as<T, Date>)
        return "Date";
    else if constexpr (std::same_as<T, QByteArray>)
        return "Data";
    else if constexpr (std::same_as<T, QUrl>)
        return "URL";
    else if constexpr (std::same_as<T, Decimal>)
        return "Decimal";
    else if constexpr (detail::IsVector<T>::value)
        return "Array<" + decodingTypeName<typename T::value_type>() + ">";
    else if constexpr (requires { std::string(T::typeName); })
        return std::string(T::typeName);
    else
        return detail::unqualifiedTypeName(typeid(T));
}

} // namespace corvane
