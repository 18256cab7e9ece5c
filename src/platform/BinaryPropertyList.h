#pragma once

#include "platform/PropertyList.h"

#include <QByteArray>
#include <QVariant>

#include <optional>

// The binary form of property lists, read and written here rather than by
// libplist: its 2.2 reader recurses once per level, copies an object for
// every reference to it and ends ASCII strings at a NUL, and its nodes hold
// neither dates past 32-bit seconds nor strings holding a NUL.
namespace corvane::PropertyList {

// Each object is read once, however often it is referred to; a list whose
// tree would hold more than `maxNodesPerByte` nodes per byte of input, nest
// deeper than `maxNesting` or refer to itself gives nothing.
constexpr quint64 maxNodesPerByte = 4;
std::optional<QVariant> parseBinary(const QByteArray &bytes);

// Empty when the value has no property-list form. `wholeSecondDates` drops
// the fraction of each date, rounding down.
QByteArray encodeBinary(const QVariant &value, bool wholeSecondDates = false);

} // namespace corvane::PropertyList
