#include "preferences/GeneralPreferenceViewController.h"

#include "core/CorvaneSettings.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/desktop/LoginItem.h"
#include "platform/desktop/Updater.h"
#include "settings/SettingsSectionsContainer.h"
#include "shortcuts/ShortcutView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <atomic>
#include <mutex>

namespace corvane {

namespace {

constexpr int kContentWidth = 470;

// A line of a fixed width that keeps its whole text but shows what fits, with
// the middle left out, so a long Xcode path neither widens the window nor is
// cut off.
class MiddleElidedLabel : public QLabel {
public:
    static constexpr int width = 300;

    QSize sizeHint() const override { return {width, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect area = contentsRect();
        painter.drawText(area, int(alignment()),
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
    }
};

QString bundlePath(const QUrl &url)
{
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// One choice at a time, and only the newest: two quick picks never interleave
// their steps, and an older pick that waited does not undo a newer one.
std::mutex g_choiceMutex;
std::atomic<quint64> g_latestChoice{0};

// Remembers the choice only when it differs from xcode-select's and there is
// more than one Xcode; switches only when the choice is not already current.
void chooseXcode(ToolsetManager &manager, const std::shared_ptr<Toolset> &chosen, quint64 ticket)
{
    std::lock_guard lock(g_choiceMutex);
    if (ticket != g_latestChoice.load())
        return;
    const auto settings = CorvaneSettings::shared();
    settings->setToolsPath(chosen->xcodePath());
    const auto current = manager.current();
    if (!current || bundlePath(current->xcodePath()) != bundlePath(chosen->xcodePath()))
        manager.setCurrent(chosen);
    if (manager.isCurrentSystemSelected() || manager.availableToolsets().size() == 1)
        settings->setToolsPath(std::nullopt);
}

QWidget *column(std::initializer_list<QWidget *> widgets)
{
    auto *widget = new QWidget;
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (QWidget *child : widgets)
        layout->addWidget(child, 0, Qt::AlignLeft);
    return widget;
}

QLabel *makeDescription(QLabel *label)
{
    Settings::applyDescriptionStyle(label);
    return label;
}

ShortcutView *makeRecorder(const QString &defaultsKey)
{
    auto *view = new ShortcutView;
    view->setShortcutStyle(ShortcutView::Style::Rounded);
    view->setAssociatedUserDefaultsKey(defaultsKey);
    return view;
}

} // namespace

GeneralPreferenceViewController::GeneralPreferenceViewController(std::shared_ptr<Updater> updater,
                                                                 QWidget *parent)
    : SettingsPane({identifier}, loc("General", "GENERAL_PANE_TITLE"),
                   QIcon(":/images/Pref - General.svg"), parent),
      m_updater(std::move(updater))
{
    m_loginOption = new QCheckBox(loc("Launch Corvane at login", "GENERAL_LOGIN_ITEM_LABEL"));
    connect(m_loginOption, &QCheckBox::clicked, this, [this] { loginOptionToggled(); });

    m_shortcutOption = makeRecorder("GlobalRedo");
    m_deleteDDOption = makeRecorder("DeleteDerivedData");

    m_xcodeSelection = new QComboBox;
    m_xcodeSelection->setMinimumWidth(200);
    connect(m_xcodeSelection, &QComboBox::activated, this,
            [this](int index) { xcodeChanged(index); });
    m_xcodePathLabel = makeDescription(new MiddleElidedLabel);

    m_updateButton = new QPushButton(loc("Check for Updates…", "GENERAL_CHECK_UPDATES_ITEM_TITLE"));
    connect(m_updateButton, &QPushButton::clicked, this, [this] { checkForUpdates(); });
    m_updateLastCheckLabel = makeDescription(new QLabel);

    const QList<Settings::Section> sections{
        {loc("Startup:", "GENERAL_STARTUP_GROUP_LABEL"), m_loginOption, true},
        {loc("Quick Repeat:", "GENERAL_QUICK_REPEAT_ITEM_LABEL"), m_shortcutOption},
        {loc("Trash Derived Data:", "GENERAL_DERIVED_DATA_ITEM_LABEL"), m_deleteDDOption, true},
        {loc("Xcode:", "GENERAL_XCODE_ITEM_LABEL"), column({m_xcodeSelection, m_xcodePathLabel}),
         true, Qt::AlignTop},
        {loc("Updates:", "GENERAL_UPDATES_GROUP_LABEL"),
         column({m_updateButton, m_updateLastCheckLabel}), false, Qt::AlignTop},
    };
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SettingsSectionsContainer(sections, kContentWidth));

    refreshUpdateLabel();

    // Observed before the manager is read, so no change falls between.
    QPointer<GeneralPreferenceViewController> pane(this);
    m_observers.append(observeNotification(ToolsetManager::currentDidChange, DispatchQueue::main(),
                                           [pane](const Notification &, const ObjectPtr &) {
                                               if (pane)
                                                   pane->currentDidChange();
                                           }));
    m_observers.append(observeNotification(ToolsetManager::availableToolsetsDidChange,
                                           DispatchQueue::main(),
                                           [pane](const Notification &, const ObjectPtr &) {
                                               if (pane)
                                                   pane->availableToolsetsDidChange();
                                           }));
    // The first use of the manager looks for Xcodes and asks xcode-select.
    DispatchQueue::userInitiated()->async([pane] {
        auto manager = ToolsetManager::shared();
        DispatchQueue::main()->async([pane, manager] {
            if (pane)
                pane->managerIsReady(manager);
        });
    });
}

GeneralPreferenceViewController::~GeneralPreferenceViewController() = default;

QString GeneralPreferenceViewController::xcodeTitle(const Toolset &toolset)
{
    return "Xcode " + toolset.version() + " (" + toolset.build() + ")";
}

QString GeneralPreferenceViewController::lastCheckedText(const std::optional<QDateTime> &date)
{
    if (!date || !date->isValid())
        return loc("Last Checked: Never.", "GENERAL_LAST_CHECKED_NEVER_ITEM_LABEL");
    // Medium date and medium time, in the user's language.
    const QString text = QLocale().toString(date->toLocalTime(), "MMM d, yyyy 'at' h:mm:ss AP");
    return loc("Last Checked: %1.", "GENERAL_LAST_CHECKED_ITEM_LABEL").arg(text);
}

void GeneralPreferenceViewController::willAppear()
{
    if (m_manager)
        selectCurrentXcode();
    m_loginOption->setChecked(LoginItem::isEnabled());
    refreshUpdateLabel();
    // A changed list comes back through availableToolsetsDidChange.
    DispatchQueue::userInitiated()->async([] { ToolsetManager::shared()->reloadToolsets(); });
}

void GeneralPreferenceViewController::managerIsReady(std::shared_ptr<ToolsetManager> manager)
{
    m_manager = std::move(manager);
    rebuildXcodes();
    selectCurrentXcode();
    refreshPathLabel();
}

void GeneralPreferenceViewController::currentDidChange()
{
    if (!m_manager)
        return;
    selectCurrentXcode();
    refreshPathLabel();
}

void GeneralPreferenceViewController::availableToolsetsDidChange()
{
    if (!m_manager)
        return;
    rebuildXcodes();
    // New titles may have moved the current Xcode to another row.
    selectCurrentXcode();
    refreshPathLabel();
}

void GeneralPreferenceViewController::rebuildXcodes()
{
    m_toolsets = m_manager->availableToolsets();
    m_xcodes.clear();
    for (const auto &toolset : m_toolsets)
        m_xcodes << xcodeTitle(*toolset);
    const QSignalBlocker blocker(m_xcodeSelection);
    m_xcodeSelection->clear();
    m_xcodeSelection->addItems(m_xcodes);
}

void GeneralPreferenceViewController::selectCurrentXcode()
{
    const auto current = m_manager->current();
    const QSignalBlocker blocker(m_xcodeSelection);
    if (!current) {
        // The label says none is selected; no row should say otherwise.
        m_xcodeSelection->setCurrentIndex(-1);
        return;
    }
    for (size_t i = 0; i < m_toolsets.size(); ++i) {
        if (*m_toolsets[i] == *current) {
            if (int(i) < m_xcodeSelection->count())
                m_xcodeSelection->setCurrentIndex(int(i));
            return;
        }
    }
}

void GeneralPreferenceViewController::refreshPathLabel()
{
    if (const auto current = m_manager->current())
        m_xcodePathLabel->setText(bundlePath(current->xcodePath()));
    else if (!m_manager->availableToolsets().empty())
        m_xcodePathLabel->setText(
            loc("No Xcode selected.", "GENERAL_NO_XCODE_SELECTED_ITEM_LABEL"));
    else
        m_xcodePathLabel->setText(loc("No Xcodes detected.", "GENERAL_NO_XCODES_ITEM_LABEL"));
    m_xcodePathLabel->setToolTip(m_xcodePathLabel->text());
}

void GeneralPreferenceViewController::refreshUpdateLabel()
{
    m_updateLastCheckLabel->setText(
        lastCheckedText(m_updater ? m_updater->lastUpdateCheckDate() : std::nullopt));
    // Without an updater there is nothing to check with.
    m_updateButton->setEnabled(m_updater != nullptr);
}

void GeneralPreferenceViewController::xcodeChanged(int index)
{
    if (!m_manager || index < 0 || size_t(index) >= m_toolsets.size())
        return;
    const quint64 ticket = ++g_latestChoice;
    DispatchQueue::userInitiated()->async([manager = m_manager, chosen = m_toolsets[size_t(index)],
                                           ticket] { chooseXcode(*manager, chosen, ticket); });
}

void GeneralPreferenceViewController::checkForUpdates()
{
    if (m_updater)
        m_updater->checkForUpdates();
    QPointer<GeneralPreferenceViewController> pane(this);
    DispatchQueue::main()->asyncAfter(updateLabelRefreshDelay, [pane] {
        if (pane)
            pane->refreshUpdateLabel();
    });
}

void GeneralPreferenceViewController::loginOptionToggled()
{
    const bool wanted = m_loginOption->isChecked();
    if (LoginItem::setEnabled(wanted))
        return;
    m_loginOption->setChecked(!wanted);
    Log::general().notice(loginItemErrorMessage);
}

} // namespace corvane
