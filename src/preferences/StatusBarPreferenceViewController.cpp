#include "preferences/StatusBarPreferenceViewController.h"

#include "core/Debounce.h"
#include "model/StatusBarPreset.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "preferences/PresetListController.h"
#include "preferences/SegmentedControl.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QTableView>

namespace corvane {

namespace {

QString percentText(int value)
{
    return QString::number(value) + "%";
}

void setTextKeepingEdits(QLineEdit *field, const QString &text)
{
    // Rewriting the same text would move the cursor of a field being typed in.
    if (field->text() != text)
        field->setText(text);
}

} // namespace

StatusBarPreferenceViewController::StatusBarPreferenceViewController(
    std::shared_ptr<Scheduler> scheduler, QWidget *parent)
    : SettingsPane({identifier}, loc("Status Bars", "STATUS_BAR_PANE_TITLE"),
                   QIcon(":/images/Pref - Status Bar.svg"), parent),
      m_scheduler(std::move(scheduler)), m_repository(StatusBarPresetRepository::shared())
{
    m_list = new PresetListController(PresetListAccess::of<StatusBarPreset>(m_repository), this);

    m_wifiStrengthControl = new SegmentedControl(
        {"0", "1", "2", "3", loc("Failed", "STATUS_BAR_WIFI_FAILED_ITEM_TITLE")},
        SegmentedControl::Mode::selectOne);
    connect(m_wifiStrengthControl, &SegmentedControl::segmentClicked, this, [this](int index) {
        editSelected([index](StatusBarPreset &p) { p.setWifiButtonIndex(index); });
    });

    m_cellStatusControl = new QComboBox;
    m_cellStatusControl->addItems(cellStatusOptions());
    connect(m_cellStatusControl, &QComboBox::activated, this, [this](int index) {
        editSelected([index](StatusBarPreset &p) { p.setCarrierStatusIndex(index); });
    });

    m_cellStrengthControl =
        new SegmentedControl({"0", "1", "2", "3", "4"}, SegmentedControl::Mode::selectOne);
    connect(m_cellStrengthControl, &SegmentedControl::segmentClicked, this, [this](int index) {
        editSelected([index](StatusBarPreset &p) { p.setCarrierBarsButtonIndex(index); });
    });

    m_carrierNameField = new QLineEdit;
    connect(m_carrierNameField, &QLineEdit::textEdited, this, [this](const QString &text) {
        editSelected([&text](StatusBarPreset &p) { p.setCarrierName(text); });
    });

    m_dataNetworkControl = new SegmentedControl({"LTE+", "LTE-A", "LTE", "4G", "3G", "Wi-Fi"},
                                                SegmentedControl::Mode::selectOne);
    connect(m_dataNetworkControl, &SegmentedControl::segmentClicked, this, [this](int index) {
        editSelected([index](StatusBarPreset &p) { p.setDataNetworkButtonIndex(index); });
    });

    m_timeField = new QLineEdit;
    connect(m_timeField, &QLineEdit::textEdited, this, [this](const QString &text) {
        editSelected([&text](StatusBarPreset &p) { p.setTime(text); });
    });

    m_batteryStateControl =
        new SegmentedControl({loc("Discharging", "STATUS_BAR_DISCHARGING_ITEM_TITLE"),
                              loc("Charging", "STATUS_BAR_CHARGING_ITEM_TITLE")},
                             SegmentedControl::Mode::selectOne);
    connect(m_batteryStateControl, &SegmentedControl::segmentClicked, this, [this](int index) {
        editSelected([index](StatusBarPreset &p) { p.setBatteryButtonIndex(index); });
    });

    m_batteryPercentSlider = new QSlider(Qt::Horizontal);
    m_batteryPercentSlider->setRange(0, 100);
    m_batteryPercentSlider->setMinimumWidth(160);
    connect(m_batteryPercentSlider, &QSlider::valueChanged, this, [this] { sliderChanged(); });
    m_batteryPercent = new QLabel;
    m_batteryPercent->setMinimumWidth(m_batteryPercent->fontMetrics().horizontalAdvance("100%"));
    auto *batteryRow = new QWidget;
    auto *batteryLayout = new QHBoxLayout(batteryRow);
    batteryLayout->setContentsMargins(0, 0, 0, 0);
    batteryLayout->addWidget(m_batteryPercentSlider, 1);
    batteryLayout->addWidget(m_batteryPercent);

    m_details = new QWidget;
    auto *form = new QFormLayout(m_details);
    form->setContentsMargins(0, 0, 0, 0);
    form->setLabelAlignment(Qt::AlignRight);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->addRow(loc("Wi-Fi:", "STATUS_BAR_WIFI_ITEM_LABEL"), m_wifiStrengthControl);
    form->addRow(loc("Cellular:", "STATUS_BAR_CELLULAR_ITEM_LABEL"), m_cellStatusControl);
    form->addRow(loc("Bars:", "STATUS_BAR_CELLULAR_BARS_ITEM_LABEL"), m_cellStrengthControl);
    form->addRow(loc("Carrier:", "STATUS_BAR_CARRIER_ITEM_LABEL"), m_carrierNameField);
    form->addRow(loc("Network:", "STATUS_BAR_DATA_NETWORK_ITEM_LABEL"), m_dataNetworkControl);
    form->addRow(loc("Time:", "STATUS_BAR_TIME_ITEM_LABEL"), m_timeField);
    form->addRow(loc("Battery:", "STATUS_BAR_BATTERY_ITEM_LABEL"), m_batteryStateControl);
    form->addRow(QString(), batteryRow);
    m_carrierNameField->setMinimumWidth(180);
    m_timeField->setMinimumWidth(180);

    QWidget *list = m_list->takeWidget();
    list->setFixedWidth(190);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(20);
    layout->addWidget(list);
    layout->addWidget(m_details, 1, Qt::AlignTop);

    connect(m_list, &PresetListController::selectionChanged, this,
            &StatusBarPreferenceViewController::selectionUpdate);
    selectionUpdate();
}

StatusBarPreferenceViewController::~StatusBarPreferenceViewController() = default;

QStringList StatusBarPreferenceViewController::cellStatusOptions()
{
    return {loc("Active", "STATUS_BAR_CELL_ACTIVE_ITEM_TITLE"),
            loc("Failed", "STATUS_BAR_CELL_FAILED_ITEM_TITLE"),
            loc("Searching", "STATUS_BAR_CELL_SEARCHING_ITEM_TITLE"),
            loc("Not Supported", "STATUS_BAR_CELL_NOT_SUPPORTED_ITEM_TITLE")};
}

std::shared_ptr<StatusBarPreset> StatusBarPreferenceViewController::selectedPreset() const
{
    return m_list->firstSelectedAs<StatusBarPreset>();
}

template <class Setter> void StatusBarPreferenceViewController::editSelected(Setter setter)
{
    if (const auto preset = selectedPreset())
        setter(*preset);
}

void StatusBarPreferenceViewController::selectionUpdate()
{
    const auto preset = selectedPreset();
    {
        const QSignalBlocker blocker(m_batteryPercentSlider);
        m_batteryPercentSlider->setValue(preset ? int(preset->batteryLevel()) : 50);
    }
    m_batteryPercent->setText(percentText(m_batteryPercentSlider->value()));
    observeSelectedPreset();
    showPresetValues();
}

void StatusBarPreferenceViewController::observeSelectedPreset()
{
    m_presetObservers.clear();
    const auto preset = selectedPreset();
    if (!preset)
        return;
    const auto refresh = onMainThread(this, [this] { showPresetValues(); });
    for (const char *property : {"wifiButtonIndex", "carrierStatusIndex", "carrierBarsButtonIndex",
                                 "carrierBarsButtonEnabled", "carrierName", "carrierNameEnabled",
                                 "dataNetworkButtonIndex", "time", "batteryButtonIndex"})
        m_presetObservers.push_back(preset->observe(property, refresh));
    const std::weak_ptr<StatusBarPreset> weak = preset;
    m_presetObservers.push_back(
        preset->observe("batteryLevel", onMainThread(this, [this, weak] {
                            const auto preset = weak.lock();
                            if (!preset || preset != selectedPreset())
                                return;
                            const QSignalBlocker blocker(m_batteryPercentSlider);
                            m_batteryPercentSlider->setValue(int(preset->batteryLevel()));
                            m_batteryPercent->setText(percentText(m_batteryPercentSlider->value()));
                        })));
}

void StatusBarPreferenceViewController::showPresetValues()
{
    const auto preset = selectedPreset();
    m_details->setEnabled(preset != nullptr);
    if (!preset) {
        for (SegmentedControl *control : {m_wifiStrengthControl, m_cellStrengthControl,
                                          m_dataNetworkControl, m_batteryStateControl})
            control->setSelectedSegment(-1);
        m_cellStatusControl->setCurrentIndex(-1);
        m_carrierNameField->clear();
        m_timeField->clear();
        return;
    }
    m_wifiStrengthControl->setSelectedSegment(preset->wifiButtonIndex());
    m_cellStrengthControl->setSelectedSegment(int(preset->carrierBarsButtonIndex()));
    m_cellStrengthControl->setEnabled(preset->carrierBarsButtonEnabled());
    // A value without a segment ("notSupported", as a new preset has) shows
    // none chosen, where its button index would name the first.
    m_dataNetworkControl->setSelectedSegment(
        int(StatusBarPreset::dataNetworkValues().indexOf(preset->dataNetwork())));
    m_batteryStateControl->setSelectedSegment(preset->batteryButtonIndex());
    m_cellStatusControl->setCurrentIndex(preset->carrierStatusIndex());
    setTextKeepingEdits(m_carrierNameField, preset->carrierName());
    m_carrierNameField->setEnabled(preset->carrierNameEnabled());
    setTextKeepingEdits(m_timeField, preset->time());
}

void StatusBarPreferenceViewController::sliderChanged()
{
    const int value = m_batteryPercentSlider->value();
    m_batteryPercent->setText(percentText(value));
    // The preset selected now, even if the selection moves on or the preset
    // is removed before the write: a removed one is no longer saved.
    std::shared_ptr<StatusBarPreset> preset = selectedPreset();
    debounce(*m_scheduler, DispatchQueue::main(), batteryDelay, QString(batteryDebounceKey),
             [preset, value] {
                 if (preset)
                     preset->setBatteryLevel(value);
             });
}

} // namespace corvane
