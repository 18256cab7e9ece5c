#include "preferences/CapturePreferenceViewController.h"

#include "core/CorvaneSettings.h"
#include "core/Toolset.h"
#include "model/StatusBarPreset.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/files/SystemPaths.h"
#include "settings/SettingsSectionsContainer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>

namespace corvane {

namespace {

constexpr int kContentWidth = 470;

QComboBox *makePopUp(QWidget *receiverContext, const std::function<void(int)> &action)
{
    auto *popUp = new QComboBox;
    popUp->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    QObject::connect(popUp, &QComboBox::activated, receiverContext, action);
    return popUp;
}

void select(QComboBox *popUp, int row)
{
    const QSignalBlocker blocker(popUp);
    popUp->setCurrentIndex(row);
}

} // namespace

CapturePreferenceViewController::CapturePreferenceViewController(const QStringList &exportPresets,
                                                                 QWidget *parent)
    : SettingsPane({identifier}, loc("Capture", "CAPTURE_PANE_TITLE"),
                   QIcon(":/images/Pref - Capture.svg"), parent),
      m_settings(CorvaneSettings::shared()), m_repository(StatusBarPresetRepository::shared())
{
    m_imageFormatSelection = makePopUp(this, [this](int row) { imageFormatChanged(row); });
    m_imageFormatSelection->addItems({"PNG", "JPG"});

    m_videoFormatSelection = makePopUp(this, [this](int row) { videoFormatChanges(row); });
    m_videoFormatSelection->addItems({"H.264", "HEVC"});
    // Shown either way; it can be chosen only where the system writes HEVC.
    if (auto *model = qobject_cast<QStandardItemModel *>(m_videoFormatSelection->model()))
        model->item(1)->setEnabled(exportPresets.contains(VideoExportPresets::hevcHighestQuality));

    m_includeMaskOption =
        new QCheckBox(loc("Include the device mask", "CAPTURE_INCLUDE_MASK_ITEM_LABEL"));
    connect(m_includeMaskOption, &QCheckBox::clicked, this,
            [this](bool checked) { m_settings->setIncludeMaskInCaptures(checked); });

    m_savePath = new QLineEdit;
    m_savePath->setReadOnly(true);
    m_savePath->setMinimumWidth(200);
    m_labelColor = m_savePath->palette().color(QPalette::Text);
    m_saveDirectoryButton = new QPushButton(loc("Choose…", "CAPTURE_CHOOSE_FOLDER_ITEM_TITLE"));
    connect(m_saveDirectoryButton, &QPushButton::clicked, this, [this] { pickSaveDirectory(); });
    auto *saveRow = new QWidget;
    auto *saveLayout = new QHBoxLayout(saveRow);
    saveLayout->setContentsMargins(0, 0, 0, 0);
    saveLayout->addWidget(m_savePath, 1);
    saveLayout->addWidget(m_saveDirectoryButton);

    m_statusBarSelection = makePopUp(this, [this](int row) { statusBarChanged(row); });
    auto *presetNote = new QLabel(loc("Applied to the device before each screenshot or recording.",
                                      "CAPTURE_STATUS_BAR_NOTE_ITEM_LABEL"));
    Settings::applyDescriptionStyle(presetNote);
    auto *presetColumn = new QWidget;
    auto *presetLayout = new QVBoxLayout(presetColumn);
    presetLayout->setContentsMargins(0, 0, 0, 0);
    presetLayout->setSpacing(4);
    presetLayout->addWidget(m_statusBarSelection, 0, Qt::AlignLeft);
    presetLayout->addWidget(presetNote);

    const QList<Settings::Section> sections{
        {loc("Screenshots:", "CAPTURE_IMAGE_FORMAT_ITEM_LABEL"), m_imageFormatSelection},
        {loc("Videos:", "CAPTURE_VIDEO_FORMAT_ITEM_LABEL"), m_videoFormatSelection},
        {static_cast<QWidget *>(nullptr), m_includeMaskOption, true},
        {loc("Save to:", "CAPTURE_SAVE_FOLDER_ITEM_LABEL"), saveRow, true},
        {loc("Status bar:", "CAPTURE_STATUS_BAR_ITEM_LABEL"), presetColumn, false, Qt::AlignTop},
    };
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SettingsSectionsContainer(sections, kContentWidth));

    // The names first, so that the first selection finds its row.
    rebuildPresetsNames();
    m_kvoObservers.push_back(m_settings->observe(
        "autoAppliedStatusBar", onMain(&CapturePreferenceViewController::recomputePresetSelection),
        true));
    m_kvoObservers.push_back(m_settings->observe(
        "savePath", onMain(&CapturePreferenceViewController::savePathDidChange), true));
    m_kvoObservers.push_back(m_settings->observe(
        "imageFormat", onMain(&CapturePreferenceViewController::imageFormatDidChange), true));
    m_kvoObservers.push_back(m_settings->observe(
        "videoFormat", onMain(&CapturePreferenceViewController::videoFormatDidChange), true));
    m_kvoObservers.push_back(
        m_settings->observe("includeMaskInCaptures",
                            onMain(&CapturePreferenceViewController::includeMaskDidChange), true));

