#include "app/shell/Animator.h"

#include <QTimer>

#include <cmath>

namespace corvane {

Animator::Animator(std::vector<ImageRef> frames, double interval)
    : m_frames(std::move(frames)), m_interval(interval)
{
}

Animator::~Animator()
{
    stop();
}

void Animator::start(Handler handler)
{
    if (m_timer || m_frames.empty())
        return;
    m_handler = std::move(handler);
    m_timer = std::make_unique<QTimer>();
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(int(std::lround(m_interval * 1000)));
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { tick(); });
    m_timer->start();
    tick();
}

void Animator::stop()
{
    if (!m_timer)
        return;
    // A handler may stop the animator from inside the timer's own signal.
    m_timer->stop();
    m_timer->disconnect();
    m_timer.release()->deleteLater();
    m_handler = nullptr;
}

bool Animator::isRunning() const
{
    return m_timer != nullptr;
}

void Animator::tick()
{
    if (m_frames.empty() || !m_handler)
        return;
    m_counter += 1;
    if (m_counter >= m_frames.size())
        m_counter -= m_frames.size();
    auto handler = m_handler;
    handler(m_frames[m_counter]);
}

} // namespace corvane
