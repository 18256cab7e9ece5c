// Shows a sample settings window with three panes of different heights, for
// screenshots under Xvfb.
//
//   settings_demo [--segmented] [--pane ID] [--switch ID] [--screenshot FILE]
//
// --switch picks a pane through the toolbar after the window opens, as a
// click would; --screenshot saves the window's area of the screen once it has
// settled, and quits.
#include "platform/defaults/UserDefaults.h"
#include "settings/SegmentedControlStyleViewController.h"
#include "settings/SettingsSectionsContainer.h"
#include "settings/SettingsTabViewController.h"
#include "settings/SettingsWindowController.h"
#include "settings/UserInteractionPausableWindow.h"
#include "settings/WidgetPane.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

using namespace corvane;

namespace {

QWidget *described(QWidget *control, const QString &description)
{
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(control);
    auto *label = new QLabel(description);
    Settings::applyDescriptionStyle(label);
    layout->addWidget(label);
    return box;
}

QWidget *generalContent()
{
    auto *xcode = new QComboBox;
    xcode->addItems({"Xcode 15.4 (15F31d)", "Xcode 16.0 (16A5171c)"});
    auto *check = new QPushButton("Check for Updates");
    return new SettingsSectionsContainer(
        {{"Startup:", described(new QCheckBox("Start at login"), "Opens in the menu bar."), true},
         {"Xcode:", described(xcode, "/Applications/Xcode.app"), true},
         {"Quick Repeat:", new QLineEdit("Ctrl+Shift+R")},
         {"Derived Data:", new QLineEdit("Ctrl+Shift+K"), true},
         {"Updates:", described(check, "Last Checked: Never.")}},
        360, 120);
}

QWidget *captureContent()
{
    auto *box = new QWidget;
    auto *form = new QFormLayout(box);
    form->setContentsMargins(30, 20, 30, 20);
    auto *png = new QRadioButton("PNG");
    png->setChecked(true);
    auto *formats = new QWidget;
    auto *row = new QHBoxLayout(formats);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(png);
    row->addWidget(new QRadioButton("JPG"));
    form->addRow("Screenshot format:", formats);
    form->addRow("", new QCheckBox("Include the device mask"));
    return box;
}

QWidget *locationsContent()
{
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(20, 20, 20, 20);
    auto *list = new QListWidget;
    list->addItems({"Cupertino", "Lisbon", "Tokyo Station"});
    list->setCurrentRow(1);
    list->setMinimumSize(420, 150);
    layout->addWidget(list);
    layout->addWidget(new QLineEdit("38.707800, -9.136600"));
    return box;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");

    QCommandLineParser parser;
    parser.addOption({"segmented", "Use the segmented control."});
    parser.addOption({"pane", "The pane to open at.", "id"});
    parser.addOption({"switch", "The pane to switch to after opening.", "id"});
    parser.addOption({"screenshot", "Save the window to this PNG and quit.", "file"});
    parser.process(app);

    // The window's place is not kept between runs of the demo.
    QTemporaryDir defaultsDir;
    UserDefaults::setStandard(UserDefaults::withFile(defaultsDir.filePath("defaults.conf")));

    const Settings::Pane general({"general"}, "General", QIcon(":/images/statusIcon.svg"),
                                 generalContent);
    const Settings::Pane capture({"capture"}, "Capture", QIcon(":/images/Recording.svg"),
                                 captureContent);
    const Settings::Pane locations({"locations"}, "Locations", QIcon(":/images/Folder.svg"),
                                   locationsContent);
    SettingsWindowController controller(
        std::vector<const SettingsPaneConvertible *>{&general, &capture, &locations},
        parser.isSet("segmented") ? Settings::Style::segmentedControl
                                  : Settings::Style::toolbarItems);
    controller.showPane(parser.isSet("pane")
                            ? std::optional(Settings::PaneIdentifier{parser.value("pane")})
                            : std::nullopt);

    SettingsTabViewController *tabs = controller.tabViewController();
    const QString target = parser.value("switch");
    if (!target.isEmpty()) {
        QTimer::singleShot(500, [&] {
            const QList<SettingsPane *> &panes = tabs->panes();
            for (int i = 0; i < panes.size(); ++i) {
                if (panes[i]->paneIdentifier().rawValue != target)
                    continue;
                // Through the toolbar, as the user would.
                if (auto *style = dynamic_cast<SegmentedControlStyleViewController *>(
                        tabs->settingsStyleController())) {
                    style->segments()->button(i)->click();
                } else {
                    for (QAction *action : tabs->toolbar()->actions()) {
                        if (action->objectName() == target)
                            action->trigger();
                    }
                }
            }
        });
    }
    const QString screenshot = parser.value("screenshot");
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(target.isEmpty() ? 800 : 1500, [&] {
            const QRect frame = controller.window()->frameGeometry();
            QScreen *screen = controller.window()->screen();
            const QPixmap shot =
                screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
            QApplication::exit(shot.save(screenshot) ? 0 : 1);
        });
    }
    return app.exec();
}
