#pragma once

#include "platform/Object.h"

#include <memory>
#include <vector>

namespace corvane {

// The shell's view of screen recordings: which objects are devices, which of
// them record, and how to end a recording so that its video is finished.
// Shared by the delegate's icon and the root menu's stop item.
class RecordingDevices {
public:
    virtual ~RecordingDevices() = default;

    virtual bool isDevice(const ObjectPtr &object) const = 0;
    virtual bool isRecording(const ObjectPtr &device) const = 0;
    // The devices of the current device list.
    virtual std::vector<ObjectPtr> listedDevices() const = 0;
    // Interrupts the recording process, which then finishes its file.
    virtual void interruptRecording(const ObjectPtr &device) = 0;

    // The device to show as recording after `notified` changed: it when it
    // records, else `kept` while it still records, else any listed device
    // that records, else none.
    ObjectPtr deviceToShow(const ObjectPtr &notified, const ObjectPtr &kept) const;
    // Every device that records, `kept` first, each once.
    std::vector<ObjectPtr> recordingDevices(const ObjectPtr &kept) const;
};

} // namespace corvane
