#include "PanesTestSupport.h"
#include "PreferencesTestSupport.h"
#include "app/ManualScheduler.h"
#include "location/LocationPreset.h"
#include "location/MapOverlay.h"
#include "location/MapView.h"
#include "model/DeviceStatusBar.h"
#include "model/StatusBarPreset.h"
#include "platform/menus/ContextMenuPresenter.h"
#include "platform/menus/MenuItem.h"
#include "preferences/LocationsPreferenceViewController.h"
#include "preferences/PresetListController.h"
#include "preferences/SegmentedControl.h"
#include "preferences/StatusBarPreferenceViewController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSlider>
#include <QTableView>
#include <QTimer>

using namespace corvane;
using namespace corvane::test;

namespace {

struct StatusBars {
    using Pane = StatusBarPreferenceViewController;
    using Preset = StatusBarPreset;
    using Repository = StatusBarPresetRepository;
};

struct Locations {
    using Pane = LocationsPreferenceViewController;
    using Preset = LocationPreset;
    using Repository = LocationPresetRepository;
};

// The repository's saves written and announced.
void settle()
{
    EXPECT_TRUE(waitForBackgroundWork());
}

QString fileText(const QString &path)
{
    settle();
    return QString::fromUtf8(readFile(path));
}

QStringList titles(const std::vector<ObjectPtr> &presets)
{
    QStringList titles;
    for (const auto &object : presets) {
        if (auto preset = std::dynamic_pointer_cast<StatusBarPreset>(object))
            titles << preset->title();
        else if (auto preset = std::dynamic_pointer_cast<LocationPreset>(object))
            titles << preset->title();
    }
    return titles;
}

template <class T> class PresetListTest : public PaneTestBase {
protected:
    using Preset = typename T::Preset;

    std::vector<std::shared_ptr<Preset>> list(const QStringList &titles)
    {
        std::vector<std::shared_ptr<Preset>> presets;
        for (const QString &title : titles)
            presets.push_back(Preset::make(title));
        T::Repository::shared()->setPresets(presets);
        return presets;
    }

    std::unique_ptr<typename T::Pane> makePane()
    {
        auto pane = std::make_unique<typename T::Pane>();
        pane->resize(720, 420);
        pane->show();
        return pane;
    }
};

using PaneTypes = ::testing::Types<StatusBars, Locations>;
TYPED_TEST_SUITE(PresetListTest, PaneTypes);

TYPED_TEST(PresetListTest, AddSelectsANamedPresetInEditingAndRemoveNeedsTwo)
{
    auto only = this->list({"Only"});
    auto pane = this->makePane();
    PresetListController *presets = pane->presetList();
    SegmentedControl *addRemove = pane->addRemoveControl();
    EXPECT_EQ(presets->firstSelected(), only[0]);
    EXPECT_FALSE(addRemove->isSegmentEnabled(1));

    addRemove->segment(0)->click();
    const auto listed = TypeParam::Repository::shared()->presets();
    ASSERT_EQ(listed.size(), 2u);
    const auto added = listed.back();
    EXPECT_EQ(added->title(), "Untitled Preset");
    EXPECT_EQ(presets->firstSelected(), added);
    EXPECT_TRUE(addRemove->isSegmentEnabled(1));
    QTableView *table = pane->sourceTable();
    EXPECT_EQ(table->currentIndex().row(), 1);
    auto *editor = table->viewport()->findChild<QLineEdit *>();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->selectedText(), "Untitled Preset");

    // The name typed over it lists the preset in its place and is saved.
    editor->setText("Alpha");
    sendKey(editor, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return added->title() == "Alpha"; }));
    EXPECT_EQ(titles(presets->arrangedPresets()), (QStringList{"Alpha", "Only"}));
    EXPECT_EQ(presets->firstSelected(), added);
    EXPECT_TRUE(fileText(TypeParam::Repository::shared()->filePath()).contains("\"Alpha\""));

    presets->select(nullptr);
    EXPECT_FALSE(addRemove->isSegmentEnabled(1));
    addRemove->segment(1)->click();
    EXPECT_EQ(TypeParam::Repository::shared()->presets().size(), 2u);
}

