#include "platform/hotkeys/OptionKeyPoller.h"

#include <QTimer>

namespace corvane {

OptionKeyPoller::OptionKeyPoller(std::shared_ptr<ModifierSource> source)
    : m_source(source ? std::move(source) : ModifierSource::system())
{
}

OptionKeyPoller::~OptionKeyPoller()
{
    stop();
}

void OptionKeyPoller::start(std::function<void(bool optionHeld)> onChange)
{
    if (isRunning())
        return;
    m_onChange = std::move(onChange);
    m_optionHeld = m_source->isOptionHeld();
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(interval);
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { poll(); });
    m_timer->start();
}

void OptionKeyPoller::stop()
{
    if (m_timer) {
        // A tick's callback may stop the poller from inside the timer's own
        // signal, so the timer goes later.
        m_timer->stop();
        m_timer->disconnect();
        m_timer.release()->deleteLater();
    }
    m_onChange = nullptr;
}

bool OptionKeyPoller::isRunning() const
{
    return m_timer && m_timer->isActive();
}

void OptionKeyPoller::poll()
{
    const bool held = m_source->isOptionHeld();
    if (held == m_optionHeld)
        return;
    m_optionHeld = held;
    if (m_onChange) {
        auto onChange = m_onChange;
        onChange(held);
    }
}

} // namespace corvane
