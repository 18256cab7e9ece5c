#include "platform/formats/BoundedImage.h"

#include <QIODevice>
#include <QImageReader>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

namespace corvane {

const QString BoundedImage::unreadableText = QStringLiteral("The image could not be read.");
const QString BoundedImage::tooLargeText = QStringLiteral("The image is too large.");
const QString BoundedImage::tooCostlyText =
    QStringLiteral("The image would take too long to decode.");

namespace {

QImage refuse(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return {};
}

enum class Format { jpeg, png };

// The format by its signature; only these two are read.
std::optional<Format> formatOf(QIODevice &device)
{
    const QByteArray head = device.peek(8);
    if (head.startsWith("\xFF\xD8"))
        return Format::jpeg;
    if (head == QByteArray("\x89PNG\r\n\x1A\n", 8))
        return Format::png;
    return std::nullopt;
}

const char *formatName(Format format)
{
    return format == Format::jpeg ? "jpeg" : "png";
}

// Counts the scans of a JPEG as the decoder meets them: each marker segment
// is skipped by its length, and after it the next marker is looked for as
// the decoder looks for it, a 0xFF byte followed by one that is neither 0x00
// (a stuffed byte of entropy-coded data) nor 0xFF (fill). So entropy-coded
// data, restart markers and the bytes of other segments are never taken for
// a scan. Each byte is looked at once.
class JpegScanCount {
public:
    // The bytes after the start-of-image marker, block by block; false once
    // there are more scans than allowed.
    bool feed(const uchar *data, qint64 size)
    {
        qint64 at = 0;
        while (at < size && m_state != State::end) {
            switch (m_state) {
            case State::seekMarker: {
                const void *ff = std::memchr(data + at, 0xFF, size_t(size - at));
                if (!ff) {
                    at = size;
                    break;
                }
                at = static_cast<const uchar *>(ff) - data + 1;
                m_state = State::marker;
                break;
            }
            case State::marker: {
                const uchar code = data[at++];
                if (code == 0xFF)
                    break;
                if (code == 0xD9)
                    m_state = State::end;
                else if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD8))
                    m_state = State::seekMarker; // stuffing, or a marker without a length
                else {
                    m_code = code;
                    m_state = State::lengthHigh;
                }
                break;
            }
            case State::lengthHigh:
                m_remaining = qint64(data[at++]) << 8;
                m_state = State::lengthLow;
                break;
            case State::lengthLow:
                m_remaining |= data[at++];
                // The decoder stops at a length that cannot hold itself.
                if (m_remaining < 2) {
                    m_state = State::end;
                    break;
                }
                if (m_code == 0xDA && ++m_scans > BoundedImage::maximumJpegScans)
                    return false;
                m_remaining -= 2;
                m_state = m_remaining > 0 ? State::segment : State::seekMarker;
                break;
            case State::segment: {
                const qint64 skipped = std::min(m_remaining, size - at);
                at += skipped;
                m_remaining -= skipped;
                if (m_remaining == 0)
                    m_state = State::seekMarker;
                break;
            }
            case State::end: break;
            }
        }
        return true;
    }

    bool ended() const { return m_state == State::end; }

private:
    enum class State { seekMarker, marker, lengthHigh, lengthLow, segment, end };

    State m_state = State::seekMarker;
    uchar m_code = 0;
    qint64 m_remaining = 0;
    int m_scans = 0;
};

// The bytes of a PNG's image data once inflated: one filter byte and the
// packed samples of each row, of every pass when interlaced.
qint64 pngImageDataBytes(quint32 width, quint32 height, int bitDepth, int colourType,
                         bool interlaced)
{
    int channels = 0;
    switch (colourType) {
    case 0:
    case 3: channels = 1; break;
    case 2: channels = 3; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: return 0;
    }
    const qint64 bitsPerPixel = qint64(channels) * bitDepth;
    const auto rows = [&](qint64 columns, qint64 count) {
        return columns > 0 && count > 0 ? count * (1 + (columns * bitsPerPixel + 7) / 8) : 0;
    };
    if (!interlaced)
        return rows(width, height);
    // The seven passes of Adam7: first column and row, then their steps.
    static constexpr std::array<std::array<int, 4>, 7> passes{{{0, 0, 8, 8},
                                                               {4, 0, 8, 8},
                                                               {0, 4, 4, 8},
                                                               {2, 0, 4, 4},
                                                               {0, 2, 2, 4},
                                                               {1, 0, 2, 2},
                                                               {0, 1, 1, 2}}};
    qint64 total = 0;
    for (const auto &[x, y, dx, dy] : passes)
        total += rows((qint64(width) - x + dx - 1) / dx, (qint64(height) - y + dy - 1) / dy);
    return total;
}

