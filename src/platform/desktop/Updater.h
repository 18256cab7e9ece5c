#pragma once

#include <QDateTime>

#include <memory>
#include <optional>

namespace corvane {

// Checks for and installs new versions of the program.
class Updater {
public:
    virtual ~Updater() = default;

    // When the last check ran; nothing before the first.
    virtual std::optional<QDateTime> lastUpdateCheckDate() const = 0;
    // Starts a check; the updater shows its own windows.
    virtual void checkForUpdates() = 0;

    // The program's updater. None on Linux: new versions come with the
    // system's packages, so the program never checks by itself.
    static std::shared_ptr<Updater> standard() { return nullptr; }
};

} // namespace corvane
