#include "FuzzSupport.h"
#include "common/SameValue.h"
#include "platform/formats/PropertyList.h"

#include <QByteArray>

using namespace corvane;

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
        fuzz::check(back && test::sameValue(*value, *back, xml));
    }
    return 0;
}
