#pragma once

#include <functional>
#include <memory>

class QTimer;

namespace corvane {

// Runs one piece of work once after a delay on the main thread; scheduling
// again replaces what was pending, so at most one step ever waits.
class StepScheduler {
public:
    virtual ~StepScheduler() = default;

    // A delay that is negative or not a number means the next turn of the
    // event loop; a very long one is cut to the longest the timer can wait.
    virtual void schedule(double seconds, std::function<void()> work) = 0;
    virtual void cancel() = 0;
    virtual bool isPending() const = 0;

    // The timer interval for a delay in seconds.
    static int intervalMilliseconds(double seconds);
};

// One precise single-shot QTimer, made on the main thread when first needed.
class TimerStepScheduler : public StepScheduler {
public:
    TimerStepScheduler() = default;
    ~TimerStepScheduler() override;
    TimerStepScheduler(const TimerStepScheduler &) = delete;
    TimerStepScheduler &operator=(const TimerStepScheduler &) = delete;

    void schedule(double seconds, std::function<void()> work) override;
    void cancel() override;
    bool isPending() const override;

private:
    QTimer *m_timer = nullptr;
    std::function<void()> m_work;
};

} // namespace corvane
