#pragma once

#include <QDateTime>
#include <QVariant>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>

namespace corvane::test {

// Whether `back`, read from a property list that `original` was written to,
// holds the same types and values. Reals count bit for bit, so that NaN and
// -0 do. A binary date holds seconds in a double: past about 35,000 years
// from 2001 a millisecond may be lost. Written in XML (`xml`), a NaN stays a
// NaN of its sign and dates keep whole seconds, rounded down. Text is
// compared exactly.
inline bool sameValue(const QVariant &original, const QVariant &back, bool xml = false)
{
    const auto same = [xml](const QVariant &a, const QVariant &b) { return sameValue(a, b, xml); };
    if (original.typeId() != back.typeId())
        return false;
    switch (original.typeId()) {
    case QMetaType::Double: {
        const double x = original.toDouble(), y = back.toDouble();
        return xml && std::isnan(x) ? std::isnan(y) && std::signbit(x) == std::signbit(y)
                                    : std::bit_cast<quint64>(x) == std::bit_cast<quint64>(y);
    }
    case QMetaType::QDateTime: {
        qint64 x = original.toDateTime().toMSecsSinceEpoch();
        const qint64 y = back.toDateTime().toMSecsSinceEpoch();
        x -= xml ? (x % 1000 + 1000) % 1000 : 0;
        return x == y || (std::llabs(x) > (qint64(1) << 50) && std::llabs(x - y) <= 1);
    }
    case QMetaType::QVariantList: {
        const QVariantList x = original.toList(), y = back.toList();
        return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), same);
    }
    case QMetaType::QVariantMap: {
        const QVariantMap x = original.toMap(), y = back.toMap();
        return x.keys() == y.keys() && std::equal(x.begin(), x.end(), y.begin(), y.end(), same);
    }
    default: return original == back;
    }
}

} // namespace corvane::test
