#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class QIODevice;

namespace corvane {

// Images from outside (photos, thumbnails, map tiles) are sized from their
// header before anything is decoded, and refused past these bounds: a small
// file can claim a picture that would take gigabytes to hold.
class BoundedImage {
public:
    static constexpr qint64 maximumPixels = 40'000'000;
    static constexpr int maximumSide = 16'384;

    static const QString unreadableText; // "The image could not be read."
    static const QString tooLargeText;   // "The image is too large."

    // The image in `device`, or, when `fitWithin` is valid, the image scaled
    // down to fit it (decoded at that size where the format allows). Null
    // when the header gives no size or one past the bounds, or when the data
    // does not decode; `error` then says why.
    static QImage read(QIODevice &device, QString *error = nullptr, QSize fitWithin = {});

    // A `side` × `side` square: the image scaled to cover it (sizes floored)
    // and its middle cut out. Only the part shown is decoded, straight at the
    // square's size, so a long thin image costs no more than a square one.
    static QImage thumbnail(QIODevice &device, int side, QString *error = nullptr);
};

} // namespace corvane
