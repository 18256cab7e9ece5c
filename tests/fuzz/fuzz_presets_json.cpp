#include "FuzzSupport.h"
#include "model/StatusBarPreset.h"

#include <QByteArray>

using namespace corvane;

// Any bytes: a list or nothing; what was read is written and read back whole.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto presets = StatusBarPreset::decodeList(json);
    if (!presets)
        return 0;
    int skipped = -1;
    const auto back = StatusBarPreset::decodeList(StatusBarPreset::encodeList(*presets), &skipped);
    fuzz::check(back && skipped == 0 && back->size() == presets->size());
    for (std::size_t i = 0; i < presets->size(); ++i)
        fuzz::check(back->at(i)->toJson() == presets->at(i)->toJson());
    return 0;
}
