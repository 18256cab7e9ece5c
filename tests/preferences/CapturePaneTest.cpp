#include "PanesTestSupport.h"
#include "model/StatusBarPreset.h"
#include "platform/desktop/VideoExportPresets.h"
#include "preferences/CapturePreferenceViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>

#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {

class CapturePaneTest : public PaneTestBase {
protected:
    // Replaces the stored presets and waits until the pane has heard of it.
    void setPresets(CapturePreferenceViewController &pane,
                    const std::vector<StatusBarPresetPtr> &presets)
    {
        StatusBarPresetRepository::shared()->setPresets(presets);
        ASSERT_TRUE(
            waitUntil([&] { return pane.presetsNames().size() == qsizetype(presets.size()) + 1; }));
    }

    static QStringList items(QComboBox *popUp)
    {
        QStringList texts;
        for (int i = 0; i < popUp->count(); ++i)
            texts << popUp->itemText(i);
        return texts;
    }

    static bool isEnabled(QComboBox *popUp, int row)
    {
        auto *model = qobject_cast<QStandardItemModel *>(popUp->model());
        return model && model->item(row)->isEnabled();
    }

    std::shared_ptr<CorvaneSettings> settings() const { return CorvaneSettings::shared(); }
};

} // namespace

TEST_F(CapturePaneTest, PresetsListInTitleOrderAndEachRowStoresItsOwnPreset)
{
    CapturePreferenceViewController pane;
    auto beta = StatusBarPreset::make("beta");
    auto upper = StatusBarPreset::make("Alpha");
    auto lower = StatusBarPreset::make("alpha");
    setPresets(pane, {beta, upper, lower});
    EXPECT_EQ(pane.presetsNames(), (QStringList{"None", "Alpha", "alpha", "beta"}));
    EXPECT_EQ(items(pane.statusBarSelection()), pane.presetsNames());

    pane.statusBarChanged(1);
    EXPECT_EQ(settings()->autoAppliedStatusBar(), upper->uniqueIdentifier());
    EXPECT_EQ(pane.presetSelection(), 1);
    pane.statusBarChanged(0);
    EXPECT_EQ(settings()->autoAppliedStatusBar(), std::nullopt);
    EXPECT_EQ(pane.statusBarSelection()->currentIndex(), 0);

    // Equal titles: each row keeps standing for its own preset.
    auto first = StatusBarPreset::make("Same");
    auto second = StatusBarPreset::make("Same");
    setPresets(pane, {first, second});
    pane.statusBarChanged(2);
    EXPECT_EQ(settings()->autoAppliedStatusBar(), second->uniqueIdentifier());
    EXPECT_EQ(pane.presetSelection(), 2);
    pane.statusBarChanged(1);
    EXPECT_EQ(settings()->autoAppliedStatusBar(), first->uniqueIdentifier());
    EXPECT_EQ(pane.presetSelection(), 1);

    // A row past the list clears the choice.
    pane.statusBarChanged(3);
    EXPECT_EQ(settings()->autoAppliedStatusBar(), std::nullopt);
}

TEST_F(CapturePaneTest, TheSelectionFollowsItsPresetThroughRenamesAndDeletion)
{
    CapturePreferenceViewController pane;
    auto alpha = StatusBarPreset::make("Alpha");
    auto beta = StatusBarPreset::make("Beta");
    setPresets(pane, {alpha, beta});
    pane.statusBarSelection()->setCurrentIndex(2);
    pane.statusBarChanged(2);
    ASSERT_EQ(settings()->autoAppliedStatusBar(), beta->uniqueIdentifier());

    beta->setTitle("Aardvark");
    ASSERT_TRUE(waitUntil([&] { return pane.presetsNames().value(1) == "Aardvark"; }));
    EXPECT_EQ(pane.presetSelection(), 1);
    EXPECT_EQ(pane.statusBarSelection()->currentText(), "Aardvark");

    // Deleted: shown as none, but the stored choice is left alone.
    setPresets(pane, {alpha});
    EXPECT_EQ(pane.presetSelection(), 0);
    EXPECT_EQ(pane.statusBarSelection()->currentText(), "None");
    EXPECT_EQ(settings()->autoAppliedStatusBar(), beta->uniqueIdentifier());
}

