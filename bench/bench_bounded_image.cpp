// Reads hostile images the way the program reads photos (fitted to 256
// pixels) and Unsplash thumbnails (a 120-pixel square): a 40-megapixel
// progressive JPEG whose first scan is repeated 10,000 times, a 1 × 1 PNG
// whose image data inflates to 256 MiB, a 1 × 1 PNG of 400 compressed texts
// of 8 MiB each (also only sized, as application icons are), a JPEG of
// a few hundred bytes whose frame claims 6324 × 6324, progressive and
// baseline, and a PNG of 52 bytes whose text chunk claims 755 MB, the file
// ending inside it; and JPEGs of 16 × 16 pixels flooded with empty
// segments the decoder keeps (130,000 comments, 65,000 APP1 or APP2) or
// passes over (65,000 APP4). The ordinary progressive JPEG of 40 megapixels is the
// yardstick, and an ordinary PNG of 1024 × 768 shows what walking its
// chunks costs. Each case reports the error, if any.

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

const QByteArray &textsPng()
{
    static const QByteArray bytes = fixture::pngWithTexts(400, 8 << 20);
    return bytes;
}

// A 16 × 16 header, then a text chunk claiming 755 MB, and the file ends.
const QByteArray &truncatedText()
{
    static const QByteArray bytes = fixture::pngOf(16, 16, false).left(33) +
                                    QByteArray("\x2D\x00\x62\xC0iTXtXML:com.a\0\0", 19);
    return bytes;
}

const QByteArray &ordinaryPng()
{
    static const QByteArray bytes = fixture::pngOf(1024, 768, false);
    return bytes;
}

constexpr QSize claimedSize(6324, 6324);

const QByteArray &progressiveClaim()
{
    static const QByteArray bytes = fixture::jpegClaiming(claimedSize, true);
    return bytes;
}

const QByteArray &baselineClaim()
{
    static const QByteArray bytes = fixture::jpegClaiming(claimedSize, false);
    return bytes;
}

// `count` empty segments of `marker` after the start of a small JPEG.
QByteArray segmentFlood(uchar marker, int count)
{
    const QByteArray jpeg = fixture::jpegWithScans({16, 16}, 0);
    const QByteArray segment = QByteArray("\xFF", 1) + char(marker) + QByteArray("\0\x02", 2);
    return jpeg.left(2) + segment.repeated(count) + jpeg.mid(2);
}

const QByteArray &commentFlood()
{
    static const QByteArray bytes = segmentFlood(0xFE, 130'000);
    return bytes;
}

const QByteArray &app1Flood()
{
    static const QByteArray bytes = segmentFlood(0xE1, 65'000);
    return bytes;
}

const QByteArray &app2Flood()
{
    static const QByteArray bytes = segmentFlood(0xE2, 65'000);
    return bytes;
}

const QByteArray &app4Flood()
{
    static const QByteArray bytes = segmentFlood(0xE4, 65'000);
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
    const QString size = data.size() < 10'000 ? QString("%1 bytes").arg(data.size())
                                              : QString("%1 KB").arg(data.size() / 1024);
    state.SetLabel(
        QString("%1, %2").arg(size, decoded ? QStringLiteral("decoded") : why).toStdString());
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

void BM_TextsPngSized(benchmark::State &state)
{
    run(state, textsPng(), [](QIODevice &device, QString *) {
        return BoundedImage::size(device).isValid() ? QImage(1, 1, QImage::Format_RGB32) : QImage();
    });
}
void BM_TextsPngFitted(benchmark::State &state)
{
    run(state, textsPng(), fitted);
}
void BM_TruncatedTextPngFitted(benchmark::State &state)
{
    run(state, truncatedText(), fitted);
}
void BM_TruncatedTextPngThumbnail(benchmark::State &state)
{
    run(state, truncatedText(), square);
}
void BM_OrdinaryPngFitted(benchmark::State &state)
{
    run(state, ordinaryPng(), fitted);
}
void BM_ProgressiveClaimFitted(benchmark::State &state)
{
    run(state, progressiveClaim(), fitted);
}
void BM_ProgressiveClaimThumbnail(benchmark::State &state)
{
    run(state, progressiveClaim(), square);
}
void BM_BaselineClaimFitted(benchmark::State &state)
{
    run(state, baselineClaim(), fitted);
}
void BM_CommentFloodFitted(benchmark::State &state)
{
    run(state, commentFlood(), fitted);
}
void BM_CommentFloodThumbnail(benchmark::State &state)
{
    run(state, commentFlood(), square);
}
void BM_App1FloodFitted(benchmark::State &state)
{
    run(state, app1Flood(), fitted);
}
void BM_App2FloodFitted(benchmark::State &state)
{
    run(state, app2Flood(), fitted);
}
void BM_App4FloodFitted(benchmark::State &state)
{
    run(state, app4Flood(), fitted);
}

BENCHMARK(BM_OrdinaryJpegFitted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrdinaryJpegThumbnail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanBombFitted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ScanBombThumbnail)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_InflationBombFitted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TextsPngSized)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TextsPngFitted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TruncatedTextPngFitted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TruncatedTextPngThumbnail)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OrdinaryPngFitted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressiveClaimFitted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressiveClaimThumbnail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineClaimFitted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommentFloodFitted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CommentFloodThumbnail)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_App1FloodFitted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_App2FloodFitted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_App4FloodFitted)->Unit(benchmark::kMillisecond)->Iterations(1);

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
