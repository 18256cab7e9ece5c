#include "FuzzSupport.h"
#include "platform/PropertyList.h"

#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>
#include <QVariant>

#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace corvane;

namespace {

// The value `original` becomes once written in XML: dates in whole seconds,
// rounded down, and text as UTF-8 holds it (a lone surrogate cannot be).
QVariant asXmlKeepsIt(const QVariant &original)
{
    switch (original.typeId()) {
    case QMetaType::QString: return QString::fromUtf8(original.toString().toUtf8());
    case QMetaType::QDateTime: {
        const qint64 ms = original.toDateTime().toMSecsSinceEpoch();
        return QDateTime::fromMSecsSinceEpoch(ms - (ms % 1000 + 1000) % 1000, QTimeZone::utc());
    }
    case QMetaType::QVariantList: {
        QVariantList list;
        for (const QVariant &item : original.toList())
            list.append(asXmlKeepsIt(item));
        return list;
    }
    case QMetaType::QVariantMap: {
        QVariantMap map;
        const QVariantMap from = original.toMap();
        for (auto it = from.begin(); it != from.end(); ++it)
            map.insert(QString::fromUtf8(it.key().toUtf8()), asXmlKeepsIt(it.value()));
        return map;
    }
    default: return original;
    }
}

// Same type and value. Binary reals keep their bits; XML ones keep any NaN as
// a NaN. A binary date holds seconds in a double: past about 35,000 years
// from 2001 a millisecond may be lost.
bool same(const QVariant &a, const QVariant &b, bool xml)
{
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::Double: {
        const double x = a.toDouble(), y = b.toDouble();
        if (xml && std::isnan(x))
            return std::isnan(y);
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case QMetaType::QDateTime: {
        const qint64 x = a.toDateTime().toMSecsSinceEpoch(), y = b.toDateTime().toMSecsSinceEpoch();
        return x == y || (std::llabs(x) > (qint64(1) << 50) && std::llabs(x - y) <= 1);
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList(), y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (!same(x[i], y[i], xml))
                return false;
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
            if (!same(i.value(), j.value(), xml))
                return false;
        return true;
    }
    default: return a == b;
    }
}

} // namespace

// Any bytes: a value or nothing, never an abort. A value is written in both
// forms, and each reads back as it was (XML with what its form keeps).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto value = PropertyList::parse(bytes);
    if (!value)
        return 0;
    for (const bool xml : {false, true}) {
        const QByteArray written =
            xml ? PropertyList::toXml(*value) : PropertyList::toBinary(*value);
        fuzz::check(!written.isEmpty());
        const auto back = PropertyList::parse(written);
        fuzz::check(back && same(xml ? asXmlKeepsIt(*value) : *value, *back, xml));
    }
    return 0;
}