TYPED_TEST(PresetListTest, RemoveTakesTheSelectedRowOfTheSortedTable)
{
    auto presets = this->list({"Charlie", "Alpha", "Bravo"});
    auto pane = this->makePane();
    PresetListController *list = pane->presetList();
    EXPECT_EQ(titles(list->arrangedPresets()), (QStringList{"Alpha", "Bravo", "Charlie"}));

    list->select(presets[2]);
    pane->addRemoveControl()->segment(1)->click();
    const auto left = TypeParam::Repository::shared()->presets();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], presets[0]);
    EXPECT_EQ(left[1], presets[1]);
    // The neighbour takes the selection.
    EXPECT_EQ(list->firstSelected(), presets[0]);
    const QString saved = fileText(TypeParam::Repository::shared()->filePath());
    EXPECT_FALSE(saved.contains("Bravo"));
    EXPECT_TRUE(saved.contains("Charlie"));

    // A list replaced elsewhere shows at once, the selection kept.
    auto presetsNow = TypeParam::Repository::shared()->presets();
    presetsNow.push_back(TypeParam::Preset::make("Delta"));
    TypeParam::Repository::shared()->setPresets(presetsNow);
    ASSERT_TRUE(waitUntil([&] { return list->arrangedPresets().size() == 3; }));
    EXPECT_EQ(list->firstSelected(), presets[0]);
}

class StatusBarPaneTest : public PaneTestBase {
protected:
    void SetUp() override
    {
        PaneTestBase::SetUp();
        first = StatusBarPreset::make("First");
        first->setBatteryLevel(40);
        second = StatusBarPreset::make("Second");
        StatusBarPresetRepository::shared()->setPresets({first, second});
        pane = std::make_unique<StatusBarPreferenceViewController>(scheduler);
        pane->show();
    }

    void TearDown() override
    {
        pane.reset();
        PaneTestBase::TearDown();
    }

    QString savedFile() const { return fileText(StatusBarPresetRepository::shared()->filePath()); }

    std::shared_ptr<ManualScheduler> scheduler = std::make_shared<ManualScheduler>();
    StatusBarPresetPtr first;
    StatusBarPresetPtr second;
    std::unique_ptr<StatusBarPreferenceViewController> pane;
};

TEST_F(StatusBarPaneTest, ControlsEditTheSelectedPresetAndFollowItsChanges)
{
    ASSERT_EQ(pane->presetList()->firstSelected(), first);
    EXPECT_EQ(pane->wifiStrengthControl()->selectedSegment(), 3);
    EXPECT_EQ(pane->batteryPercent()->text(), "40%");

    pane->wifiStrengthControl()->segment(4)->click();
    EXPECT_EQ(first->wifiMode(), "failed");
    pane->dataNetworkControl()->segment(2)->click();
    EXPECT_EQ(first->dataNetwork(), "lte");
    typeText(pane->carrierNameField(), "X");
    EXPECT_EQ(first->carrierName(), "CarrierX");

    // Changes made elsewhere show at once.
    first->setCarrierStatusIndex(1);
    EXPECT_EQ(pane->cellStatusControl()->currentIndex(), 1);
    EXPECT_FALSE(pane->cellStrengthControl()->isEnabled());
    EXPECT_EQ(pane->cellStrengthControl()->selectedSegment(), -1);
    EXPECT_FALSE(pane->carrierNameField()->isEnabled());
    first->setCarrierStatusIndex(2);
    EXPECT_TRUE(pane->carrierNameField()->isEnabled());
    first->setBatteryButtonIndex(1);
    EXPECT_EQ(pane->batteryStateControl()->selectedSegment(), 1);
    first->setBatteryLevel(65);
    EXPECT_EQ(pane->batteryPercentSlider()->value(), 65);
    EXPECT_EQ(pane->batteryPercent()->text(), "65%");

    pane->presetList()->select(nullptr);
    EXPECT_EQ(pane->batteryPercentSlider()->value(), 50);
    EXPECT_EQ(pane->batteryPercent()->text(), "50%");
    for (SegmentedControl *control : {pane->wifiStrengthControl(), pane->cellStrengthControl(),
                                      pane->dataNetworkControl(), pane->batteryStateControl()})
        EXPECT_EQ(control->selectedSegment(), -1);
    EXPECT_TRUE(savedFile().contains("\"carrierName\":\"CarrierX\""));
}

