#include "app/menus/root/RecordingDevices.h"

#include <algorithm>

namespace corvane {

ObjectPtr RecordingDevices::deviceToShow(const ObjectPtr &notified, const ObjectPtr &kept) const
{
    if (notified && isDevice(notified) && isRecording(notified))
        return notified;
    if (kept && isRecording(kept))
        return kept;
    for (const ObjectPtr &device : listedDevices())
        if (device && isRecording(device))
            return device;
    return nullptr;
}

std::vector<ObjectPtr> RecordingDevices::recordingDevices(const ObjectPtr &kept) const
{
    std::vector<ObjectPtr> result;
    if (kept && isRecording(kept))
        result.push_back(kept);
    for (const ObjectPtr &device : listedDevices())
        if (device && std::find(result.begin(), result.end(), device) == result.end() &&
            isRecording(device))
            result.push_back(device);
    return result;
}

} // namespace corvane
