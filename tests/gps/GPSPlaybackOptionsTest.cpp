#include "location/EngineTestSupport.h"
#include "location/GPSPlaybackOptionsViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

class PlaybackOptions : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        makeEngine();
    }

    void TearDown() override
    {
        panel.reset();
        EngineTest::TearDown();
    }

    void makePanel()
    {
        panel = std::make_unique<GPSPlaybackOptionsViewController>(engine, settings);
    }

    QStringList shown() const
    {
        return {panel->dateModeSelector()->currentText(), panel->timeModeSelector()->currentText(),
                panel->paceSelector()->currentText(), panel->speedSelector()->currentText()};
    }

    std::unique_ptr<GPSPlaybackOptionsViewController> panel;
};

TEST_F(PlaybackOptions, ShowsTheStoredSettings)
{
    makePanel();
    EXPECT_EQ(shown(), QStringList({"Today's Date", "Now", "Realtime", "Normal"}));
    EXPECT_FALSE(panel->autoRewindOption()->isChecked());
    EXPECT_EQ(panel->autoRewindOption()->text(), "Restart when an app is updated");
    EXPECT_FALSE(panel->autoRewindSelection());
    EXPECT_EQ(panel->speedSelector()->count(), 7);

    // Settings changed elsewhere move the controls; an unknown speed is normal.
    settings->setGpsSpeed("ff10");
    settings->setGpsTimestampsTimeMode("original");
    settings->setGpsAutoRewind(true);
    EXPECT_EQ(shown(), QStringList({"Today's Date", "Original Time", "Realtime", "10x"}));
    EXPECT_TRUE(panel->autoRewindOption()->isChecked());
    settings->setGpsSpeed("warp");
    EXPECT_EQ(panel->speedSelector()->currentText(), "Normal");
    EXPECT_EQ(panel->speedSelection(), 1);
}

TEST_F(PlaybackOptions, ChoicesGoThroughTheEngineAndResetKeepsRewind)
{
    makePanel();
    emit panel->paceSelector()->activated(1);
    EXPECT_EQ(engine->pace(), LocationSimulator::PaceOptions::fixed);
    EXPECT_EQ(settings->gpsPace(), "fixed");
    EXPECT_EQ(panel->paceSelector()->currentText(), "Fixed - New Every 5s");

    emit panel->speedSelector()->activated(6);
    emit panel->dateModeSelector()->activated(1);
    panel->autoRewindOption()->click();
    EXPECT_EQ(settings->gpsSpeed(), "ff100");
    EXPECT_TRUE(settings->gpsAutoRewind());
    // An index outside the items changes nothing.
    panel->speedChanged(9);
    EXPECT_EQ(engine->speed(), LocationSimulator::SpeedOptions::ff100);

    panel->resetPrefs();
    EXPECT_EQ(QStringList({settings->gpsTimestampsDateMode(), settings->gpsTimestampsTimeMode(),
                           settings->gpsPace(), settings->gpsSpeed()}),
              QStringList({"today", "now", "realtime", "normal"}));
    EXPECT_EQ(shown(), QStringList({"Today's Date", "Now", "Realtime", "Normal"}));
    EXPECT_TRUE(engine->autoRewindEnabled());
    EXPECT_TRUE(panel->autoRewindOption()->isChecked());
}

TEST_F(PlaybackOptions, DateCustomizationCollapsesTheSameRowsEitherWay)
{
    makePanel();
    for (bool enabled : {true, false}) {
        panel->setDateCustomizationEnabled(enabled);
        for (QWidget *row : {panel->warningRow(), panel->dateChangeRow(), panel->timeChangeRow()}) {
            EXPECT_TRUE(row->isHidden());
            EXPECT_EQ(row->maximumHeight(), 0);
        }
        EXPECT_EQ(panel->dateCustomizationEnabled(), enabled);
        EXPECT_EQ(panel->unsupportedRow()->isHidden(), enabled);
    }
    engine->setSupportsAdditionalFields(true);
    EXPECT_TRUE(panel->dateCustomizationEnabled());
}

} // namespace
