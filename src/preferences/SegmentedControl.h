#pragma once

#include <QStringList>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;

namespace corvane {

// A row of joined buttons. In `selectOne` mode one segment at most is
// checked; in `momentary` mode each click is an action and nothing stays
// checked (the add and remove buttons under a list).
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    enum class Mode { selectOne, momentary };

    SegmentedControl(const QStringList &labels, Mode mode, QWidget *parent = nullptr);

    int segmentCount() const;
    QAbstractButton *segment(int index) const;

    // -1 when none is checked.
    int selectedSegment() const;
    // -1 (or any index out of range) checks none.
    void setSelectedSegment(int index);

    bool isSegmentEnabled(int index) const;
    void setSegmentEnabled(int index, bool enabled);

signals:
    // A segment clicked by the user; not sent by setSelectedSegment.
    void segmentClicked(int index);

private:
    QButtonGroup *m_group;
};

} // namespace corvane