TEST_F(CapturePaneTest, FormatsShowTheStoredValuesAndWriteTheChosenOnes)
{
    settings()->setImageFormat("bmp");
    CapturePreferenceViewController pane;
    EXPECT_EQ(items(pane.imageFormatSelection()), (QStringList{"PNG", "JPG"}));
    EXPECT_EQ(items(pane.videoFormatSelection()), (QStringList{"H.264", "HEVC"}));
    EXPECT_EQ(pane.imageSelection(), 0);
    EXPECT_EQ(pane.imageFormatSelection()->currentText(), "PNG");

    pane.imageFormatChanged(1);
    EXPECT_EQ(settings()->imageFormat(), "jpeg");
    EXPECT_EQ(pane.imageFormatSelection()->currentIndex(), 1);
    pane.imageFormatChanged(0);
    EXPECT_EQ(settings()->imageFormat(), "png");
    pane.imageFormatChanged(2);
    EXPECT_EQ(settings()->imageFormat(), "png");

    // No HEVC here: shown but not to be chosen; a stored "hevc" still shows.
    EXPECT_FALSE(isEnabled(pane.videoFormatSelection(), 1));
    EXPECT_TRUE(isEnabled(pane.videoFormatSelection(), 0));
    settings()->setVideoFormat("hevc");
    EXPECT_EQ(pane.videoSelection(), 1);
    EXPECT_EQ(pane.videoFormatSelection()->currentText(), "HEVC");
    pane.videoFormatChanges(0);
    EXPECT_EQ(settings()->videoFormat(), "h264");

    CapturePreferenceViewController withHevc(
        {"AVAssetExportPresetHighestQuality", VideoExportPresets::hevcHighestQuality});
    EXPECT_TRUE(isEnabled(withHevc.videoFormatSelection(), 1));
    withHevc.videoFormatChanges(1);
    EXPECT_EQ(settings()->videoFormat(), "hevc");
    EXPECT_EQ(pane.videoSelection(), 1);
}

TEST_F(CapturePaneTest, ChangesMadeOnOtherThreadsReachTheControlsOnTheMainThread)
{
    CapturePreferenceViewController pane;
    std::thread([&] {
        settings()->setImageFormat("jpeg");
        settings()->setIncludeMaskInCaptures(true);
    }).join();
    EXPECT_TRUE(waitUntil([&] {
        return pane.imageFormatSelection()->currentIndex() == 1 &&
               pane.includeMaskOption()->isChecked();
    }));

    pane.includeMaskOption()->click();
    EXPECT_FALSE(settings()->includeMaskInCaptures());
    pane.includeMaskOption()->click();
    EXPECT_TRUE(settings()->includeMaskInCaptures());
}

TEST_F(CapturePaneTest, TheSaveFolderShowsHomeAsTildeAndRedWhenMissing)
{
    const QString captures = path("home/Captures");
    ASSERT_TRUE(QDir().mkpath(captures));
    settings()->setSavePath(QUrl::fromLocalFile(captures));
    CapturePreferenceViewController pane;
    EXPECT_EQ(pane.currentPath(), "~/Captures");
    EXPECT_EQ(pane.savePath()->text(), "~/Captures");
    const QColor labelColor = pane.savePath()->palette().color(QPalette::Text);
    EXPECT_NE(labelColor, CapturePreferenceViewController::missingFolderColor());

    // Chosen through the panel: a folder that is not there yet.
    openPanel->enqueue({path("home/Shots")});
    pane.saveDirectoryButton()->click();
    ASSERT_EQ(openPanel->presented.size(), 1u);
    const OpenPanelSpec &spec = openPanel->presented[0];
    EXPECT_EQ(spec.title, "Save Destination");
    EXPECT_EQ(spec.prompt, "Select");
    EXPECT_EQ(spec.identifier, "SaveDestination");
    EXPECT_FALSE(spec.canChooseFiles);
    EXPECT_TRUE(spec.canChooseDirectories);
    EXPECT_TRUE(spec.canCreateDirectories);
    EXPECT_FALSE(spec.allowsMultipleSelection);
    EXPECT_FALSE(spec.showsHiddenFiles);
    EXPECT_EQ(spec.directory, captures);
    EXPECT_EQ(settings()->savePath(), QUrl::fromLocalFile(path("home/Shots")));
    EXPECT_EQ(pane.currentPath(), "~/Shots");
    EXPECT_EQ(pane.savePath()->palette().color(QPalette::Text),
              CapturePreferenceViewController::missingFolderColor());

    // The folder appears; showing the pane again notices.
    ASSERT_TRUE(QDir().mkpath(path("home/Shots")));
    pane.willAppear();
    EXPECT_EQ(pane.savePath()->palette().color(QPalette::Text), labelColor);

    // Cancelled: nothing changes.
    pane.pickSaveDirectory();
    EXPECT_EQ(openPanel->presented.size(), 2u);
    EXPECT_EQ(settings()->savePath(), QUrl::fromLocalFile(path("home/Shots")));

    // Outside the home folder the path shows as it is.
    settings()->setSavePath(QUrl::fromLocalFile(path("elsewhere")));
    EXPECT_EQ(pane.currentPath(), path("elsewhere"));
}
