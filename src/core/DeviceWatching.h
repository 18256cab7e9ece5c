#pragma once

namespace corvane {

// What a toolset holds as the device list of its Xcode while it is the
// current one; the model supplies the implementation.
class DeviceWatching {
public:
    virtual ~DeviceWatching() = default;
};

} // namespace corvane
