#include "core/ImageHelpers.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

QImage solid(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

} // namespace

TEST(ImageHelpersTest, NullImagesGiveNothing)
{
    const QImage null;
    EXPECT_FALSE(ImageHelpers::thumbnail(null, QSizeF(16, 16)));
    EXPECT_FALSE(ImageHelpers::roundedRectBlurred(null, 4));
    EXPECT_FALSE(ImageHelpers::padded(null, QMarginsF()));
    EXPECT_FALSE(ImageHelpers::tinted(null, Qt::red));
    EXPECT_FALSE(ImageHelpers::clipped(null, QPainterPath()));
}

TEST(ImageHelpersTest, ThumbnailHasTwicePixelsAndRequestedLogicalSize)
{
    auto thumb = ImageHelpers::thumbnail(solid(120, 60, Qt::blue), QSizeF(16, 16));
    ASSERT_TRUE(thumb);
    EXPECT_LE(qMax(thumb->width(), thumb->height()), 32);
    EXPECT_EQ(thumb->width(), 32);
    EXPECT_EQ(thumb->devicePixelRatio(), 2);
    EXPECT_EQ(thumb->deviceIndependentSize(), QSizeF(16, 8));

    auto square = ImageHelpers::thumbnail(solid(120, 120, Qt::blue), QSizeF(16, 16));
    ASSERT_TRUE(square);
    EXPECT_EQ(square->deviceIndependentSize(), QSizeF(16, 16));
}

TEST(ImageHelpersTest, BlurredBackdropKeepsSourceSize)
{
    auto backdrop = ImageHelpers::roundedRectBlurred(solid(64, 48, Qt::green), 10);
    ASSERT_TRUE(backdrop);
    EXPECT_EQ(backdrop->size(), QSize(64, 48));
    // Outside the outer rounded corner nothing is drawn; the centre is.
    EXPECT_EQ(qAlpha(backdrop->pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(backdrop->pixel(32, 24)), 255);
}

TEST(ImageHelpersTest, PaddingPlacesSourceInsideInsets)
{
    QImage source = solid(10, 8, Qt::transparent);
    source.setPixel(0, 0, qRgba(255, 0, 0, 255));
    source.setPixel(9, 7, qRgba(0, 0, 255, 255));

    auto same = ImageHelpers::padded(source, QMarginsF());
    ASSERT_TRUE(same);
    EXPECT_EQ(*same, source);

    // QMarginsF is (left, top, right, bottom).
    auto padded = ImageHelpers::padded(source, QMarginsF(2, 1, 4, 3));
    ASSERT_TRUE(padded);
    EXPECT_EQ(padded->size(), QSize(16, 12));
    EXPECT_EQ(padded->pixel(2, 1), qRgba(255, 0, 0, 255));
    EXPECT_EQ(padded->pixel(11, 8), qRgba(0, 0, 255, 255));
    EXPECT_EQ(qAlpha(padded->pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(padded->pixel(15, 11)), 0);
}

TEST(ImageHelpersTest, PaddingOfHighResolutionImageIsInLogicalUnits)
{
    QImage source = solid(20, 20, Qt::red);
    source.setDevicePixelRatio(2);
    auto padded = ImageHelpers::padded(source, QMarginsF(0, 2, 0, 2));
    ASSERT_TRUE(padded);
    EXPECT_EQ(padded->deviceIndependentSize(), QSizeF(10, 14));
    EXPECT_EQ(padded->size(), QSize(20, 28));
}

TEST(ImageHelpersTest, ClipToCircleLeavesCornersTransparent)
{
    QPainterPath circle;
    circle.addEllipse(QRectF(0, 0, 32, 32));
    auto result = ImageHelpers::clipped(solid(32, 32, Qt::red), circle);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(result->pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(result->pixel(31, 31)), 0);
    EXPECT_EQ(result->pixel(16, 16), qRgba(255, 0, 0, 255));
}

TEST(ImageHelpersTest, TintColoursOnlyOpaquePixels)
{
    QImage source = solid(8, 8, Qt::transparent);
    for (int x = 2; x < 6; ++x)
        source.setPixel(x, 4, qRgba(0, 0, 0, 255));
    source.setPixel(0, 0, qRgba(0, 0, 0, 128));

    auto result = ImageHelpers::tinted(source, QColor(0, 200, 0));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->pixel(3, 4), qRgba(0, 200, 0, 255));
    EXPECT_EQ(qAlpha(result->pixel(7, 7)), 0);
    EXPECT_EQ(qAlpha(result->pixel(1, 4)), 0);
    // Half-transparent pixels keep their alpha and take the colour.
    const QColor half = QColor::fromRgba(result->pixel(0, 0));
    EXPECT_NEAR(half.alpha(), 128, 1);
    EXPECT_EQ(half.red(), 0);
    EXPECT_EQ(half.blue(), 0);
}

TEST(ImageHelpersTest, BlurSpreadsButKeepsTotal)
{
    QImage source = solid(21, 21, Qt::transparent);
    source.setPixel(10, 10, qRgba(255, 255, 255, 255));
    const QImage blurred = ImageHelpers::gaussianBlurred(source, 2.0);
    EXPECT_GT(qAlpha(blurred.pixel(12, 10)), 0);
    EXPECT_LT(qAlpha(blurred.pixel(10, 10)), 255);
    int total = 0;
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 21; ++x)
            total += qAlpha(blurred.pixel(x, y));
    EXPECT_NEAR(total, 255, 40);
}
