#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

class QIODevice;

namespace corvane {

// Images from outside (photos, thumbnails, map tiles) are sized from their
// header, read here, before the decoder sees a byte, and refused past these
// bounds: a small file can claim a picture that would take gigabytes to hold.
//
// The work of decoding is bounded too, by a linear walk over the data
// before it is decoded. Every scan of a JPEG costs a pass over the whole
// picture, so a small file repeating a scan thousands of times would keep a
// thread busy for minutes; a JPEG of more scans than real encoders write is
// refused, and so is one whose scans hold too few bytes for the picture its
// frame claims, or more comment and application segments than real files.
// A PNG's compressed data is inflated to the end, whatever the picture
// needs, so one that inflates far past its picture is refused, and so is
// one of more compressed text or profile chunks than real files hold.
// The decoder takes a PNG chunk's length on trust and makes room for a
// text or profile chunk before reading it: a file that ends inside a chunk
// is refused, and so is one of more chunks other than image data (texts,
// profiles, metadata), or more bytes of them, than real files hold.
// Only JPEG and PNG are read: no caller fetches another format, and the
// others are not bounded here. Whatever the bounds admit the decoder may
// make: its allocation limit, the whole program's, is raised to fit them.
class BoundedImage {
public:
    static constexpr qint64 maximumPixels = 40'000'000;
    static constexpr int maximumSide = 16'384;
    // Progressive encoders write about ten scans; a scan of the largest
    // picture allowed costs a few milliseconds.
    static constexpr int maximumJpegScans = 48;
    // Scans code each 8 × 8 block of the picture in a bit at least, 512
    // pixels a byte; real photos at the lowest quality hold 75-220, a flat
    // colour 170-256. A frame claiming more than this is missing its data,
    // and the decoder still works through every block of every scan.
    static constexpr qint64 maximumJpegPixelsPerByte = 1024;
    // Comment and application segments (EXIF, XMP, ICC profiles), which the
    // decoder keeps in a list it walks to its end for each one: a file of
    // tens of thousands costs seconds. An ICC profile is split into at most
    // 255 segments of 64 KiB; EXIF and XMP take a few.
    static constexpr int maximumJpegMetadataSegments = 1024;
    static constexpr qint64 maximumJpegMetadataBytes = 20 << 20;
    // Inflated image data past what the picture's rows take.
    static constexpr qint64 maximumPngExtraBytes = 1 << 20;
    static constexpr int maximumPngCompressedChunks = 16;
    // Chunks other than image data (of the picture, or of an animation's
    // frames, which the decoder passes over): their count, past which the
    // decoder keeps no more and warns of each, and their data together.
    // Real files hold at most tens of kilobytes; the decoder spends 5-40 ms
    // on a mebibyte of text.
    static constexpr int maximumPngOtherChunks = 1000;
    static constexpr qint64 maximumPngOtherChunkBytes = 256 << 10;

    static const QString unreadableText; // "The image could not be read."
    static const QString tooLargeText;   // "The image is too large."
    static const QString tooCostlyText;  // "The image would take too long to decode."

    // The image in `device`, or, when `fitWithin` is valid, the image scaled
    // down to fit it (decoded at that size where the format allows). Null
    // when the header gives no size or one past the bounds, when decoding
    // would cost more than the bounds allow, or when the data does not
    // decode; `error` then says why. Null too, with no error, when `wanted`
    // refuses the header's size. `device` must allow seeking.
    static QImage read(QIODevice &device, QString *error = nullptr, QSize fitWithin = {},
                       const std::function<bool(QSize)> &wanted = {});

    // A `side` × `side` square: the image scaled to cover it (sizes floored)
    // and its middle cut out. Only the part shown is decoded, straight at the
    // square's size, so a long thin image costs no more than a square one.
    static QImage thumbnail(QIODevice &device, int side, QString *error = nullptr);

    // The size the header of the JPEG or PNG in `device` gives, whatever the
    // bounds, without decoding anything; invalid for other data. The device
    // is left where it was.
    static QSize size(QIODevice &device);
};

} // namespace corvane
