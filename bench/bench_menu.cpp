#include "BenchApplication.h"
#include "app/qt/MenuRenderer.h"
#include "platform/menus/Menu.h"

#include <QMenu>
#include <benchmark/benchmark.h>

using namespace corvane;

namespace {

using bench::ensureApplication;

struct Model {
    MenuPtr menu;
    std::vector<MenuItemPtr> deviceRows;
};

// 100 device rows, each with an unopened 30-item submenu, and 40 fixed rows.
Model makeModel()
{
    Model model;
    model.menu = std::make_shared<Menu>("root");
    std::vector<MenuItemPtr> items;
    for (int i = 0; i < 20; ++i)
        items.push_back(MenuItem::make(QStringLiteral("Fixed %1").arg(i)));
    for (int i = 0; i < 100; ++i) {
        auto row = MenuItem::make(QStringLiteral("iPhone %1").arg(i), "auto:");
        row->setIndentationLevel(1);
        row->setOnStateImage(ImageRef::resource("On").tinted(ImageRef::TintColor::Accent));
        row->setOffStateImage(ImageRef::resource("Off"));
        row->setState(i % 3 == 0 ? ControlState::On : ControlState::Off);
        auto submenu = std::make_shared<Menu>(row->title());
        std::vector<MenuItemPtr> subItems;
        for (int j = 0; j < 30; ++j)
            subItems.push_back(MenuItem::make(QStringLiteral("Action %1").arg(j)));
        submenu->setItems(subItems);
        row->setSubmenu(submenu);
        model.deviceRows.push_back(row);
        items.push_back(row);
    }
    for (int i = 0; i < 20; ++i)
        items.push_back(MenuItem::make(QStringLiteral("Fixed tail %1").arg(i)));
    model.menu->setItems(items);
    return model;
}

void BM_AboutToShowFirstFill(benchmark::State &state)
{
    ensureApplication();
    bench::timeFirstOpening<Menu>(state, [] { return makeModel().menu; });
}
BENCHMARK(BM_AboutToShowFirstFill)->Unit(benchmark::kMillisecond);

void BM_ReopenFilledMenu(benchmark::State &state)
{
    ensureApplication();
    Model model = makeModel();
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(model.menu);
    bench::timeReopening(state, qmenu);
}
BENCHMARK(BM_ReopenFilledMenu)->Unit(benchmark::kMillisecond);

void BM_HideDeviceRowsWhileOpen(benchmark::State &state)
{
    ensureApplication();
    Model model = makeModel();
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(model.menu);
    qmenu->popup(QPoint(0, 0));
    bool hidden = false;
    for (auto _ : state) {
        hidden = !hidden;
        for (const auto &row : model.deviceRows)
            row->setHidden(hidden);
        renderer.flush();
    }
    qmenu->hide();
}
BENCHMARK(BM_HideDeviceRowsWhileOpen)->Unit(benchmark::kMillisecond);

} // namespace