// Walks a PNG's chunks by their lengths and inflates its image data,
// counting what comes out, as the decoder will inflate all of it: refused
// once that passes what the picture's rows take by more than the slack, or
// once there are more compressed text and profile chunks than allowed.
class PngWork {
public:
    PngWork() = default;
    PngWork(const PngWork &) = delete;
    PngWork &operator=(const PngWork &) = delete;
    ~PngWork()
    {
        if (m_inflating)
            inflateEnd(&m_stream);
    }

    // The bytes after the signature, block by block; false once too costly.
    bool feed(const uchar *data, qint64 size)
    {
        qint64 at = 0;
        while (at < size && m_state != State::end) {
            const qint64 available = size - at;
            switch (m_state) {
            case State::head: {
                const qint64 taken = std::min<qint64>(8 - m_headBytes, available);
                std::memcpy(m_head.data() + m_headBytes, data + at, size_t(taken));
                m_headBytes += int(taken);
                at += taken;
                if (m_headBytes < 8)
                    break;
                m_headBytes = 0;
                if (!startChunk())
                    return false;
                break;
            }
            case State::body: {
                const qint64 taken = std::min(m_remaining, available);
                if (!chunkData(data + at, taken))
                    return false;
                at += taken;
                m_remaining -= taken;
                if (m_remaining == 0)
                    endChunk();
                break;
            }
            case State::crc: {
                const qint64 taken = std::min(m_remaining, available);
                at += taken;
                m_remaining -= taken;
                if (m_remaining == 0)
                    m_state = State::head;
                break;
            }
            case State::end: break;
            }
        }
        return true;
    }

    bool ended() const { return m_state == State::end; }

private:
    enum class State { head, body, crc, end };

    bool isType(const char *type) const { return std::memcmp(m_head.data() + 4, type, 4) == 0; }

    bool startChunk()
    {
        m_remaining = qint64(m_head[0]) << 24 | qint64(m_head[1]) << 16 | qint64(m_head[2]) << 8 |
                      qint64(m_head[3]);
        if (isType("IEND")) {
            m_state = State::end;
            return true;
        }
        if ((isType("zTXt") || isType("iTXt") || isType("iCCP")) &&
            ++m_compressedChunks > BoundedImage::maximumPngCompressedChunks)
            return false;
        m_headerBytes = 0;
        m_state = m_remaining > 0 ? State::body : State::crc;
        if (m_remaining == 0)
            endChunk();
        return true;
    }

    bool chunkData(const uchar *data, qint64 size)
    {
        if (isType("IHDR")) {
            const qint64 taken = std::min<qint64>(13 - m_headerBytes, size);
            std::memcpy(m_header.data() + m_headerBytes, data, size_t(taken));
            m_headerBytes += int(taken);
            return true;
        }
        return !isType("IDAT") || inflateData(data, size);
    }

    void endChunk()
    {
        if (isType("IHDR") && m_headerBytes == 13) {
            const auto word = [this](int at) {
                return quint32(m_header[at]) << 24 | quint32(m_header[at + 1]) << 16 |
                       quint32(m_header[at + 2]) << 8 | quint32(m_header[at + 3]);
            };
            m_budget =
                pngImageDataBytes(word(0), word(4), m_header[8], m_header[9], m_header[12] != 0) +
                BoundedImage::maximumPngExtraBytes;
        }
        m_state = State::crc;
        m_remaining = 4;
    }

    // Past the end of the stream, or past damage, the decoder inflates no
    // further, and neither does this.
    bool inflateData(const uchar *data, qint64 size)
    {
        if (m_inflateOver)
            return true;
        if (!m_inflating) {
            m_stream = {};
            if (inflateInit(&m_stream) != Z_OK) {
                m_inflateOver = true;
                return true;
            }
            m_inflating = true;
        }
        m_stream.next_in = const_cast<Bytef *>(data);
        m_stream.avail_in = uInt(size);
        for (;;) {
            m_stream.next_out = m_scratch.data();
            m_stream.avail_out = uInt(m_scratch.size());
            const int result = ::inflate(&m_stream, Z_NO_FLUSH);
            m_inflated += qint64(m_scratch.size() - m_stream.avail_out);
            if (m_inflated > m_budget)
                return false;
            if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR)) {
                m_inflateOver = true;
                return true;
            }
            // Stalled for want of input: the next chunk goes on.
            if (m_stream.avail_in == 0 && m_stream.avail_out > 0)
                return true;
        }
    }

    State m_state = State::head;
    std::array<uchar, 8> m_head{};
    int m_headBytes = 0;
    qint64 m_remaining = 0;
    std::array<uchar, 13> m_header{};
    int m_headerBytes = 0;
    int m_compressedChunks = 0;
    // The most the image data may inflate to: until a header says, only the slack.
    qint64 m_budget = BoundedImage::maximumPngExtraBytes;
    z_stream m_stream{};
    bool m_inflating = false;
    bool m_inflateOver = false;
    qint64 m_inflated = 0;
    std::array<Bytef, 1 << 16> m_scratch{};
};

