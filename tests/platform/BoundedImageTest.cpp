#include "fixtures/http/HostileReplies.h"
#include "platform/formats/BoundedImage.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QtEndian>
#include <gtest/gtest.h>
#include <zlib.h>

#include <ctime>
#include <functional>

using namespace corvane;

namespace {

QByteArray encoded(const QImage &image, const char *format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QImage photo()
{
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) % 256));
    return image;
}

// A comment segment right after the start of the image.
QByteArray withComment(const QByteArray &jpeg, const QByteArray &comment)
{
    const int length = int(comment.size()) + 2;
    return jpeg.left(2) + "\xFF\xFE" + char(length >> 8) + char(length & 0xFF) + comment +
           jpeg.mid(2);
}

QByteArray segment(uchar marker, const QByteArray &data)
{
    const int length = int(data.size()) + 2;
    return QByteArray("\xFF", 1) + char(marker) + char(length >> 8) + char(length & 0xFF) + data;
}

// `count` segments of `marker` (a comment: 0xFE), each of `data`, right
// after the start of the image.
QByteArray withSegments(const QByteArray &jpeg, uchar marker, int count,
                        const QByteArray &data = {})
{
    return jpeg.left(2) + segment(marker, data).repeated(count) + jpeg.mid(2);
}

// The encoder writes one application segment of 14 bytes (JFIF) first.
constexpr int encodersSegments = 1;
constexpr qint64 encodersSegmentBytes = 14;

// Where the first marker segment of a JPEG of `code` (a frame: 0xC0) starts,
// walked by their lengths.
qsizetype segmentAt(const QByteArray &jpeg, quint8 code)
{
    const quint8 mask = code == 0xC0 ? 0xFC : 0xFF;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && (quint8(jpeg[at + 1]) & mask) != code)
        at += 2 + (quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]));
    return at;
}

// The JPEG with its frame's bytes from `offset` (1: the marker's kind) replaced.
QByteArray withFrame(QByteArray jpeg, int offset, const QByteArray &bytes)
{
    return jpeg.replace(segmentAt(jpeg, 0xC0) + offset, bytes.size(), bytes);
}

} // namespace

