#include "FuzzSupport.h"
#include "common/SameValue.h"
#include "platform/formats/PropertyList.h"

#include <QByteArray>

#include <algorithm>

using namespace corvane;

namespace {

// Whether every string and key is made of XML's characters.
bool xmlHolds(const QVariant &value)
{
    const auto text = [](const QString &s) {
        for (qsizetype i = 0; i < s.size(); ++i) {
            char32_t c = s[i].unicode();
            if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
                c = QChar::surrogateToUcs4(s[i], s[i + 1]), ++i;
            if (!(c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                  (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000))
                return false;
        }
        return true;
    };
    switch (value.typeId()) {
    case QMetaType::QString: return text(value.toString());
    case QMetaType::QVariantList:
        return std::ranges::all_of(value.toList(), [](const QVariant &v) { return xmlHolds(v); });
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!text(it.key()) || !xmlHolds(it.value()))
                return false;
        }
        return true;
    }
    default: return true;
    }
}

} // namespace

// Any bytes: a value or nothing, never an abort. A value is written in both
// forms, and each reads back as it was (XML with what its form keeps); XML
// writes nothing only for text it cannot hold.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto value = PropertyList::parse(bytes);
    if (!value)
        return 0;
    for (const bool xml : {false, true}) {
        const QByteArray written =
            xml ? PropertyList::toXml(*value) : PropertyList::toBinary(*value);
        fuzz::check(written.isEmpty() == (xml && !xmlHolds(*value)));
        if (written.isEmpty())
            continue;
        const auto back = PropertyList::parse(written);
        fuzz::check(back && test::sameValue(*value, *back, xml));
    }
    return 0;
}
