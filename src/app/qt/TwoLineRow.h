#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <QWidgetAction>

namespace corvane {

// What a two-line row shows: the title over a smaller second line, after the
// row's composed icon.
struct RowContent {
    QString primary;
    QString secondary;
    bool secondaryDisabled = true;
    // The key equivalent, at the end of the first line as a plain row has it.
    QString shortcut;
    QImage icon;
    int iconWidth = 0;
    bool hasSubmenu = false;
};

// A row that paints two lines; it lets the menu handle the mouse so that it
// highlights, triggers and opens its submenu like any other row.
class TwoLineRow : public QWidget {
public:
    TwoLineRow(QWidgetAction *action, QWidget *parent);

    void setContent(const RowContent &content);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *) override;

private:
    int leftMargin() const { return m_content.iconWidth > 0 ? m_content.iconWidth + 11 : 12; }
    QFont secondaryFont() const;

    QWidgetAction *m_action;
    RowContent m_content;
};

// The menu action whose rows are TwoLineRows.
class TwoLineAction : public QWidgetAction {
public:
    using QWidgetAction::QWidgetAction;

    void setContent(const RowContent &content);
    void repaintRows();

protected:
    bool event(QEvent *event) override;
    QWidget *createWidget(QWidget *parent) override;

private:
    RowContent m_content;
};

} // namespace corvane
