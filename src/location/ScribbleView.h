#pragma once

#include <QPointF>
#include <QWidget>

#include <vector>

namespace corvane {

// A transparent layer over the map that records a freehand stroke: a press
// of the primary button adds its point, a drag adds its point and repaints. The stroke is drawn as
// a thin red line once it has three points. Points are in this view's own coordinates, y pointing
// down.
class ScribbleView : public QWidget {
    Q_OBJECT
public:
    explicit ScribbleView(QWidget *parent = nullptr);

    const std::vector<QPointF> &line() const { return m_line; }

    static constexpr double lineWidth = 2.0;
    static constexpr int minimumPointsDrawn = 3;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    std::vector<QPointF> m_line;
};

} // namespace corvane
