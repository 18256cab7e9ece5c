// Shows a sample status menu (two-line row, state marks, an indented row and
// a row shown only while Option is held) for screenshots under Xvfb.
#include "app/qt/QtStatusItem.h"
#include "platform/menus/Menu.h"
#include "platform/hotkeys/OptionKeyPoller.h"

#include <QApplication>

using namespace corvane;

namespace {

class DemoMenu : public Menu {
public:
    explicit DemoMenu(bool forceOption) : m_forceOption(forceOption)
    {
        addAction("quit:", [](const ObjectPtr &) { QApplication::quit(); });
    }

    void willOpen() override
    {
        m_poller.start([weak = weakAs<DemoMenu>()](bool) {
            if (auto menu = weak.lock())
                menu->update();
        });
    }
    void didClose() override { m_poller.stop(); }
    void update() override
    {
        if (m_optionOnly)
            m_optionOnly->setHidden(!(m_forceOption || m_poller.optionHeld()));
    }

    MenuItemPtr m_optionOnly;

private:
    bool m_forceOption;
    OptionKeyPoller m_poller;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const bool forceOption = app.arguments().contains("--option");

    auto menu = std::make_shared<DemoMenu>(forceOption);
    auto recent = MenuItem::make("Recent Builds");
    recent->setEnabled(false);
    auto app1 = MenuItem::make("Weather");
    app1->setTwoLineTitle(TwoLineTitle{"Weather", "iPhone 15 (iOS 17.2)"});
    app1->setImage(ImageRef::resource("statusIcon").padded(QMarginsF(0, 2, 4, 2)));
    auto header = MenuItem::make("iOS 17.2");
    header->setEnabled(false);
    auto running = MenuItem::make("iPhone 15");
    running->setIndentationLevel(1);
    running->setState(ControlState::On);
    running->setOnStateImage(ImageRef::resource("On").tinted(ImageRef::TintColor::Accent));
    running->setOffStateImage(ImageRef::resource("Off"));
    auto stopped = MenuItem::make("iPad Air");
    stopped->setIndentationLevel(1);
    stopped->setOnStateImage(ImageRef::resource("On").tinted(ImageRef::TintColor::Accent));
    stopped->setOffStateImage(ImageRef::resource("Off"));
    auto sub = std::make_shared<Menu>("iPad Air");
    sub->setItems({MenuItem::make("Boot")});
    stopped->setSubmenu(sub);
    auto checked = MenuItem::make("Dark Appearance");
    checked->setState(ControlState::On);
    auto trash = MenuItem::make("Trash Derived Data");
    trash->setImage(ImageRef::symbol("trash"));
    auto logs = MenuItem::make("Export Debug Logs…");
    menu->m_optionOnly = logs;
    auto quit = MenuItem::make("Quit", "quit:", "q");
    quit->setTarget(menu);
    menu->setItems({recent, app1, MenuItem::separator(), header, running, stopped,
                    MenuItem::separator(), checked, trash, logs, quit});

    QtStatusItem statusItem;
    statusItem.setIcon(ImageRef::resource("statusIcon"));
    statusItem.setMenu(menu);
    return app.exec();
}
