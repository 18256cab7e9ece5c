#pragma once

namespace corvane {

// Software updates come through the system's packages on this platform, so
// the updater offers nothing; the General settings pane reads it.
class UpdaterController {
public:
    bool canCheckForUpdates() const { return false; }
    bool automaticallyChecksForUpdates() const { return false; }
    void checkForUpdates() {}
};

} // namespace corvane