// The size comes from the PNG's header chunk or the JPEG's frame, of any
// kind, before the decoder sees a byte; a header the decoder would refuse
// gives none. Past the bounds, nothing more is read.
TEST(BoundedImageTest, ImagesAreSizedFromTheirHeaderAndRefusedPastTheBounds)
{
    const QString decodes, unreadable = BoundedImage::unreadableText;
    const QString tooLarge = BoundedImage::tooLargeText;
    const QByteArray png = fixture::pngOf(7, 3, false);
    const QByteArray jpeg = encoded(photo(), "jpeg");
    const qsizetype scanAt = segmentAt(jpeg, 0xDA);
    // The header's 13 bytes in a chunk of another kind, its checksum right.
    QByteArray text = png.mid(8, 21).replace(4, 4, "tEXt");
    const quint32 sum = crc32(0, reinterpret_cast<const Bytef *>(text.data()) + 4, 17);
    text += QByteArray(1, char(sum >> 24)) + char(sum >> 16) + char(sum >> 8) + char(sum);
    const int side = 6324; // 39,992,976 pixels
    QImage flat(side, side, QImage::Format_ARGB32);
    flat.fill(qRgba(200, 120, 40, 128));
    const QByteArray rgba = encoded(flat, "png"), large = encoded(flat, "jpeg");
    flat = {};
    const struct {
        const char *name;
        QByteArray bytes;
        QSize size;
        QString why;
    } cases[] = {
        {"PNG", png, {7, 3}, decodes},
        {"too wide", fixture::pngClaiming(16385, 1), {16385, 1}, tooLarge},
        {"too many pixels", fixture::pngClaiming(8000, 5001), {8000, 5001}, tooLarge},
        // Within both bounds: decoded, and its data is missing.
        {"no data", fixture::pngClaiming(16384, 2441), {16384, 2441}, unreadable},
        {"wrong checksum", QByteArray(png).replace(29, 1, QByteArray(1, ~png[29])), {}, unreadable},
        {"PNG cut in its header", png.left(24), {}, unreadable},
        {"PNG of no width", fixture::pngClaiming(0, 1), {}, unreadable},
        {"PNG of 2^31 rows", fixture::pngClaiming(1, 0x80000000u), {}, unreadable},
        {"text like a header first", png.left(8) + text + png.mid(8), {}, unreadable},
        {"baseline JPEG (SOF0)", jpeg, {64, 48}, decodes},
        {"extended JPEG (SOF1)", withFrame(jpeg, 1, "\xC1"), {64, 48}, decodes},
        {"progressive JPEG (SOF2)", encoded(photo(), "jpeg", true), {64, 48}, decodes},
        // Sized as any frame, though the decoder reads no lossless JPEG.
        {"lossless JPEG (SOF3)", withFrame(jpeg, 1, "\xC3"), {64, 48}, unreadable},
        {"JPEG of no rows", withFrame(jpeg, 5, QByteArray(2, '\0')), {}, unreadable},
        {"frame too short", withFrame(jpeg, 2, QByteArray("\0\x0E", 2)), {}, unreadable},
        {"JPEG cut in its frame", jpeg.left(segmentAt(jpeg, 0xC0) + 6), {}, unreadable},
        {"scan before frame", jpeg.left(2) + jpeg.mid(scanAt, 14) + jpeg.mid(2), {}, unreadable},
        {"web page", "<html>not found</html>", {}, unreadable},
        // The decoder's own allocation limit, of 128 MiB in Qt 6.4, refused
        // both, even for a thumbnail.
        {"JPEG of 6324 × 6324", large, {side, side}, decodes},
        {"RGBA PNG of 6324 × 6324", rgba, {side, side}, decodes},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = c.bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_EQ(BoundedImage::size(buffer), c.size);
        EXPECT_EQ(buffer.pos(), 0);
        QString why;
        EXPECT_EQ(BoundedImage::thumbnail(buffer, 120, &why).isNull(), !c.why.isEmpty());
        EXPECT_EQ(why, c.why);
        buffer.seek(0);
        const QImage image = BoundedImage::read(buffer, &why);
        EXPECT_EQ(image.isNull() ? QSize() : image.size(), c.why.isEmpty() ? c.size : QSize());
        EXPECT_EQ(why, c.why);
    }
    // Past that limit set lower since, the image is too large.
    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    QLoggingCategory::setFilterRules("qt.gui.imageio.warning=false");
    QByteArray bytes = fixture::pngOf(1024, 512, false);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QString why;
    EXPECT_TRUE(BoundedImage::read(buffer, &why).isNull());
    EXPECT_EQ(why, tooLarge);
    QImageReader::setAllocationLimit(limit);
    QLoggingCategory::setFilterRules({});
}

// A photo as cameras and editors write it: EXIF and XMP, and an ICC
// profile (sRGB's, padded) split into as many segments as the format allows.
QByteArray photoWithMetadata()
{
    const QByteArray jpeg = encoded(photo(), "jpeg");
    QByteArray profile = QColorSpace(QColorSpace::SRgb).iccProfile();
    profile.resize(255 * 200, '\0');
    qToBigEndian(quint32(profile.size()), profile.data());
    const QByteArray exif = QByteArray("Exif\0\0MM\0\x2A\0\0\0\x08\0\0", 16);
    const QByteArray xmp = QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
                           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
    QByteArray icc;
    for (int i = 0; i < 255; ++i)
        icc += segment(0xE2, QByteArray("ICC_PROFILE\0", 12) + char(i + 1) + char(255) +
                                 profile.mid(i * 200, 200));
    return jpeg.left(2) + segment(0xE1, exif) + segment(0xE1, xmp) + icc + jpeg.mid(2);
}

