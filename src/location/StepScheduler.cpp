#include "location/StepScheduler.h"

#include <QThread>
#include <QTimer>

#include <climits>
#include <cmath>

namespace corvane {

int StepScheduler::intervalMilliseconds(double seconds)
{
    // Comparisons with NaN are false, so it falls through to 0 here.
    if (!(seconds > 0))
        return 0;
    const double milliseconds = std::round(seconds * 1000.0);
    if (milliseconds >= double(INT_MAX))
        return INT_MAX;
    return int(milliseconds);
}

TimerStepScheduler::~TimerStepScheduler()
{
    if (!m_timer)
        return;
    m_timer->stop();
    if (m_timer->thread() == QThread::currentThread())
        delete m_timer;
    else
        m_timer->deleteLater();
}

void TimerStepScheduler::schedule(double seconds, std::function<void()> work)
{
    if (!m_timer) {
        m_timer = new QTimer;
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, [this] {
            // The work may schedule the next step, which replaces m_work.
            auto work = std::move(m_work);
            m_work = nullptr;
            if (work)
                work();
        });
    }
    m_work = std::move(work);
    m_timer->start(intervalMilliseconds(seconds));
}

void TimerStepScheduler::cancel()
{
    if (m_timer)
        m_timer->stop();
    m_work = nullptr;
}

bool TimerStepScheduler::isPending() const
{
    return m_timer && m_timer->isActive();
}

} // namespace corvane
