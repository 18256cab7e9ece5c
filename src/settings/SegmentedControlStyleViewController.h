#pragma once

#include "settings/SettingsStyleController.h"

#include <QList>
#include <QObject>
#include <QSize>

class QButtonGroup;
class QFontMetrics;
class QWidget;
class QWidgetAction;

namespace corvane {

class SettingsPane;

// One row of equally sized, exclusive buttons (one per pane, each tagged by
// its index), centred in the toolbar between two expanding gaps.
class SegmentedControlStyleViewController : public QObject, public SettingsStyleController {
    Q_OBJECT
public:
    explicit SegmentedControlStyleViewController(QList<SettingsPane *> panes,
                                                 QObject *parent = nullptr);

    // The size of every segment: the widest title + 36 by the tallest + 12.
    static QSize segmentSize(const QStringList &titles, const QFontMetrics &metrics);
    // n segments of that size, 1 apart and 1 from either end.
    static QSize controlSize(qsizetype segmentCount, const QSize &segmentSize);

    bool keepsWindowCentered() const override { return true; }
    QStringList toolbarItemIdentifiers() const override;
    QAction *toolbarItem(const QString &identifier) override;
    void selectTab(int index) override;

    // The control; the toolbar item owns it.
    QWidget *view() const { return m_control; }
    QButtonGroup *segments() const { return m_segments; }

private:
    QList<SettingsPane *> m_panes;
    QWidget *m_control;
    QButtonGroup *m_segments;
    QWidgetAction *m_item;
};

} // namespace corvane
