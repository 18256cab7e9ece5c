#pragma once

#include "platform/formats/PropertyList.h"

#include <QByteArray>
#include <QDateTime>
#include <QVariant>

#include <optional>

// The binary form of property lists, and what it shares with the XML form.
namespace corvane::PropertyList {

// Each object is read once, however often it is referred to; a list whose
// tree would hold more than `maxNodesPerByte` nodes per byte of input, nest
// deeper than `maxNesting` or refer to itself gives nothing.
constexpr quint64 maxNodesPerByte = 4;
std::optional<QVariant> parseBinary(const QByteArray &bytes);

// Empty when the value has no property-list form.
QByteArray encodeBinary(const QVariant &value);

// What both forms share.

// The integer a value of any C++ integer type holds: its bits, read as qint64
// unless the type is unsigned.
struct Integer {
    quint64 bits = 0;
    bool isUnsigned = false;
};
std::optional<Integer> integerOf(const QVariant &value);
// An integer read as `magnitude`: qint64 when it fits, quint64 above it;
// nothing for a negative one below qint64's range.
std::optional<QVariant> integerVariant(quint64 magnitude, bool negative);

// Dates lie within about three million years of the property-list epoch,
// 2001-01-01: far past any real date, and their milliseconds fit in 64 bits.
// Both forms read and write exactly these.
constexpr qint64 referenceEpochSeconds = 978307200; // from 1970
constexpr double maxDateSeconds = 1e14;
// The date's milliseconds since 1970, or nothing for an invalid date or one
// out of range.
std::optional<qint64> dateMilliseconds(const QDateTime &date);

// Inserts into a dictionary read in order: keys in ascending order (as
// writers store them) go in at the end without a search; a repeated key
// keeps its last value.
void insertInOrder(QVariantMap &map, const QString &key, const QVariant &value);

} // namespace corvane::PropertyList
