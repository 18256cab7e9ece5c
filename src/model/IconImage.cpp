#include "model/IconImage.h"

namespace corvane {

IconImage::IconImage(const QImage &representation)
{
    addRepresentation(representation);
}

void IconImage::addRepresentation(const QImage &representation)
{
    if (!representation.isNull())
        m_representations.append(representation);
}

QSizeF IconImage::size() const
{
    return isEmpty() ? QSizeF() : m_representations.first().deviceIndependentSize();
}

QImage IconImage::largest() const
{
    const QImage *widest = nullptr;
    for (const QImage &image : m_representations) {
        if (!widest || image.width() > widest->width())
            widest = &image;
    }
    return widest ? *widest : QImage();
}

QImage IconImage::bestFor(qreal pixelWidth) const
{
    const QImage *best = nullptr;
    for (const QImage &image : m_representations) {
        if (image.width() >= pixelWidth && (!best || image.width() < best->width()))
            best = &image;
    }
    return best ? *best : largest();
}

} // namespace corvane
