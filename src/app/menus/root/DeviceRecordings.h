#pragma once

#include "app/menus/root/RecordingDevices.h"

namespace corvane {

// Screen recordings of the simulated devices of the current Xcode.
class DeviceRecordings : public RecordingDevices {
public:
    bool isDevice(const ObjectPtr &object) const override;
    bool isRecording(const ObjectPtr &device) const override;
    std::vector<ObjectPtr> listedDevices() const override;
    void interruptRecording(const ObjectPtr &device) override;
};

} // namespace corvane
