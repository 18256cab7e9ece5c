#include "FuzzSupport.h"
#include "platform/formats/BoundedImage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QLoggingCategory>

using namespace corvane;

namespace {

// The decoders' plugins are found through the application's library paths.
int argumentCount = 1;
char name[] = "fuzz_bounded_image";
char *arguments[] = {name, nullptr};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QCoreApplication application(argumentCount, arguments);
    QLoggingCategory::setFilterRules("qt.gui.imageio*=false");
    return 0;
}

// Any bytes, as a map tile, a photo, a thumbnail or an icon reads them: an
// image within the bounds and of the size its header gives, or nothing and
// a reason, never an abort. Slow inputs and large allocations are the
// runner's to catch (-timeout, -malloc_limit_mb).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QSize header = BoundedImage::size(buffer);
    fuzz::check(buffer.pos() == 0);

    QString why;
    const QImage image = BoundedImage::read(buffer, &why);
    fuzz::check(image.isNull() != why.isEmpty());
    if (!image.isNull())
        fuzz::check(image.size() == header && image.width() <= BoundedImage::maximumSide &&
                    image.height() <= BoundedImage::maximumSide &&
                    qint64(image.width()) * image.height() <= BoundedImage::maximumPixels);

    buffer.seek(0);
    why.clear();
    const QImage fitted = BoundedImage::read(buffer, &why, {64, 48});
    fuzz::check(fitted.isNull() != why.isEmpty());
    const bool fits = header.width() <= 64 && header.height() <= 48;
    if (!fitted.isNull())
        fuzz::check(fits ? fitted.size() == header : fitted.width() <= 64 && fitted.height() <= 48);

    buffer.seek(0);
    why.clear();
    const QImage square = BoundedImage::thumbnail(buffer, 32, &why);
    fuzz::check(square.isNull() ? !why.isEmpty() : square.size() == QSize(32, 32));
    return 0;
}
