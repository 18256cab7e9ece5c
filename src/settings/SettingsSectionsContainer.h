#pragma once

#include <QList>
#include <QWidget>

class QGridLayout;
class QLabel;

namespace corvane {

namespace Settings {

// One row of a settings form: a label, its content beside it, and whether a
// line follows the row.
struct Section {
    QWidget *label = nullptr;
    QWidget *content = nullptr;
    bool bottomDivider = false;
    // How label and content line up: Qt::AlignTop, Qt::AlignVCenter or
    // Qt::AlignBottom.
    Qt::Alignment verticalAlignment = Qt::AlignVCenter;

    Section(QWidget *label, QWidget *content, bool bottomDivider = false,
            Qt::Alignment verticalAlignment = Qt::AlignVCenter);
    // A section labelled with a title in the section font.
    Section(const QString &title, QWidget *content, bool bottomDivider = false,
            Qt::Alignment verticalAlignment = Qt::AlignVCenter);
};

// Font sizes in logical pixels, as macOS counts its points: 13 is the usual
// text size there, 11 its small text.
inline constexpr int titlePixelSize = 13;
inline constexpr int descriptionPixelSize = 11;

// A label in the section-title font.
QLabel *makeSectionTitle(const QString &title);
// The description style: small, regular weight, the secondary text colour.
void applyDescriptionStyle(QLabel *label);

} // namespace Settings

// The usual two-column settings form: labels right-aligned in a column as wide
// as the widest label (at least the minimum width), contents left-aligned
// beside them, and a line below each section that asks for one, except the
// last, starting at the content column.
class SettingsSectionsContainer : public QWidget {
    Q_OBJECT
public:
    static constexpr int verticalPadding = 20;
    static constexpr int horizontalPadding = 30;
    static constexpr int dividerHeight = 20;

    // Takes ownership of the sections' widgets. The padding comes on top of
    // the content width.
    SettingsSectionsContainer(const QList<Settings::Section> &sections, int contentWidth,
                              int minimumLabelWidth = 0, QWidget *parent = nullptr);

    // The larger of the minimum and the widest label.
    int labelColumnWidth() const;
    // The lines, in order.
    const QList<QWidget *> &dividers() const { return m_dividers; }

private:
    QGridLayout *m_grid;
    QList<QWidget *> m_labels;
    QList<QWidget *> m_dividers;
    int m_minimumLabelWidth;
};

} // namespace corvane
