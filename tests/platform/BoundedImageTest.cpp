#include "fixtures/http/HostileReplies.h"
#include "platform/BoundedImage.h"

#include <QBuffer>
#include <gtest/gtest.h>

using namespace corvane;

TEST(BoundedImageTest, ImagesPastTheBoundsAreRefusedFromTheirHeader)
{
    const struct {
        QByteArray bytes;
        QString why;
    } cases[] = {{fixture::pngClaiming(16385, 1), BoundedImage::tooLargeText},
                 {fixture::pngClaiming(8000, 5001), BoundedImage::tooLargeText},
                 // Within both bounds: decoded, and its data is missing.
                 {fixture::pngClaiming(16384, 2441), BoundedImage::unreadableText},
                 {"<html>not found</html>", BoundedImage::unreadableText}};
    for (const auto &c : cases) {
        QByteArray bytes = c.bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QString why;
        EXPECT_TRUE(BoundedImage::thumbnail(buffer, 120, &why).isNull());
        EXPECT_EQ(why, c.why) << c.bytes.size();
        buffer.seek(0);
        EXPECT_TRUE(BoundedImage::read(buffer, &why).isNull());
        EXPECT_EQ(why, c.why) << c.bytes.size();
    }
}