TEST_F(StatusBarPaneTest, TheBatteryLevelIsWrittenOnceAfterTheSliderRests)
{
    int writes = 0;
    auto token = first->observe("batteryLevel", [&] { ++writes; });
    QSlider *slider = pane->batteryPercentSlider();
    for (int value = 41; value <= 80; ++value) {
        slider->setValue(value);
        EXPECT_EQ(pane->batteryPercent()->text(), QString::number(value) + "%");
        ASSERT_TRUE(scheduler->advance(0.02));
    }
    ASSERT_TRUE(scheduler->advance(0.9));
    EXPECT_EQ(writes, 0);
    ASSERT_TRUE(scheduler->advance(0.15));
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(first->batteryLevel(), 80);
    EXPECT_TRUE(savedFile().contains("\"batteryLevel\":80"));
}

TEST_F(StatusBarPaneTest, APendingLevelGoesToThePresetItWasMovedFor)
{
    pane->batteryPercentSlider()->setValue(70);
    pane->presetList()->select(second);
    ASSERT_TRUE(scheduler->advance(1.1));
    EXPECT_EQ(first->batteryLevel(), 70);
    EXPECT_EQ(second->batteryLevel(), 100);

    // Removed before the write: the file stays as it was.
    pane->batteryPercentSlider()->setValue(30);
    pane->addRemoveControl()->segment(1)->click();
    ASSERT_EQ(StatusBarPresetRepository::shared()->presets().size(), 1u);
    const QString before = savedFile();
    ASSERT_TRUE(scheduler->advance(1.1));
    EXPECT_EQ(second->batteryLevel(), 30);
    EXPECT_EQ(savedFile(), before);
}

// A new preset sends no network, and its network control chooses none, also
// when the pane is made anew over the saved file; a chosen segment is stored
// and sent.
TEST_F(StatusBarPaneTest, TheNetworkControlShowsWhatThePresetSends)
{
    const auto sentNetwork = [](const StatusBarPreset &preset) {
        const QStringList arguments = statusBarOverrideArguments(preset, "UDID", QString("15.4"));
        return arguments.value(arguments.indexOf("--dataNetwork") + 1);
    };
    pane->addRemoveControl()->segment(0)->click();
    const auto added = pane->presetList()->firstSelectedAs<StatusBarPreset>();
    ASSERT_TRUE(added && added != first && added != second);
    EXPECT_EQ(pane->dataNetworkControl()->selectedSegment(), -1);
    EXPECT_EQ(sentNetwork(*added), "notSupported");

    settle();
    StatusBarPresetRepository::resetShared();
    pane = std::make_unique<StatusBarPreferenceViewController>(scheduler);
    const auto reloaded =
        StatusBarPresetRepository::shared()->presetWithIdentifier(added->uniqueIdentifier());
    ASSERT_TRUE(reloaded);
    pane->presetList()->select(reloaded);
    EXPECT_EQ(pane->dataNetworkControl()->selectedSegment(), -1) << "after a restart";

    const struct {
        int segment;
        const char *value;
    } choices[] = {{0, "lte+"}, {3, "4g"}, {5, "wifi"}};
    for (const auto &choice : choices) {
        SCOPED_TRACE(choice.value);
        pane->dataNetworkControl()->segment(choice.segment)->click();
        EXPECT_EQ(pane->dataNetworkControl()->selectedSegment(), choice.segment);
        EXPECT_EQ(reloaded->dataNetwork(), choice.value);
        EXPECT_EQ(sentNetwork(*reloaded), choice.value);
        EXPECT_TRUE(savedFile().contains(QString("\"dataNetwork\":\"%1\"").arg(choice.value)));
    }
}

class LocationsPaneTest : public PaneTestBase {
protected:
    void SetUp() override
    {
        PaneTestBase::SetUp();
        home = LocationPreset::make("Home");
        home->setCoordinateText(u"10, 10");
        work = LocationPreset::make("Work");
        work->setCoordinateText(u"20, 20");
        LocationPresetRepository::shared()->setPresets({home, work});
        presenter = std::make_shared<RecordingContextMenuPresenter>();
        ContextMenuPresenter::setShared(presenter);
        pane = std::make_unique<LocationsPreferenceViewController>();
        pane->resize(720, 420);
        pane->show();
        pane->activateWindow();
        ASSERT_TRUE(waitUntil([&] { return pane->isActiveWindow(); }));
    }

    void TearDown() override
    {
        pane.reset();
        ContextMenuPresenter::setShared(nullptr);
        PaneTestBase::TearDown();
    }

    QLineEdit *field() const { return pane->coordinateField(); }

    // Typed over the field's text.
    void type(const QString &text)
    {
        field()->setFocus();
        field()->selectAll();
        typeText(field(), text);
    }

