#include "settings/SettingsSectionsContainer.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace corvane {

namespace Settings {

Section::Section(QWidget *label, QWidget *content, bool bottomDivider,
                 Qt::Alignment verticalAlignment)
    : label(label), content(content), bottomDivider(bottomDivider),
      verticalAlignment(verticalAlignment)
{
}

Section::Section(const QString &title, QWidget *content, bool bottomDivider,
                 Qt::Alignment verticalAlignment)
    : Section(makeSectionTitle(title), content, bottomDivider, verticalAlignment)
{
}

QLabel *makeSectionTitle(const QString &title)
{
    auto *label = new QLabel(title);
    QFont font = label->font();
    font.setPixelSize(titlePixelSize);
    label->setFont(font);
    return label;
}

void applyDescriptionStyle(QLabel *label)
{
    QFont font = label->font();
    font.setPixelSize(descriptionPixelSize);
    font.setWeight(QFont::Normal);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

} // namespace Settings

namespace {

// A horizontal line centred in a strip of the divider's height.
QWidget *makeDivider(QWidget *parent)
{
    auto *strip = new QWidget(parent);
    strip->setFixedHeight(SettingsSectionsContainer::dividerHeight);
    auto *layout = new QVBoxLayout(strip);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *line = new QFrame(strip);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line, 0, Qt::AlignVCenter);
    return strip;
}

} // namespace

SettingsSectionsContainer::SettingsSectionsContainer(const QList<Settings::Section> &sections,
                                                     int contentWidth, int minimumLabelWidth,
                                                     QWidget *parent)
    : QWidget(parent), m_grid(new QGridLayout(this)), m_minimumLabelWidth(minimumLabelWidth)
{
    m_grid->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding,
                               verticalPadding);
    m_grid->setVerticalSpacing(8);
    m_grid->setColumnStretch(1, 1);
    int row = 0;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        const Settings::Section &section = sections[i];
        const Qt::Alignment vertical = section.verticalAlignment & Qt::AlignVertical_Mask;
        if (section.label) {
            m_grid->addWidget(section.label, row, 0, Qt::AlignRight | vertical);
            m_labels << section.label;
        }
        if (section.content)
            m_grid->addWidget(section.content, row, 1, Qt::AlignLeft | vertical);
        ++row;
        if (section.bottomDivider && i + 1 < sections.size()) {
            QWidget *divider = makeDivider(this);
            m_grid->addWidget(divider, row++, 1);
            m_dividers << divider;
        }
    }
    m_grid->setColumnMinimumWidth(0, labelColumnWidth());
    // The padding lies outside the content width.
    setFixedWidth(contentWidth + 2 * horizontalPadding);
}

int SettingsSectionsContainer::labelColumnWidth() const
{
    int widest = m_minimumLabelWidth;
    for (const QWidget *label : m_labels)
        widest = qMax(widest, label->sizeHint().width());
    return widest;
}

} // namespace corvane
