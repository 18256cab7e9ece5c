#pragma once

#include <QProgressBar>
#include <QTimer>

namespace corvane {

// A progress bar for tasks. Qt's styles draw a bar whose amount of work is
// unknown (a range of 0 to 0) much as a full one: this one slides a segment
// to and fro instead, while it is shown.
class TaskProgressBar : public QProgressBar {
public:
    explicit TaskProgressBar(QWidget *parent = nullptr);

    bool isBusy() const { return minimum() == 0 && maximum() == 0; }
    // Busy sets the range to 0 to 0; not busy leaves the range to the caller.
    void setBusy(bool busy);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    static constexpr int steps = 40;

    void animate();

    QTimer m_timer;
    int m_step = 0;
};

} // namespace corvane