TEST(BoundedImageTest, DecodingWorkIsBoundedBeforeAnythingIsDecoded)
{
    // The decoder's warnings about the repeated scans say nothing here.
    QLoggingCategory::setFilterRules("qt.gui.imageio.jpeg.warning=false\n"
                                     "qt.gui.imageio.warning=false");
    const QByteArray progressive = encoded(photo(), "jpeg", true);
    const QString decodes;
    const int allowed = BoundedImage::maximumJpegScans;
    const qint64 slack = BoundedImage::maximumPngExtraBytes;
    QImage grey(1024, 1024, QImage::Format_Grayscale8);
    grey.fill(128);
    // A baseline JPEG's one scan, its data after a restart marker.
    QByteArray restarted = encoded(grey, "jpeg");
    const qsizetype scanAt = segmentAt(restarted, 0xDA);
    restarted.insert(scanAt + 2 + restarted[scanAt + 3], "\xFF\xD0");
    // A frame of 6324 × 6324 over the scans of 16 × 16 pixels.
    const QByteArray claim = fixture::jpegClaiming({6324, 6324}, true);
    // Segments of 64 KiB, and one of the rest, as many bytes as allowed.
    const QByteArray baseline = encoded(photo(), "jpeg");
    const qint64 room = BoundedImage::maximumJpegMetadataBytes - encodersSegmentBytes;
    const QByteArray full = withSegments(baseline, 0xE2, int(room / 65533), QByteArray(65533, 'p'));
    const auto rest = [&](qint64 bytes) {
        return withSegments(full, 0xE2, 1, QByteArray(bytes, 'p'));
    };
    const struct {
        const char *name;
        QByteArray bytes;
        QString why;
    } cases[] = {
        {"progressive JPEG", progressive, decodes},
        {"baseline JPEG", baseline, decodes},
        {"EXIF, XMP and an ICC profile in 255 segments", photoWithMetadata(), decodes},
        {"metadata of as many bytes as allowed", rest(room % 65533), decodes},
        {"metadata a byte longer", rest(room % 65533 + 1), BoundedImage::tooCostlyText},
        // Marker-like bytes inside a segment are no scans.
        {"comment of scan markers", withComment(progressive, QByteArray("\xFF\xDA").repeated(60)),
         decodes},
        {"as many scans as allowed", fixture::jpegWithScans({64, 48}, allowed - 10), decodes},
        {"one scan more", fixture::jpegWithScans({64, 48}, allowed - 9),
         BoundedImage::tooCostlyText},
        // Of 40 megapixels, such a file decodes for half a minute.
        {"10,000 scans", fixture::jpegWithScans({64, 48}, 10000), BoundedImage::tooCostlyText},
        // The least data a picture holds: 256 pixels a byte.
        {"flat grey progressive JPEG", encoded(grey, "jpeg", true), decodes},
        {"restart marker in a scan", restarted, decodes},
        {"progressive frame of 6324 × 6324", claim, BoundedImage::tooCostlyText},
        {"baseline frame of 6324 × 6324", fixture::jpegClaiming({6324, 6324}, false),
         BoundedImage::tooCostlyText},
        // Only the scans' data holds the picture.
        {"6324 × 6324 after a long comment", withComment(claim, QByteArray(60000, 'x')),
         BoundedImage::tooCostlyText},
        {"PNG", fixture::pngOf(7, 3, false), decodes},
        {"interlaced PNG", fixture::pngOf(11, 9, true), decodes},
        {"PNG data as far past its rows as allowed", fixture::pngOf(1, 1, false, slack), decodes},
        {"PNG data a byte further", fixture::pngOf(1, 1, false, slack + 1),
         BoundedImage::tooCostlyText},
        {"interlaced PNG data a byte further", fixture::pngOf(11, 9, true, slack + 1),
         BoundedImage::tooCostlyText},
        {"as many compressed texts as allowed",
         fixture::pngOf(2, 2, false, 0, BoundedImage::maximumPngCompressedChunks), decodes},
        {"one compressed text more",
         fixture::pngOf(2, 2, false, 0, BoundedImage::maximumPngCompressedChunks + 1),
         BoundedImage::tooCostlyText},
        // Formats no caller fetches are not read at all.
        {"BMP", encoded(photo(), "bmp"), BoundedImage::unreadableText},
        {"GIF",
         QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00"
                    "\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;",
                    43),
         BoundedImage::unreadableText},
        {"SVG",
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">"
         "<rect width=\"10\" height=\"10\"/></svg>",
         BoundedImage::unreadableText},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // After other bytes, as the image of a larger file.
        QByteArray bytes = "leading bytes" + c.bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        buffer.seek(13);
        QString why;
        const QImage read = BoundedImage::read(buffer, &why, {32, 32});
        EXPECT_EQ(read.isNull(), !c.why.isEmpty());
        EXPECT_EQ(why, c.why);
        buffer.seek(13);
        why.clear();
        const QImage square = BoundedImage::thumbnail(buffer, 16, &why);
        EXPECT_EQ(square.isNull(), !c.why.isEmpty());
        EXPECT_EQ(why, c.why);
        if (!square.isNull())
            EXPECT_EQ(square.size(), QSize(16, 16));
    }
    // The interlaced rows land where they belong.
    QByteArray interlaced = fixture::pngOf(11, 9, true);
    QBuffer buffer(&interlaced);
    buffer.open(QIODevice::ReadOnly);
    const QImage image = BoundedImage::read(buffer);
    ASSERT_EQ(image.size(), QSize(11, 9));
    EXPECT_EQ(image.pixel(10, 8), qRgb(160, 128, 128));
    EXPECT_EQ(image.pixel(3, 5), qRgb(48, 80, 128));
    // The profile's segments reach the decoder whole.
    QByteArray withProfile = photoWithMetadata();
    QBuffer photoBuffer(&withProfile);
    photoBuffer.open(QIODevice::ReadOnly);
    EXPECT_TRUE(BoundedImage::read(photoBuffer).colorSpace().isValid());
    QLoggingCategory::setFilterRules({});
}