// Whether decoding the data at `start` costs no more than the bounds allow.
// The device is read from `start` in blocks and put back there.
template <typename Walk> bool walkBounded(QIODevice &device, qint64 start, qint64 skip, Walk &walk)
{
    if (!device.seek(start + skip))
        return true;
    bool bounded = true;
    QByteArray block(1 << 16, Qt::Uninitialized);
    while (bounded && !walk.ended()) {
        const qint64 count = device.read(block.data(), block.size());
        if (count <= 0)
            break;
        bounded = walk.feed(reinterpret_cast<const uchar *>(block.constData()), count);
    }
    device.seek(start);
    return bounded;
}

bool decodingBounded(QIODevice &device, qint64 start, Format format)
{
    if (format == Format::jpeg) {
        JpegScanCount scans;
        return walkBounded(device, start, 2, scans);
    }
    auto work = std::make_unique<PngWork>();
    return walkBounded(device, start, 8, *work);
}

// The format of the data at the device's position; none for data of
// another format, or a device that cannot seek back to it.
std::optional<Format> formatAt(QIODevice &device, QString *error)
{
    const std::optional<Format> format = device.isSequential() ? std::nullopt : formatOf(device);
    if (!format)
        refuse(error, BoundedImage::unreadableText);
    return format;
}

// A reader of the data at `start` in `format` only.
std::unique_ptr<QImageReader> readerAt(QIODevice &device, qint64 start, Format format)
{
    device.seek(start);
    auto reader = std::make_unique<QImageReader>(&device, formatName(format));
    reader->setAutoDetectImageFormat(false);
    return reader;
}

// The size the header of the data at `start` gives; the device is put back
// there.
QSize headerSize(QIODevice &device, qint64 start, Format format)
{
    const QSize size = readerAt(device, start, format)->size();
    device.seek(start);
    return size;
}

// A reader of the data at the device's position, when its header gives a
// size within the bounds (`size`) and decoding it costs no more than they
// allow; else null, and `error` says why.
std::unique_ptr<QImageReader> boundedReader(QIODevice &device, QSize &size, QString *error)
{
    const qint64 start = device.pos();
    const auto format = formatAt(device, error);
    if (!format)
        return nullptr;
    size = headerSize(device, start, *format);
    if (!size.isValid() || size.isEmpty()) {
        refuse(error, BoundedImage::unreadableText);
        return nullptr;
    }
    if (size.width() > BoundedImage::maximumSide || size.height() > BoundedImage::maximumSide ||
        qint64(size.width()) * size.height() > BoundedImage::maximumPixels) {
        refuse(error, BoundedImage::tooLargeText);
        return nullptr;
    }
    if (!decodingBounded(device, start, *format)) {
        refuse(error, BoundedImage::tooCostlyText);
        return nullptr;
    }
    return readerAt(device, start, *format);
}

QImage decode(QImageReader &reader, QString *error)
{
    QImage image = reader.read();
    if (image.isNull())
        return refuse(error, BoundedImage::unreadableText);
    return image;
}

} // namespace

QImage BoundedImage::read(QIODevice &device, QString *error, QSize fitWithin)
{
    QSize size;
    const auto reader = boundedReader(device, size, error);
    if (!reader)
        return {};
    if (fitWithin.isValid() &&
        (size.width() > fitWithin.width() || size.height() > fitWithin.height()))
        reader->setScaledSize(size.scaled(fitWithin, Qt::KeepAspectRatio).expandedTo({1, 1}));
    return decode(*reader, error);
}

QImage BoundedImage::thumbnail(QIODevice &device, int side, QString *error)
{
    QSize size;
    const auto reader = boundedReader(device, size, error);
    if (!reader)
        return {};
    const double width = size.width(), height = size.height();
    const double factor = std::max(side / width, side / height);
    // The covering side could floor to one pixel short of the square.
    const double scaledWidth = std::max<double>(side, std::floor(width * factor));
    const double scaledHeight = std::max<double>(side, std::floor(height * factor));
    const double x = std::floor((scaledWidth - side) * 0.5);
    const double y = std::floor((scaledHeight - side) * 0.5);
    // The square's part of the image, in the image's own pixels.
    const double toSourceX = width / scaledWidth, toSourceY = height / scaledHeight;
    const int left = int(std::floor(x * toSourceX));
    const int top = int(std::floor(y * toSourceY));
    const int right = std::clamp(int(std::ceil((x + side) * toSourceX)), left + 1, size.width());
    const int bottom = std::clamp(int(std::ceil((y + side) * toSourceY)), top + 1, size.height());
    reader->setClipRect(QRect(left, top, right - left, bottom - top));
    reader->setScaledSize(QSize(side, side));
    return decode(*reader, error);
}

QSize BoundedImage::size(QIODevice &device)
{
    const qint64 start = device.pos();
    const auto format = formatAt(device, nullptr);
    return format ? headerSize(device, start, *format) : QSize();
}

} // namespace corvane
