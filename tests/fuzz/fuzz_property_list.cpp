#include "FuzzSupport.h"
#include "platform/PropertyList.h"

#include <QByteArray>

using namespace corvane;

// Any bytes: a value or nothing, never an abort; a value survives being
// written in both forms and read again.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto value = PropertyList::parse(bytes);
    if (!value)
        return 0;
    for (const QByteArray &written : {PropertyList::toBinary(*value), PropertyList::toXml(*value)})
        if (!written.isEmpty())
            PropertyList::parse(written);
    return 0;
}
