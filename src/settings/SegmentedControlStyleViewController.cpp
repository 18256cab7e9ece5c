#include "settings/SegmentedControlStyleViewController.h"

#include "settings/SettingsPane.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QToolButton>
#include <QWidgetAction>

namespace corvane {

SegmentedControlStyleViewController::SegmentedControlStyleViewController(
    QList<SettingsPane *> panes, QObject *parent)
    : QObject(parent), m_panes(std::move(panes)), m_control(new QWidget),
      m_segments(new QButtonGroup(this)), m_item(new QWidgetAction(this))
{
    m_control->setObjectName(Settings::segmentedControlIdentifier);
    m_segments->setExclusive(true);

    QStringList titles;
    for (const SettingsPane *pane : std::as_const(m_panes))
        titles << pane->paneTitle();
    const QFont font = QApplication::font("QToolButton");
    const QSize segment = segmentSize(titles, QFontMetrics(font));

    auto *layout = new QHBoxLayout(m_control);
    layout->setContentsMargins(1, 0, 1, 0);
    layout->setSpacing(1);
    for (int i = 0; i < m_panes.size(); ++i) {
        auto *button = new QToolButton(m_control);
        button->setText(titles[i]);
        button->setFont(font);
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setFixedSize(segment);
        m_segments->addButton(button, i);
        layout->addWidget(button);
    }
    m_control->setFixedSize(controlSize(m_panes.size(), segment));
    connect(m_segments, &QButtonGroup::idClicked, this, [this](int index) { activate(index); });

    m_item->setObjectName(Settings::segmentedControlItemIdentifier);
    m_item->setDefaultWidget(m_control);
}

QSize SegmentedControlStyleViewController::segmentSize(const QStringList &titles,
                                                       const QFontMetrics &metrics)
{
    int width = 0;
    for (const QString &title : titles)
        width = qMax(width, metrics.horizontalAdvance(title));
    // Every title of one font is one line high.
    const int height = titles.isEmpty() ? 0 : metrics.height();
    return QSize(width + 36, height + 12);
}

QSize SegmentedControlStyleViewController::controlSize(qsizetype segmentCount,
                                                       const QSize &segmentSize)
{
    const int count = int(segmentCount);
    return QSize(count * segmentSize.width() + count + 1, segmentSize.height());
}

QStringList SegmentedControlStyleViewController::toolbarItemIdentifiers() const
{
    return {Settings::flexibleSpaceItemIdentifier, Settings::segmentedControlItemIdentifier,
            Settings::flexibleSpaceItemIdentifier};
}

QAction *SegmentedControlStyleViewController::toolbarItem(const QString &identifier)
{
    return identifier == QLatin1String(Settings::segmentedControlItemIdentifier) ? m_item : nullptr;
}

void SegmentedControlStyleViewController::selectTab(int index)
{
    if (auto *segment = m_segments->button(index))
        segment->setChecked(true);
}

} // namespace corvane
