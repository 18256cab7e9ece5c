#include "model/Application.h"
#include "model/Device.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace corvane;

namespace {

void writeIcon(const QString &path, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(QColor(70, 130, 200));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(240, 200, 90));
    painter.drawEllipse(QRectF(size * 0.2, size * 0.2, size * 0.6, size * 0.6));
    painter.end();
    image.save(path, "PNG");
}

// One application whose bundle holds three loose icon files (120, 152 and
// 180 pixels) named by its Info dictionary.
struct IconBundle {
    QTemporaryDir dir;
    DevicePtr device;
    ApplicationPtr application;

    explicit IconBundle(Runtime::System system)
    {
        SystemPaths paths = SystemPaths::current();
        paths.temporaryDir = dir.path();
        SystemPaths::setCurrent(paths);
        const QString bundle = dir.path() + "/9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A/Icons.app";
        QDir().mkpath(bundle);
        writeIcon(bundle + "/AppIcon60x60@2x.png", 120);
        writeIcon(bundle + "/AppIcon60x60@3x.png", 180);
        writeIcon(bundle + "/AppIcon76x76@2x.png", 152);
        const QVariantMap primary{
            {"CFBundleIconFiles", QStringList{"AppIcon60x60", "AppIcon76x76"}}};
        const QVariantMap icons{{"CFBundlePrimaryIcon", primary}};
        const QVariantMap info{{"CFBundleIdentifier", "com.example.icons"},
                               {"CFBundleName", "Icons"},
                               {"CFBundleIcons", icons}};
        PropertyList::writeFile(bundle + "/Info.plist", info);
        device =
            Device::initFromListLine("iPhone 15 (0C6F1E2A-1111-4222-8333-444455556666) (Shutdown)",
                                     Runtime(system, "17.2"), nullptr);
        application = Application::make(QUrl::fromLocalFile(bundle + "/"), device, nullptr,
                                        Application::SimulatorCheck::byCaller);
    }
};

void BM_LoadIconsThreeLooseFiles(benchmark::State &state)
{
    IconBundle bundle(Runtime::System::iOS);
    if (!bundle.application || !bundle.application->appIcon()) {
        state.SkipWithError("no icon");
        return;
    }
    for (auto _ : state)
        bundle.application->loadIcons();
}
BENCHMARK(BM_LoadIconsThreeLooseFiles)->Unit(benchmark::kMicrosecond);

void BM_DisplayIcon32(benchmark::State &state)
{
    IconBundle bundle(Runtime::System(state.range(0)));
    if (!bundle.application || !bundle.application->appIcon()) {
        state.SkipWithError("no icon");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(bundle.application->displayIcon(QSizeF(32, 32)));
}
BENCHMARK(BM_DisplayIcon32)
    ->Arg(int(Runtime::System::iOS))
    ->Arg(int(Runtime::System::watchOS))
    ->Unit(benchmark::kMicrosecond);

} // namespace
