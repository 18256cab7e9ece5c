#pragma once

#include "platform/ImageRef.h"

#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace corvane {

// Shows frames in a loop on the main thread: the first tick comes at once
// with the second frame, then one frame every interval, wrapping to the
// first after the last.
class Animator {
public:
    using Handler = std::function<void(const ImageRef &frame)>;

    Animator(std::vector<ImageRef> frames, double interval);
    ~Animator();
    Animator(const Animator &) = delete;
    Animator &operator=(const Animator &) = delete;

    // Once per animator.
    void start(Handler handler);
    void stop();
    bool isRunning() const;
    // One tick, as the timer runs it.
    void tick();

    const std::vector<ImageRef> &frames() const { return m_frames; }
    double interval() const { return m_interval; }

private:
    std::vector<ImageRef> m_frames;
    double m_interval;
    Handler m_handler;
    std::unique_ptr<QTimer> m_timer;
    size_t m_counter = 0;
};

} // namespace corvane
