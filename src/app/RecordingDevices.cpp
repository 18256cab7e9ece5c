#include "app/RecordingDevices.h"

#include <algorithm>

namespace corvane {

namespace {

class NoRecordingDevices : public RecordingDevices {
public:
    bool isDevice(const ObjectPtr &) const override { return false; }
    bool isRecording(const ObjectPtr &) const override { return false; }
    std::vector<ObjectPtr> listedDevices() const override { return {}; }
    void interruptRecording(const ObjectPtr &) override {}
};

} // namespace

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

std::shared_ptr<RecordingDevices> RecordingDevices::none()
{
    static const auto devices = std::make_shared<NoRecordingDevices>();
    return devices;
}

} // namespace corvane
