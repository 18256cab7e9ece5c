#include "location/ScribbleView.h"

#include <QMouseEvent>
#include <QPainter>

namespace corvane {

ScribbleView::ScribbleView(QWidget *parent) : QWidget(parent)
{
    setCursor(Qt::CrossCursor);
}

void ScribbleView::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    // Only the primary button draws; others go on to the pane.
    if (event->button() != Qt::LeftButton)
        return;
    // Accepted, so that the drag that follows comes here too.
    event->accept();
    m_line.push_back(event->position());
}

void ScribbleView::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
    if (!(event->buttons() & Qt::LeftButton))
        return;
    event->accept();
    m_line.push_back(event->position());
    update();
}

void ScribbleView::paintEvent(QPaintEvent *)
{
    if (m_line.size() < size_t(minimumPointsDrawn))
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::red, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(m_line.data(), int(m_line.size()));
}

} // namespace corvane
