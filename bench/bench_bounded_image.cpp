// Reads hostile images the way the program reads photos (fitted to 256
// pixels) and Unsplash thumbnails (a 120-pixel square): a 40-megapixel
// progressive JPEG whose first scan is repeated 10,000 times, and a 1 × 1
// PNG whose image data inflates to 256 MiB. The ordinary progressive JPEG
// of the same size is the yardstick. Each case reports the error, if any.

#include "platform/BoundedImage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <functional>

using namespace corvane;

namespace {

constexpr int repeatedScans = 10000;

QByteArray progressiveJpeg(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(200, 120, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    return bytes;
}

// The first scan's header and two bytes of entropy-coded data, repeated
// before the end of the image.
QByteArray scanBomb(const QByteArray &jpeg, int scans)
{
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at + 1]) != 0xDA)
        at += 2 + (quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]));
    const qsizetype headerLength = 2 + (quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]));
    const QByteArray scan = jpeg.mid(at, headerLength) + QByteArray(2, '\0');
    return jpeg.left(jpeg.size() - 2) + scan.repeated(scans) + "\xFF\xD9";
}

QByteArray chunk(const QByteArray &type, const QByteArray &data)
{
    QByteArray length(4, '\0'), crc(4, '\0');
    qToBigEndian(quint32(data.size()), length.data());
    const QByteArray checked = type + data;
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef *>(checked.constData()),
                               uInt(checked.size()))),
                 crc.data());
    return length + type + data + crc;
}

// The pixel's row and 256 MiB of zeros after it, in one image data stream.
QByteArray inflationBomb()
{
    const QByteArray header("\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0", 13);
    QByteArray rows(qsizetype(256) << 20, '\0');
    const QByteArray data = qCompress(rows, 9).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", data) +
           chunk("IEND", {});
}

const QByteArray &ordinary()
{
    static const QByteArray bytes = progressiveJpeg({6000, 6666});
    return bytes;
}

const QByteArray &bomb()
{
    static const QByteArray bytes = scanBomb(ordinary(), repeatedScans);
    return bytes;
}

const QByteArray &pngBomb()
{
    static const QByteArray bytes = inflationBomb();
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
