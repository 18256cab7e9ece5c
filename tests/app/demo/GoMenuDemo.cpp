// A small window with the GPS window's "Go" menu over three presets, and the
// coordinate prompt, for screenshots under Xvfb.
//
//   go_menu_demo --menu     opens the Go menu
//   go_menu_demo --prompt   opens the coordinate prompt with a coordinate typed
#include "app/qt/MenuRenderer.h"
#include "app/qt/QtAlertPresenter.h"
#include "location/GoToActions.h"
#include "location/LocationGoMenu.h"
#include "location/LocationPreset.h"
#include "location/LocationPresetRepository.h"
#include "platform/files/PendingSaves.h"
#include "platform/files/SystemPaths.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

using namespace corvane;

namespace {

LocationPresetPtr preset(const QString &title, double latitude, double longitude)
{
    auto preset = LocationPreset::make(title);
    preset->setLatitude(latitude);
    preset->setLongitude(longitude);
    return preset;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Corvane");
    const bool showMenu = app.arguments().contains("--menu");
    const bool showPrompt = app.arguments().contains("--prompt");

    // The presets and the engine's files stay in a folder of their own.
    QTemporaryDir folder;
    SystemPaths paths = SystemPaths::current();
    paths.applicationSupport = folder.path();
    SystemPaths::setCurrent(paths);
    AlertPresenter::setShared(std::make_shared<QtAlertPresenter>());

    auto repository = LocationPresetRepository::shared();
    repository->setPresets({preset("Golden Gate Bridge", 37.8199, -122.4783),
                            repository->presets().front(), preset("Big Ben", 51.5007, -0.1246)});

    auto actions = GoToActions::make();
    auto menu = LocationGoMenu::make("Go", actions, repository);
    MenuRenderer renderer;

    QMainWindow window;
    window.setWindowTitle("GPS");
    auto *toolbar = window.addToolBar("Location");
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto *go = new QToolButton;
    go->setText("Go");
    go->setPopupMode(QToolButton::InstantPopup);
    go->setMenu(renderer.menuFor(menu));
    toolbar->addWidget(go);
    auto *label = new QLabel("Choose a place in the Go menu.");
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.resize(420, 300);
    window.move(40, 40);
    window.show();

    if (showMenu)
        QTimer::singleShot(500, go, &QToolButton::showMenu);
    if (showPrompt) {
        QTimer::singleShot(500, &window, [actions] { actions->gotoManualCoordinate(); });
        auto *typist = new QTimer(&window);
        QObject::connect(typist, &QTimer::timeout, [typist] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                if (auto *line = modal->findChild<QLineEdit *>())
                    line->setText("37.7955, -122.3937");
                typist->stop();
            }
        });
        typist->start(20);
    }
    const int code = app.exec();
    PendingSaves::waitUntilDone(std::chrono::steady_clock::now() + std::chrono::seconds(5));
    return code;
}
