#include "settings/SegmentedControlStyleViewController.h"
#include "settings/Settings.h"
#include "settings/SettingsSectionsContainer.h"
#include "settings/SettingsTestSupport.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QWidgetAction>

using namespace corvane;
using namespace corvane::test;

namespace {

TEST(SettingsFrameTest, ResizingKeepsTheTopEdgeAndTheLeftEdgeOrCentre)
{
    const QRect tall(100, 200, 400, 600);
    EXPECT_EQ(Settings::resizedWindowFrame(tall, QSize(300, 200), false),
              QRect(100, 200, 300, 200));
    EXPECT_EQ(Settings::resizedWindowFrame(tall, QSize(300, 200), true), QRect(150, 200, 300, 200));
    // Growing moves a centred window left, and never moves its top.
    EXPECT_EQ(Settings::resizedWindowFrame(tall, QSize(600, 900), true), QRect(0, 200, 600, 900));
    EXPECT_EQ(Settings::resizedWindowFrame(tall, QSize(600, 900), false),
              QRect(100, 200, 600, 900));
}

TEST(SegmentedControlTest, SegmentsAreTheLargestTitlePlusMargins)
{
    QFont font("DejaVu Sans");
    font.setPixelSize(13);
    const QFontMetrics metrics(font);
    const QStringList titles = {"General", "Status Bars", "Locations"};
    const int widest = metrics.horizontalAdvance("Status Bars");
    ASSERT_GT(widest, metrics.horizontalAdvance("General"));
    EXPECT_EQ(SegmentedControlStyleViewController::segmentSize(titles, metrics),
              QSize(widest + 36, metrics.height() + 12));
    EXPECT_EQ(SegmentedControlStyleViewController::segmentSize({}, metrics), QSize(36, 12));
    EXPECT_EQ(SegmentedControlStyleViewController::controlSize(3, QSize(100, 30)), QSize(304, 30));
}

TEST(SegmentedControlTest, ControlLaysOutEqualSegmentsOneApart)
{
    SizedPane general("general", "General", QSize(10, 10));
    SizedPane bars("statusBar", "Status Bars", QSize(10, 10));
    SizedPane places("locations", "Locations", QSize(10, 10));
    SegmentedControlStyleViewController style({&general, &bars, &places});
    QWidget *control = style.view();
    control->layout()->activate();

    const QSize segment = style.segments()->button(0)->size();
    EXPECT_EQ(control->size(), SegmentedControlStyleViewController::controlSize(3, segment));
    EXPECT_EQ(control->objectName(), Settings::segmentedControlIdentifier);
    int expectedX = 1;
    for (int i = 0; i < 3; ++i) {
        QAbstractButton *button = style.segments()->button(i);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->size(), segment);
        EXPECT_EQ(button->x(), expectedX);
        expectedX += segment.width() + 1;
    }
    EXPECT_EQ(style.segments()->button(1)->text(), "Status Bars");
    EXPECT_EQ(style.toolbarItemIdentifiers(), QStringList({Settings::flexibleSpaceItemIdentifier,
                                                           Settings::segmentedControlItemIdentifier,
                                                           Settings::flexibleSpaceItemIdentifier}));
    EXPECT_EQ(style.toolbarItem("general"), nullptr);
    auto *item = qobject_cast<QWidgetAction *>(style.toolbarItem("toolbarSegmentedControlItem"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->defaultWidget(), control);
}

TEST(SettingsSectionsTest, DividersFollowFlaggedSectionsButTheLast)
{
    auto *first = new QLabel("first");
    auto *second = new QLabel("second");
    auto *third = new QLabel("third");
    SettingsSectionsContainer container(
        {{"Short:", first, true}, {"A much longer label:", second, false}, {"Last:", third, true}},
        400);
    container.layout()->activate();
    container.resize(container.sizeHint());
    container.layout()->activate();

    ASSERT_EQ(container.dividers().size(), 1);
    QWidget *divider = container.dividers().first();
    EXPECT_EQ(divider->height(), SettingsSectionsContainer::dividerHeight);
    // Between the first and second sections, starting at the content column.
    EXPECT_GT(divider->y(), first->geometry().bottom());
    EXPECT_LT(divider->geometry().bottom(), second->y());
    EXPECT_EQ(divider->x(), first->x());
    EXPECT_EQ(container.width(), 400 + 2 * SettingsSectionsContainer::horizontalPadding);
}

TEST(SettingsSectionsTest, LabelColumnIsTheWidestLabelOrTheMinimum)
{
    auto *longLabel = Settings::makeSectionTitle("A much longer label:");
    const int longWidth = longLabel->sizeHint().width();
    auto *content = new QLabel("content");
    SettingsSectionsContainer narrow(
        {{"Short:", new QLabel("x")}, {longLabel, content, false, Qt::AlignTop}}, 400, 20);
    EXPECT_EQ(narrow.labelColumnWidth(), longWidth);
    EXPECT_EQ(longLabel->font().pixelSize(), 13);

    auto *short1 = new QLabel("y");
    SettingsSectionsContainer wide({{"Short:", short1}}, 400, longWidth + 80);
    EXPECT_EQ(wide.labelColumnWidth(), longWidth + 80);
    wide.resize(wide.sizeHint());
    wide.layout()->activate();
    EXPECT_GE(short1->x(), SettingsSectionsContainer::horizontalPadding + longWidth + 80);
}

TEST(SettingsSectionsTest, DescriptionStyleIsSmallAndSecondary)
{
    QLabel description("Shown below the setting.");
    Settings::applyDescriptionStyle(&description);
    EXPECT_EQ(description.font().pixelSize(), 11);
    EXPECT_EQ(description.palette().color(QPalette::WindowText),
              description.palette().color(QPalette::PlaceholderText));
}

} // namespace
