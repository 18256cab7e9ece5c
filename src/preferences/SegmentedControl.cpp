#include "preferences/SegmentedControl.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace corvane {

SegmentedControl::SegmentedControl(const QStringList &labels, Mode mode, QWidget *parent)
    : QWidget(parent), m_group(new QButtonGroup(this))
{
    m_group->setExclusive(mode == Mode::selectOne);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int index = 0; index < labels.size(); ++index) {
        auto *button = new QToolButton;
        button->setText(labels[index]);
        button->setCheckable(mode == Mode::selectOne);
        button->setAutoRaise(false);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setMinimumWidth(mode == Mode::selectOne ? 34 : 24);
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        m_group->addButton(button, index);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    connect(m_group, &QButtonGroup::idClicked, this, &SegmentedControl::segmentClicked);
}

int SegmentedControl::segmentCount() const
{
    return int(m_group->buttons().size());
}

QAbstractButton *SegmentedControl::segment(int index) const
{
    return m_group->button(index);
}

int SegmentedControl::selectedSegment() const
{
    return m_group->checkedId();
}

void SegmentedControl::setSelectedSegment(int index)
{
    if (QAbstractButton *button = m_group->button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked; lift that to clear it.
    const bool exclusive = m_group->exclusive();
    m_group->setExclusive(false);
    for (QAbstractButton *button : m_group->buttons())
        button->setChecked(false);
    m_group->setExclusive(exclusive);
}

bool SegmentedControl::isSegmentEnabled(int index) const
{
    const QAbstractButton *button = m_group->button(index);
    return button && button->isEnabled();
}

void SegmentedControl::setSegmentEnabled(int index, bool enabled)
{
    if (QAbstractButton *button = m_group->button(index))
        button->setEnabled(enabled);
}

} // namespace corvane
