#include "location/GPSPlaybackOptionsViewController.h"

#include "core/CorvaneSettings.h"
#include "location/LocationSimulator.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

namespace {

using Engine = LocationSimulator;

// Titles in the order of the engine's cases; not localized.
const QStringList dateModeTitles{"Today's Date", "Original Date"};
const QStringList timeModeTitles{"Now", "Original Time"};
const QStringList paceTitles{"Realtime", "Fixed - New Every 5s"};
const QStringList speedTitles{"0.5x", "Normal", "2x", "5x", "10x", "50x", "100x"};

QComboBox *selector(const QStringList &titles)
{
    auto *box = new QComboBox;
    box->clear();
    box->addItems(titles);
    return box;
}

QWidget *row(const QString &label, QWidget *control)
{
    auto *widget = new QWidget;
    auto *layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *title = new QLabel(label);
    title->setMinimumWidth(48);
    layout->addWidget(title);
    layout->addWidget(control, 1);
    return widget;
}

QWidget *note(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

template <class E> std::optional<E> option(int index)
{
    const auto &cases = Engine::allCases<E>();
    if (index < 0 || size_t(index) >= cases.size())
        return std::nullopt;
    return cases[size_t(index)];
}

} // namespace

GPSPlaybackOptionsViewController::GPSPlaybackOptionsViewController(
    std::shared_ptr<LocationSimulator> engine, std::shared_ptr<CorvaneSettings> settings,
    QWidget *parent)
    : QWidget(parent), m_engine(engine ? std::move(engine) : LocationSimulator::shared()),
      m_settings(settings ? std::move(settings) : CorvaneSettings::shared())
{
    setObjectName(QStringLiteral("GPSPlaybackOptions"));
    setMinimumWidth(220);
    setMaximumWidth(280);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    auto *heading = new QLabel(loc("Playback Options", "GPS_OPTIONS_HEADING_LABEL"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);

    m_warningRow = note(loc("The timestamps sent follow the date and time chosen here.",
                            "GPS_OPTIONS_WARNING_LABEL"));
    m_unsupportedRow = note(loc("The selected Xcode takes no timestamps with a location; the "
                                "simulators stamp each point themselves.",
                                "GPS_OPTIONS_UNSUPPORTED_LABEL"));
    m_dateModeSelector = selector(dateModeTitles);
    m_timeModeSelector = selector(timeModeTitles);
    m_paceSelector = selector(paceTitles);
    m_speedSelector = selector(speedTitles);
    m_dateChangeRow = row(loc("Date:", "GPS_OPTIONS_DATE_LABEL"), m_dateModeSelector);
    m_timeChangeRow = row(loc("Time:", "GPS_OPTIONS_TIME_LABEL"), m_timeModeSelector);
    m_autoRewindOption =
        new QCheckBox(loc("Restart when an app is updated", "GPS_OPTIONS_REWIND_LABEL"));
    m_autoRewindOption->setToolTip(
        loc("Starts the route again from its first point whenever an app is installed or "
            "updated on a simulator.",
            "GPS_OPTIONS_REWIND_TIP"));
    auto *reset = new QPushButton(loc("Reset", "GPS_OPTIONS_RESET_LABEL"));
    reset->setObjectName(QStringLiteral("resetPrefs"));

    layout->addWidget(m_warningRow);
    layout->addWidget(m_unsupportedRow);
    layout->addWidget(m_dateChangeRow);
    layout->addWidget(m_timeChangeRow);
    layout->addWidget(row(loc("Pace:", "GPS_OPTIONS_PACE_LABEL"), m_paceSelector));
    layout->addWidget(row(loc("Speed:", "GPS_OPTIONS_SPEED_LABEL"), m_speedSelector));
    layout->addWidget(m_autoRewindOption);
    layout->addWidget(reset, 0, Qt::AlignLeft);
    layout->addStretch(1);

    connect(m_dateModeSelector, &QComboBox::activated, this,
            &GPSPlaybackOptionsViewController::dateModeChanged);
    connect(m_timeModeSelector, &QComboBox::activated, this,
            &GPSPlaybackOptionsViewController::timeModeChanged);
    connect(m_paceSelector, &QComboBox::activated, this,
            &GPSPlaybackOptionsViewController::paceChanged);
    connect(m_speedSelector, &QComboBox::activated, this,
            &GPSPlaybackOptionsViewController::speedChanged);
    connect(m_autoRewindOption, &QCheckBox::clicked, this,
            &GPSPlaybackOptionsViewController::autoRewindChanged);
    connect(reset, &QPushButton::clicked, this, &GPSPlaybackOptionsViewController::resetPrefs);

    m_autoRewindOption->setChecked(m_autoRewindSelection);
    observe();
}

GPSPlaybackOptionsViewController::~GPSPlaybackOptionsViewController()
{
    m_kvoObservers.removeAll();
}

void GPSPlaybackOptionsViewController::onMain(
    const QPointer<GPSPlaybackOptionsViewController> &weak,
    std::function<void(GPSPlaybackOptionsViewController &)> change)
{
    if (DispatchQueue::isMainThread()) {
        if (weak)
            change(*weak);
        return;
    }
    DispatchQueue::main()->async([weak, change = std::move(change)] {
        if (weak)
            change(*weak);
    });
}

void GPSPlaybackOptionsViewController::observe()
{
    const QPointer<GPSPlaybackOptionsViewController> weak(this);
    m_kvoObservers.append(m_engine->supportsAdditionalFieldsProperty().observe(
        [weak](bool, bool supported) {
            onMain(weak,
                   [supported](auto &panel) { panel.setDateCustomizationEnabled(supported); });
        },
        true));
    const auto follow = [this, weak](const char *property, auto apply) {
        m_kvoObservers.append(m_settings->observe(
            QString::fromLatin1(property),
            [weak, apply] {
                onMain(weak, [apply](auto &panel) { apply(panel, *panel.m_settings); });
            },
            true));
    };
    follow("gpsTimestampsDateMode",
           [](GPSPlaybackOptionsViewController &panel, CorvaneSettings &s) {
               panel.setDateModeSelection(s.gpsTimestampsDateMode() == "original" ? 1 : 0);
           });
    follow("gpsTimestampsTimeMode",
           [](GPSPlaybackOptionsViewController &panel, CorvaneSettings &s) {
               panel.setTimeModeSelection(s.gpsTimestampsTimeMode() == "original" ? 1 : 0);
           });
    follow("gpsPace", [](GPSPlaybackOptionsViewController &panel, CorvaneSettings &s) {
        panel.setPaceSelection(s.gpsPace() == "fixed" ? 1 : 0);
    });
    follow("gpsSpeed", [](GPSPlaybackOptionsViewController &panel, CorvaneSettings &s) {
        const auto speed = Engine::fromRawValue<Engine::SpeedOptions>(s.gpsSpeed());
        panel.setSpeedSelection(int(speed.value_or(Engine::SpeedOptions::normal)));
    });
    follow("gpsAutoRewind", [](GPSPlaybackOptionsViewController &panel, CorvaneSettings &s) {
        panel.setAutoRewindSelection(s.gpsAutoRewind());
    });
}

void GPSPlaybackOptionsViewController::setDateModeSelection(int index)
{
    m_dateModeSelection = index;
    m_dateModeSelector->setCurrentIndex(index);
}

void GPSPlaybackOptionsViewController::setTimeModeSelection(int index)
{
    m_timeModeSelection = index;
    m_timeModeSelector->setCurrentIndex(index);
}

void GPSPlaybackOptionsViewController::setPaceSelection(int index)
{
    m_paceSelection = index;
    m_paceSelector->setCurrentIndex(index);
}

void GPSPlaybackOptionsViewController::setSpeedSelection(int index)
{
    m_speedSelection = index;
    m_speedSelector->setCurrentIndex(index);
}

void GPSPlaybackOptionsViewController::setAutoRewindSelection(bool on)
{
    m_autoRewindSelection = on;
    m_autoRewindOption->setChecked(on);
}

void GPSPlaybackOptionsViewController::setDateCustomizationEnabled(bool enabled)
{
    m_dateCustomizationEnabled = enabled;
    // Our layout speaks of the missing support only where it is missing.
    m_unsupportedRow->setVisible(!enabled);
    for (QWidget *row : {m_warningRow.data(), m_dateChangeRow.data(), m_timeChangeRow.data()}) {
        row->setMaximumHeight(0);
        row->hide();
    }
}

void GPSPlaybackOptionsViewController::dateModeChanged(int index)
{
    if (const auto mode = option<Engine::TimestampDateModeOptions>(index))
        m_engine->setTimestampDateMode(*mode);
}

void GPSPlaybackOptionsViewController::timeModeChanged(int index)
{
    if (const auto mode = option<Engine::TimestampTimeModeOptions>(index))
        m_engine->setTimestampTimeMode(*mode);
}

void GPSPlaybackOptionsViewController::paceChanged(int index)
{
    if (const auto pace = option<Engine::PaceOptions>(index))
        m_engine->setPace(*pace);
}

void GPSPlaybackOptionsViewController::speedChanged(int index)
{
    if (const auto speed = option<Engine::SpeedOptions>(index))
        m_engine->setSpeed(*speed);
}

void GPSPlaybackOptionsViewController::autoRewindChanged(bool on)
{
    m_engine->setAutoRewindEnabled(on);
}

void GPSPlaybackOptionsViewController::resetPrefs()
{
    m_engine->setTimestampDateMode(Engine::TimestampDateModeOptions::today);
    m_engine->setTimestampTimeMode(Engine::TimestampTimeModeOptions::now);
    m_engine->setPace(Engine::PaceOptions::realtime);
    m_engine->setSpeed(Engine::SpeedOptions::normal);
}

} // namespace corvane
