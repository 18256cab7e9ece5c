// Shows shortcut recorders in each of their five styles, idle, with a value
// and recording, for screenshots under Xvfb. The top-left recorder is live
// and stored under "DeleteDerivedData" in the standard defaults (set
// CORVANE_CONFIG_DIR); each value it records is printed as read back.
#include "platform/defaults/UserDefaults.h"
#include "shortcuts/ShortcutView.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>

#include <cstdio>

using namespace corvane;

namespace {

const char *const kStyleNames[] = {"Round rect", "Textured rounded", "Rounded", "None",
                                   "Regular square"};

// Only one recorder records at a time: each recording state is a picture of
// a recorder taken while it records.
QLabel *recordingPicture(ShortcutView::Style style, std::optional<Shortcut> value, QWidget *parent)
{
    ShortcutView probe;
    probe.setShortcutValidator(nullptr);
    probe.setShortcutStyle(style);
    probe.setShortcutValue(value);
    probe.resize(probe.sizeHint());
    probe.setRecording(true);
    auto *picture = new QLabel(parent);
    picture->setPixmap(probe.grab());
    probe.setRecording(false);
    return picture;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const Shortcut value(40, Shortcut::Command | Shortcut::Option);

    QWidget window;
    window.setWindowTitle("Shortcut recorders");
    auto *grid = new QGridLayout(&window);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(10);
    const char *const headers[] = {"Style", "Idle", "Value", "Recording", "Recording, value"};
    for (int column = 0; column < 5; ++column)
        grid->addWidget(new QLabel(QString("<b>%1</b>").arg(headers[column])), 0, column);
    for (int row = 0; row < 5; ++row) {
        const auto style = ShortcutView::Style(row);
        grid->addWidget(new QLabel(QString("%1 (%2)").arg(kStyleNames[row]).arg(row)), row + 1, 0);
        auto *idle = new ShortcutView;
        idle->setShortcutStyle(style);
        auto *withValue = new ShortcutView;
        withValue->setShortcutStyle(style);
        withValue->setShortcutValue(value);
        if (row == 0) {
            idle->setAssociatedUserDefaultsKey("DeleteDerivedData");
            idle->setShortcutValueChange([](ShortcutView *) {
                const auto stored = Shortcut::fromStoredValue(
                    UserDefaults::standard()->object("DeleteDerivedData"));
                std::printf("stored: %s\n", stored ? qPrintable(stored->description()) : "(none)");
                std::fflush(stdout);
            });
        }
        grid->addWidget(idle, row + 1, 1, Qt::AlignLeft);
        grid->addWidget(withValue, row + 1, 2, Qt::AlignLeft);
        grid->addWidget(recordingPicture(style, std::nullopt, &window), row + 1, 3);
        grid->addWidget(recordingPicture(style, value, &window), row + 1, 4);
    }
    // A first show caps a window at two thirds of the screen.
    window.resize(window.sizeHint());
    window.move(0, 0);
    window.show();
    return app.exec();
}
