#pragma once

#include "platform/hotkeys/ModifierSource.h"

#include <chrono>
#include <functional>
#include <memory>

class QTimer;

namespace corvane {

// Watches the Option key while a menu is open: every 100 ms it reads the
// modifiers and calls back once per change. Start and stop on the main thread.
class OptionKeyPoller {
public:
    static constexpr std::chrono::milliseconds interval{100};

    explicit OptionKeyPoller(std::shared_ptr<ModifierSource> source = ModifierSource::system());
    ~OptionKeyPoller();
    OptionKeyPoller(const OptionKeyPoller &) = delete;
    OptionKeyPoller &operator=(const OptionKeyPoller &) = delete;

    // Remembers the Option state now and starts ticking; while running, a
    // second start keeps the running timer and its callback.
    void start(std::function<void(bool optionHeld)> onChange);
    void stop();
    bool isRunning() const;
    // The Option state last seen by start or a tick.
    bool optionHeld() const { return m_optionHeld; }
    // One tick, as the timer runs it.
    void poll();

private:
    std::shared_ptr<ModifierSource> m_source;
    std::function<void(bool)> m_onChange;
    std::unique_ptr<QTimer> m_timer;
    bool m_optionHeld = false;
};

} // namespace corvane