// Sizing the PNG of 400 texts inflated them all, seconds of work, and so did
// reading it; the frame of 6324 × 6324 decoded for a tenth of a second from
// no data. A PNG of 52 bytes whose text chunk claimed 755 MB, the file
// ending inside it, took seconds and as many megabytes: the decoder makes
// room for a chunk's length before it reads. A JPEG of 16 × 16 pixels and
// 130,000 empty comments took 19 s: the decoder keeps comment and some
// application segments in a list it walks to its end for each new one.
// Each shape is refused, or read, for a fraction of what an ordinary photo
// costs, measured in one run.
TEST(BoundedImageTest, HostileImagesCostLessThanAnOrdinaryPhoto)
{
    QLoggingCategory::setFilterRules("qt.gui.imageio.jpeg.warning=false\n"
                                     "qt.gui.imageio.warning=false");
    // Processor time of this thread, which a busy machine only adds to.
    const auto seconds = [](QByteArray bytes, const std::function<void(QIODevice &)> &read) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        timespec start{}, end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        read(buffer);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        return double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    };
    const QString read, unreadable = BoundedImage::unreadableText;
    const QString tooCostly = BoundedImage::tooCostlyText;
    const QByteArray png = fixture::pngOf(16, 16, false);
    const qsizetype header = 33, imageData = png.indexOf("IDAT") - 4;
    const auto length = [](quint32 value) {
        return QByteArray(1, char(value >> 24)) + char(value >> 16) + char(value >> 8) +
               char(value);
    };
    const auto withChunks = [&](const QByteArray &chunks) {
        return QByteArray(png).insert(imageData, chunks);
    };
    const auto text = [](const QByteArray &words) {
        return fixture::pngChunk("tEXt", QByteArray("k\0", 2) + words);
    };
    const auto texts = [&](int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes += text(QByteArray::number(i));
        return bytes;
    };
    // Beside the header: as many chunks, and as many bytes, as allowed.
    const int allowed = BoundedImage::maximumPngOtherChunks - 1;
    const qint64 room = BoundedImage::maximumPngOtherChunkBytes - 13 - 2;
    const QByteArray jpeg = fixture::jpegWithScans({512, 512}, 0);
    const qsizetype scanAt = segmentAt(jpeg, 0xDA);
    const QByteArray small = fixture::jpegWithScans({16, 16}, 0);
    const int more = BoundedImage::maximumJpegMetadataSegments - encodersSegments;
    const struct {
        const char *name;
        QByteArray bytes;
        QString why;
    } cases[] = {
        // Its length alone is past the bound.
        {"text chunk of 755 MB, the file ending in it",
         png.left(header) + length(755'000'000) + "iTXt" + QByteArray("XML:com.a\0\0", 11),
         tooCostly},
        {"text chunk of 100 kB, the file ending in it",
         png.left(header) + length(100'000) + "iTXt" + QByteArray("XML:com.a\0\0", 11), unreadable},
        {"file ending in a chunk's length", png.left(header + 2), unreadable},
        {"file ending in the image data", png.left(imageData + 12), unreadable},
        {"file ending in the image data's checksum", png.left(png.size() - 14), unreadable},
        {"chunk claiming 1 byte past the file",
         png.left(imageData) + length(quint32(png.size() - imageData - 11)) +
             png.mid(imageData + 4),
         unreadable},
        {"chunk of 2^31 bytes", withChunks(length(0x8000'0000) + "tEXt" + QByteArray(64, 'x')),
         unreadable},
        {"chunk of 2^32 - 1 bytes", withChunks(length(0xFFFF'FFFF) + "prVt"), unreadable},
        {"text as long as allowed", withChunks(text(QByteArray(room, 'x'))), read},
        {"text a byte longer", withChunks(text(QByteArray(room + 1, 'x'))), tooCostly},
        {"8 MB private chunk", withChunks(fixture::pngChunk("prVt", QByteArray(8'000'000, '\0'))),
         tooCostly},
        {"as many texts as allowed", withChunks(texts(allowed)), read},
        {"one text more", withChunks(texts(allowed + 1)), tooCostly},
        {"40,000 short texts", withChunks(texts(40000)), tooCostly},
        {"400 compressed texts of 8 MiB", fixture::pngWithTexts(400, 8 << 20), tooCostly},
        {"image data inflating to 256 MiB", fixture::pngOf(1, 1, false, qint64(256) << 20),
         tooCostly},
        {"progressive JPEG of 520 bytes claiming 6324 × 6324",
         fixture::jpegClaiming({6324, 6324}, true), tooCostly},
        {"baseline JPEG claiming 6324 × 6324", fixture::jpegClaiming({6324, 6324}, false),
         tooCostly},
        {"JPEG of 10,000 scans", fixture::jpegWithScans({2048, 2048}, 10000), tooCostly},
        {"JPEG ending in its first scan", jpeg.left(scanAt + 20), tooCostly},
        {"JPEG ending in a segment after its scans",
         jpeg.left(jpeg.size() - 2) + "\xFF\xFE\xFF\xFF" + QByteArray(100, 'x'), read},
        {"130,000 empty comments", withSegments(small, 0xFE, 130'000), tooCostly},
        {"65,000 empty APP1 segments", withSegments(small, 0xE1, 65'000), tooCostly},
        {"65,000 empty APP2 segments", withSegments(small, 0xE2, 65'000), tooCostly},
        {"65,000 empty comments after the first scan",
         small.left(small.size() - 2) + segment(0xFE, {}).repeated(65'000) + "\xFF\xD9", tooCostly},
        {"as many comments as allowed", withSegments(small, 0xFE, more), read},
        {"as many APP2 segments as allowed", withSegments(small, 0xE2, more), read},
        {"one APP1 segment more", withSegments(small, 0xE1, more + 1), tooCostly},
    };
    // Fitted as photos are, as a thumbnail, and only sized; what each
    // refusal says.
    QString why;
    const std::function<void(QIODevice &)> reads[] = {
        [&](QIODevice &d) {
            BoundedImage::read(d, &why, {256, 256});
        },
        [&](QIODevice &d) { BoundedImage::thumbnail(d, 120, &why); },
        [&](QIODevice &d) { BoundedImage::size(d); },
    };
    // The least of three: the photo's own cost, without what a busy
    // machine adds.
    double photo = 1;
    // Under the sanitizers every allocation, the decoders' too, costs many
    // times what it does in a plain build, and the texts allocate where the
    // photo barely does: there the bound only catches the floods, seconds
    // each, and the plain build holds the share.
#if defined(__SANITIZE_ADDRESS__)
    constexpr double share = 4;
#else
    constexpr double share = 0.5;
#endif
    for (int i = 0; i < 3; ++i)
        photo = std::min(photo, seconds(fixture::jpegWithScans({2048, 2048}, 0), reads[0]));
    ASSERT_TRUE(why.isEmpty());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto &read : reads) {
            why.clear();
            EXPECT_LT(std::min(seconds(c.bytes, read), seconds(c.bytes, read)), photo * share);
            if (&read != &reads[2])
                EXPECT_EQ(why.toStdString(), c.why.toStdString());
        }
    }
    QLoggingCategory::setFilterRules({});
}