    LocationPresetPtr home;
    LocationPresetPtr work;
    std::shared_ptr<RecordingContextMenuPresenter> presenter;
    std::unique_ptr<LocationsPreferenceViewController> pane;
};

TEST_F(LocationsPaneTest, ATypedCoordinateIsAppliedOnceWhenTypingPauses)
{
    EXPECT_EQ(pane->mapView()->zoom(), 12);
    ASSERT_TRUE(pane->pin());
    EXPECT_EQ(pane->pin()->coordinate(), home->coordinate());
    EXPECT_EQ(field()->text(), "10.000000, 10.000000");

    int writes = 0;
    auto token = home->latitudeProperty().observe([&](double, double) { ++writes; });
    type("37.5, -122.25");
    QElapsedTimer sinceLastKey;
    sinceLastKey.start();
    EXPECT_EQ(writes, 0);
    ASSERT_TRUE(waitUntil([&] { return writes > 0; }));
    EXPECT_GE(sinceLastKey.elapsed(), 450);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(home->coordinate(), QGeoCoordinate(37.5, -122.25));
    EXPECT_EQ(pane->pin()->coordinate(), QGeoCoordinate(37.5, -122.25));
    EXPECT_NEAR(pane->mapView()->centreCoordinate().latitude(), 37.5, 1e-6);
    EXPECT_TRUE(fileText(LocationPresetRepository::shared()->filePath()).contains("-122.25"));
}

TEST_F(LocationsPaneTest, ASelectionChangeDuringThePauseDropsTheText)
{
    type("1, 2");
    pane->presetList()->select(work);
    EXPECT_FALSE(pane->typingTimer()->isActive());
    pumpFor(std::chrono::milliseconds(700));
    EXPECT_EQ(home->coordinate(), QGeoCoordinate(10, 10));
    EXPECT_EQ(work->coordinate(), QGeoCoordinate(20, 20));
    EXPECT_EQ(field()->text(), "20.000000, 20.000000");
}

TEST_F(LocationsPaneTest, ReturnAppliesAtOnceAndTextThatIsNoCoordinateGivesWay)
{
    type("5, 6");
    sendKey(field(), Qt::Key_Return);
    EXPECT_EQ(home->coordinate(), QGeoCoordinate(5, 6));
    EXPECT_FALSE(pane->typingTimer()->isActive());
    EXPECT_EQ(field()->text(), "5.000000, 6.000000");

    type("north of here");
    pane->sourceTable()->setFocus();
    ASSERT_TRUE(waitUntil([&] { return !field()->hasFocus(); }));
    EXPECT_FALSE(pane->typingTimer()->isActive());
    EXPECT_EQ(home->coordinate(), QGeoCoordinate(5, 6));
    EXPECT_EQ(field()->text(), "5.000000, 6.000000");
}

TEST_F(LocationsPaneTest, SetLocationMovesThePresetToTheClickedPoint)
{
    MapView *map = pane->mapView();
    const QPointF point(map->width() / 4.0, map->height() / 3.0);
    const QGeoCoordinate expected = map->pointToCoordinate(point);
    const MenuPtr menu = pane->contextMenuAt(point);
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->items().size(), 1u);
    const auto item = menu->items().front();
    EXPECT_EQ(item->title(), "Set Location");
    ASSERT_TRUE(item->sendAction());
    EXPECT_NEAR(home->latitude(), expected.latitude(), 1e-9);
    EXPECT_NEAR(home->longitude(), expected.longitude(), 1e-9);
    EXPECT_NEAR(map->centreCoordinate().latitude(), expected.latitude(), 1e-6);
    EXPECT_NEAR(map->centreCoordinate().longitude(), expected.longitude(), 1e-6);

    // A right click shows the menu on the map only, and only for a selection.
    const auto rightClick = [](QWidget *widget, const QPointF &at) {
        QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &press);
    };
    rightClick(pane.get(), QPointF(4, 4));
    EXPECT_TRUE(presenter->shown.empty());
    rightClick(map, point);
    ASSERT_EQ(presenter->shown.size(), 1u);
    EXPECT_EQ(presenter->shown[0].menu->items().front()->title(), "Set Location");
    pane->presetList()->select(nullptr);
    EXPECT_FALSE(pane->contextMenuAt(point));
    EXPECT_FALSE(pane->pin());
}

} // namespace
