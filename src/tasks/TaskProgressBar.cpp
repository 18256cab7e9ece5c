#include "tasks/TaskProgressBar.h"

#include <QPainter>

namespace corvane {

TaskProgressBar::TaskProgressBar(QWidget *parent) : QProgressBar(parent)
{
    m_timer.setInterval(40);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % (2 * steps);
        update();
    });
}

void TaskProgressBar::setBusy(bool busy)
{
    if (busy)
        setRange(0, 0);
    animate();
}

void TaskProgressBar::paintEvent(QPaintEvent *event)
{
    if (!isBusy())
        return QProgressBar::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = track.height() / 2;
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(track, radius, radius);
    const qreal width = track.width() / 4;
    const int position = m_step < steps ? m_step : 2 * steps - m_step;
    const QRectF segment(track.left() + (track.width() - width) * position / steps, track.top(),
                         width, track.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(segment, radius, radius);
}

void TaskProgressBar::showEvent(QShowEvent *event)
{
    QProgressBar::showEvent(event);
    animate();
}

void TaskProgressBar::hideEvent(QHideEvent *event)
{
    QProgressBar::hideEvent(event);
    animate();
}

void TaskProgressBar::animate()
{
    if (isBusy() && isVisible())
        m_timer.start();
    else
        m_timer.stop();
}

} // namespace corvane
