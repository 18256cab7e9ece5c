#include "platform/desktop/VideoExportPresets.h"

namespace corvane::VideoExportPresets {

QStringList allExportPresets()
{
    return {};
}

} // namespace corvane::VideoExportPresets
