#include "fixtures/http/HostileReplies.h"
#include "platform/formats/BoundedImage.h"

#include <QBuffer>
#include <QImageWriter>
#include <QLoggingCategory>
#include <gtest/gtest.h>

using namespace corvane;

TEST(BoundedImageTest, ImagesPastTheBoundsAreRefusedFromTheirHeader)
{
    const struct {
        QByteArray bytes;
        QString why;
        // What the header claims, bounds or not.
        QSize size;
    } cases[] = {{fixture::pngClaiming(16385, 1), BoundedImage::tooLargeText, {16385, 1}},
                 {fixture::pngClaiming(8000, 5001), BoundedImage::tooLargeText, {8000, 5001}},
                 // Within both bounds: decoded, and its data is missing.
                 {fixture::pngClaiming(16384, 2441), BoundedImage::unreadableText, {16384, 2441}},
                 {"<html>not found</html>", BoundedImage::unreadableText, {}}};
    for (const auto &c : cases) {
        QByteArray bytes = c.bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_EQ(BoundedImage::size(buffer), c.size);
        EXPECT_EQ(buffer.pos(), 0);
        QString why;
        EXPECT_TRUE(BoundedImage::thumbnail(buffer, 120, &why).isNull());
        EXPECT_EQ(why, c.why) << c.bytes.size();
        buffer.seek(0);
        EXPECT_TRUE(BoundedImage::read(buffer, &why).isNull());
        EXPECT_EQ(why, c.why) << c.bytes.size();
    }
}

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

} // namespace

TEST(BoundedImageTest, DecodingWorkIsBoundedBeforeAnythingIsDecoded)
{
    // The decoder's warnings about the repeated scans say nothing here.
    QLoggingCategory::setFilterRules("qt.gui.imageio.jpeg.warning=false\n"
                                     "qt.gui.imageio.warning=false");
    const QByteArray progressive = encoded(photo(), "jpeg", true);
    const QString decodes;
    const int allowed = BoundedImage::maximumJpegScans;
    const qint64 slack = BoundedImage::maximumPngExtraBytes;
    const struct {
        const char *name;
        QByteArray bytes;
        QString why;
    } cases[] = {
        {"progressive JPEG", progressive, decodes},
        {"baseline JPEG", encoded(photo(), "jpeg"), decodes},
        // Marker-like bytes inside a segment are no scans.
        {"comment of scan markers", withComment(progressive, QByteArray("\xFF\xDA").repeated(60)),
         decodes},
        {"as many scans as allowed", fixture::jpegWithScans({64, 48}, allowed - 10), decodes},
        {"one scan more", fixture::jpegWithScans({64, 48}, allowed - 9),
         BoundedImage::tooCostlyText},
        // Of 40 megapixels, such a file decodes for half a minute.
        {"10,000 scans", fixture::jpegWithScans({64, 48}, 10000), BoundedImage::tooCostlyText},
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
    QLoggingCategory::setFilterRules({});
}