    QPointer<CapturePreferenceViewController> pane(this);
    m_observers.append(observeNotification<StatusBarPresetRepository>(
        StatusBarPresetRepository::didChange, m_repository, DispatchQueue::main(),
        [pane](const Notification &, const std::shared_ptr<StatusBarPresetRepository> &) {
            if (!pane)
                return;
            pane->rebuildPresetsNames();
            pane->recomputePresetSelection();
        }));
}

CapturePreferenceViewController::~CapturePreferenceViewController() = default;

std::function<void()>
CapturePreferenceViewController::onMain(void (CapturePreferenceViewController::*method)())
{
    QPointer<CapturePreferenceViewController> pane(this);
    return [pane, method] {
        if (DispatchQueue::isMainThread()) {
            if (pane)
                (pane->*method)();
            return;
        }
        DispatchQueue::main()->async([pane, method] {
            if (pane)
                (pane->*method)();
        });
    };
}

void CapturePreferenceViewController::willAppear()
{
    // The folder may have come or gone (a volume) since the last look.
    savePathDidChange();
}

void CapturePreferenceViewController::rebuildPresetsNames()
{
    auto presets = m_repository->presets();
    std::stable_sort(presets.begin(), presets.end(),
                     [](const StatusBarPresetPtr &a, const StatusBarPresetPtr &b) {
                         return StatusBarPreset::titleLess(*a, *b);
                     });
    m_presetsNames = QStringList{loc("None", "CAPTURE_NO_PRESET_ITEM_TITLE")};
    m_presetIdentifiers.clear();
    for (const auto &preset : presets) {
        m_presetsNames << preset->title();
        m_presetIdentifiers << preset->uniqueIdentifier();
    }
    const QSignalBlocker blocker(m_statusBarSelection);
    m_statusBarSelection->clear();
    m_statusBarSelection->addItems(m_presetsNames);
    m_statusBarSelection->setCurrentIndex(
        m_presetSelection < m_presetsNames.size() ? m_presetSelection : 0);
}

void CapturePreferenceViewController::recomputePresetSelection()
{
    const auto identifier = m_settings->autoAppliedStatusBar();
    // A preset that is gone shows as none; the stored identifier stays.
    m_presetSelection = identifier ? int(m_presetIdentifiers.indexOf(*identifier)) + 1 : 0;
    select(m_statusBarSelection, m_presetSelection);
}

void CapturePreferenceViewController::savePathDidChange()
{
    const QString path = m_settings->savePath().toLocalFile();
    m_currentPath = SystemPaths::current().abbreviatingHome(path);
    m_savePath->setText(m_currentPath);
    m_savePath->setToolTip(path);
    QPalette palette = m_savePath->palette();
    palette.setColor(QPalette::Text, QFileInfo::exists(path) ? m_labelColor : missingFolderColor());
    m_savePath->setPalette(palette);
}

void CapturePreferenceViewController::imageFormatDidChange()
{
    m_imageSelection =
        m_settings->imageFormat() == Toolset::rawValue(Toolset::ImageFormats::jpeg) ? 1 : 0;
    select(m_imageFormatSelection, m_imageSelection);
}

void CapturePreferenceViewController::videoFormatDidChange()
{
    // A stored "hevc" selects its row even where it cannot be chosen.
    m_videoSelection =
        m_settings->videoFormat() == Toolset::rawValue(Toolset::VideoFormats::hevc) ? 1 : 0;
    select(m_videoFormatSelection, m_videoSelection);
}

void CapturePreferenceViewController::includeMaskDidChange()
{
    const QSignalBlocker blocker(m_includeMaskOption);
    m_includeMaskOption->setChecked(m_settings->includeMaskInCaptures());
}

void CapturePreferenceViewController::imageFormatChanged(int row)
{
    const auto &formats = Toolset::allImageFormats();
    if (row < 0 || size_t(row) >= formats.size())
        return;
    m_settings->setImageFormat(Toolset::rawValue(formats[size_t(row)]));
}

void CapturePreferenceViewController::videoFormatChanges(int row)
{
    const auto &formats = Toolset::allVideoFormats();
    if (row < 0 || size_t(row) >= formats.size())
        return;
    m_settings->setVideoFormat(Toolset::rawValue(formats[size_t(row)]));
}

void CapturePreferenceViewController::statusBarChanged(int row)
{
    if (row >= 1 && row < m_presetsNames.size())
        m_settings->setAutoAppliedStatusBar(m_presetIdentifiers[row - 1]);
    else
        m_settings->setAutoAppliedStatusBar(std::nullopt);
}

void CapturePreferenceViewController::pickSaveDirectory()
{
    OpenPanelSpec spec;
    spec.title = loc("Save Destination", "CAPTURE_SAVE_DESTINATION_PANEL_TITLE");
    spec.prompt = loc("Select", "CAPTURE_SAVE_DESTINATION_PANEL_PROMPT");
    spec.identifier = QStringLiteral("SaveDestination");
    spec.canChooseFiles = false;
    spec.canChooseDirectories = true;
    spec.canCreateDirectories = true;
    spec.showsHiddenFiles = false;
    spec.allowsMultipleSelection = false;
    spec.parentWindow = window()->windowHandle();
    const QString current = m_settings->savePath().toLocalFile();
    if (QFileInfo(current).isDir())
        spec.directory = current;
    const QStringList chosen = OpenPanel::shared()->runModal(spec);
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return;
    m_settings->setSavePath(QUrl::fromLocalFile(chosen.first()));
    savePathDidChange();
}

} // namespace corvane
