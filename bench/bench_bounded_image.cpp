// Reads hostile images the way the program reads photos (fitted to 256
// pixels) and Unsplash thumbnails (a 120-pixel square): a 40-megapixel
// progressive JPEG whose first scan is repeated 10,000 times, and a 1 × 1
// PNG whose image data inflates to 256 MiB. The ordinary progressive JPEG
// of the same size is the yardstick. Each case reports the error, if any.

#include "fixtures/http/HostileReplies.h"
#include "platform/formats/BoundedImage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QLoggingCategory>
#include <benchmark/benchmark.h>

#include <functional>

using namespace corvane;

namespace {

constexpr QSize photoSize(6000, 6666);

const QByteArray &ordinary()
{
    static const QByteArray bytes = fixture::jpegWithScans(photoSize, 0);
    return bytes;
}

const QByteArray &bomb()
{
    static const QByteArray bytes = fixture::jpegWithScans(photoSize, 10000);
    return bytes;
}

// The pixel's row and 256 MiB of zeros after it, in one image data stream.
const QByteArray &pngBomb()
{
    static const QByteArray bytes = fixture::pngOf(1, 1, false, qint64(256) << 20);
    return bytes;
}

void run(benchmark::State &state, const QByteArray &data,
         const std::function<QImage(QIODevice &, QString *)> &read)
{
    QString why;
    bool decoded = false;
    for (auto _ : state) {
        QByteArray bytes = data;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        why.clear();
        decoded = !read(buffer, &why).isNull();
        benchmark::DoNotOptimize(decoded);
    }
    state.SetLabel(QString("%1 KB, %2")
                       .arg(data.size() / 1024)
                       .arg(decoded ? QStringLiteral("decoded") : why)
                       .toStdString());
}

QImage fitted(QIODevice &device, QString *why)
{
    return BoundedImage::read(device, why, {256, 256});
}

QImage square(QIODevice &device, QString *why)
{
    return BoundedImage::thumbnail(device, 120, why);
}

void BM_OrdinaryJpegFitted(benchmark::State &state)
{
    run(state, ordinary(), fitted);
}
void BM_OrdinaryJpegThumbnail(benchmark::State &state)
{
    run(state, ordinary(), square);
}
void BM_ScanBombFitted(benchmark::State &state)
{
    run(state, bomb(), fitted);
}
void BM_ScanBombThumbnail(benchmark::State &state)
{
    run(state, bomb(), square);
}
void BM_InflationBombFitted(benchmark::State &state)
{
    run(state, pngBomb(), fitted);
}

BENCHMARK(BM_OrdinaryJpegFitted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrdinaryJpegThumbnail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanBombFitted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ScanBombThumbnail)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_InflationBombFitted)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    // The decoder warns of every repeated scan.
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules("qt.gui.imageio*=false");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
