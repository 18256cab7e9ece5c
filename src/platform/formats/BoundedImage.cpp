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

// The markers that start a frame: every SOFn, not DHT, JPG or DAC among them.
bool isFrameMarker(uchar code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Walks a JPEG as the decoder meets it: each marker segment is skipped by
// its length, and after it the next marker is looked for as the decoder
// looks for it, a 0xFF byte followed by one that is neither 0x00 (a stuffed
// byte of entropy-coded data) nor 0xFF (fill). So entropy-coded data,
// restart markers and the bytes of other segments are never taken for a
// scan. The size is the first frame's; the scans and the bytes of their
// entropy-coded data are counted. Each byte is looked at once.
class JpegWalk {
public:
    // Stops at the first frame when only its size is wanted.
    explicit JpegWalk(bool toFrame) : m_toFrame(toFrame) {}

    // The bytes after the start-of-image marker, block by block; false once
    // there are more scans than allowed.
    bool feed(const uchar *data, qint64 size)
    {
        qint64 at = 0;
        while (at < size && m_state != State::end) {
            switch (m_state) {
            case State::seekMarker: {
                const void *ff = std::memchr(data + at, 0xFF, size_t(size - at));
                const qint64 next = ff ? static_cast<const uchar *>(ff) - data : size;
                if (m_inScan)
                    m_entropyBytes += next - at;
                at = next;
                if (ff) {
                    ++at;
                    m_state = State::marker;
                }
                break;
            }
            case State::marker: {
                const uchar code = data[at++];
                if (code == 0xFF)
                    break;
                if (code == 0x00) {
                    m_entropyBytes += m_inScan;
                    m_state = State::seekMarker;
                    break;
                }
                // Restart markers go on with the scan; any other ends it.
                m_inScan = m_inScan && code >= 0xD0 && code <= 0xD7;
                if (code == 0xD9)
                    m_state = State::end;
                else if (code == 0x01 || (code >= 0xD0 && code <= 0xD8))
                    m_state = State::seekMarker; // a marker without a length
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
                // The decoder stops at a length that cannot hold itself, and
                // at a scan before any frame.
                if (m_remaining < 2 || (m_code == 0xDA && !m_frameSeen)) {
                    m_state = State::end;
                    break;
                }
                if (m_code == 0xDA && ++m_scans > BoundedImage::maximumJpegScans)
                    return false;
                m_remaining -= 2;
                if (isMetadataMarker(m_code) && !countMetadata(m_remaining))
                    return false;
                m_inFrame = !m_frameSeen && isFrameMarker(m_code);
                if (m_inFrame) {
                    m_frameSeen = true;
                    m_frameLength = m_remaining;
                }
                if (m_remaining == 0)
                    endSegment();
                else
                    m_state = State::segment;
                break;
            case State::segment: {
                const qint64 skipped = std::min(m_remaining, size - at);
                const qint64 offset = m_frameLength - m_remaining;
                if (m_inFrame && offset < qint64(m_frame.size()))
                    std::memcpy(m_frame.data() + offset, data + at,
                                size_t(std::min(qint64(m_frame.size()) - offset, skipped)));
                at += skipped;
                m_remaining -= skipped;
                if (m_remaining == 0)
                    endSegment();
                break;
            }
            case State::end: break;
            }
        }
        return true;
    }

    bool ended() const { return m_state == State::end; }

    // The size the frame gives: invalid without one, or for one the
    // decoder refuses (too short for its components, or empty).
    QSize size() const { return m_size; }

    // Why the decoder should not see the data walked, or null: more scans
    // or metadata than allowed, or too little data for the picture the
    // frame claims.
    const QString *refusal() const
    {
        const bool holdsItsPicture =
            m_scans == 0 || qint64(m_size.width()) * m_size.height() <=
                                BoundedImage::maximumJpegPixelsPerByte * m_entropyBytes;
        return m_scans > BoundedImage::maximumJpegScans || m_tooMuchMetadata || !holdsItsPicture
                   ? &BoundedImage::tooCostlyText
                   : nullptr;
    }

private:
    enum class State { seekMarker, marker, lengthHigh, lengthLow, segment, end };

    // COM and APP0 to APP15.
    static bool isMetadataMarker(uchar code) { return code == 0xFE || (code & 0xF0) == 0xE0; }

    // False once past the bounds, sizing too: no real file comes near them,
    // and a flood before the frame would cost every walk its whole length.
    bool countMetadata(qint64 bytes)
    {
        m_metadataBytes += bytes;
        m_tooMuchMetadata = m_tooMuchMetadata ||
                            ++m_metadataSegments > BoundedImage::maximumJpegMetadataSegments ||
                            m_metadataBytes > BoundedImage::maximumJpegMetadataBytes;
        return !m_tooMuchMetadata;
    }

    void endSegment()
    {
        m_state = State::seekMarker;
        m_inScan = m_code == 0xDA;
        if (!m_inFrame)
            return;
        // Precision, height, width, and three bytes for each component.
        const auto word = [this](int at) { return int(m_frame[at]) << 8 | m_frame[at + 1]; };
        const int components = m_frame[5];
        if (components > 0 && m_frameLength == 6 + 3 * components && word(1) > 0 && word(3) > 0)
            m_size = QSize(word(3), word(1));
        if (m_toFrame || !m_size.isValid())
            m_state = State::end;
    }

    const bool m_toFrame;
    State m_state = State::seekMarker;
    uchar m_code = 0;
    qint64 m_remaining = 0;
    int m_scans = 0;
    int m_metadataSegments = 0;
    qint64 m_metadataBytes = 0;
    bool m_tooMuchMetadata = false;
    bool m_inScan = false;
    qint64 m_entropyBytes = 0;
    bool m_frameSeen = false;
    bool m_inFrame = false;
    qint64 m_frameLength = 0;
    std::array<uchar, 6> m_frame{};
    QSize m_size;
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

// Whether a PNG header's bit depth goes with its colour type.
bool validPngDepth(int colourType, int bitDepth)
{
    switch (colourType) {
    case 0:
        return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case 3: return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case 2:
    case 4:
    case 6: return bitDepth == 8 || bitDepth == 16;
    default: return false;
    }
}

// Walks a PNG's chunks by their lengths, taking its size from the header
// chunk, which comes first, and inflating its image data, counting what
// comes out, as the decoder will inflate all of it: refused once that passes
// what the picture's rows take by more than the slack, or once there are
// more compressed text and profile chunks than allowed. The decoder takes a
// chunk's length on trust, so a length the format does not allow, chunks
// other than image data past their bounds, and data that ends inside a
// chunk are refused too.
class PngWork {
public:
    // Stops after the header when only its size is wanted.
    explicit PngWork(bool toHeader) : m_toHeader(toHeader) {}
    PngWork(const PngWork &) = delete;
    PngWork &operator=(const PngWork &) = delete;
    ~PngWork()
    {
        if (m_inflating)
            inflateEnd(&m_stream);
    }

    // The bytes after the signature, block by block; false once refused.
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
                if (m_remaining == 0) {
                    m_state = State::crc;
                    m_remaining = 4;
                }
                break;
            }
            case State::crc: {
                const qint64 taken = std::min(m_remaining, available);
                if (m_inHeader)
                    std::memcpy(m_headerCrc.data() + 4 - m_remaining, data + at, size_t(taken));
                at += taken;
                m_remaining -= taken;
                if (m_remaining == 0)
                    endChunk();
                break;
            }
            case State::end: break;
            }
        }
        return true;
    }

    bool ended() const { return m_state == State::end; }

    // The size the header gives: invalid without one, or for one the
    // decoder refuses.
    QSize size() const { return m_size; }

    // What the decoder holds a pixel in: 64 bits for 16-bit samples.
    int bytesPerPixel() const { return m_size.isValid() && m_header[8] == 16 ? 8 : 4; }

    // Why the decoder should not see the data walked, or null.
    const QString *refusal() const
    {
        if (m_refusal)
            return m_refusal;
        if (m_state != State::end && (m_state != State::head || m_headBytes > 0))
            return &BoundedImage::unreadableText;
        return nullptr;
    }

private:
    enum class State { head, body, crc, end };

    bool isType(const char *type) const { return std::memcmp(m_head.data() + 4, type, 4) == 0; }

    bool startChunk()
    {
        m_remaining = qint64(m_head[0]) << 24 | qint64(m_head[1]) << 16 | qint64(m_head[2]) << 8 |
                      qint64(m_head[3]);
        // The decoder reads nothing before a whole header.
        m_inHeader = !m_size.isValid();
        if (m_inHeader && (!isType("IHDR") || m_remaining != qint64(m_header.size()))) {
            m_state = State::end;
            return true;
        }
        if (isType("IEND")) {
            m_state = State::end;
            return true;
        }
        if (m_remaining > 0x7FFF'FFFF)
            return refuse(BoundedImage::unreadableText);
        if (!isType("IDAT") && !isType("fdAT") &&
            (++m_otherChunks > BoundedImage::maximumPngOtherChunks ||
             (m_otherBytes += m_remaining) > BoundedImage::maximumPngOtherChunkBytes))
            return refuse(BoundedImage::tooCostlyText);
        if ((isType("zTXt") || isType("iTXt") || isType("iCCP")) &&
            ++m_compressedChunks > BoundedImage::maximumPngCompressedChunks)
            return refuse(BoundedImage::tooCostlyText);
        m_state = m_remaining > 0 ? State::body : State::crc;
        if (m_remaining == 0)
            m_remaining = 4;
        return true;
    }

    bool refuse(const QString &why)
    {
        m_refusal = &why;
        return false;
    }

    bool chunkData(const uchar *data, qint64 size)
    {
        if (m_inHeader) {
            std::memcpy(m_header.data() + m_header.size() - m_remaining, data, size_t(size));
            return true;
        }
        return !isType("IDAT") || inflateData(data, size);
    }

    void endChunk()
    {
        m_state = State::head;
        if (!m_inHeader)
            return;
        m_state = State::end;
        const auto word = [](const uchar *bytes) {
            return quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 |
                   quint32(bytes[3]);
        };
        uLong crc = crc32(0, m_head.data() + 4, 4);
        crc = crc32(crc, m_header.data(), uInt(m_header.size()));
        const quint32 width = word(&m_header[0]), height = word(&m_header[4]);
        const int bitDepth = m_header[8], colourType = m_header[9];
        if (crc != word(m_headerCrc.data()) || width == 0 || height == 0 || width > 0x7FFFFFFFu ||
            height > 0x7FFFFFFFu || !validPngDepth(colourType, bitDepth) || m_header[10] != 0 ||
            m_header[11] != 0 || m_header[12] > 1)
            return;
        m_size = QSize(int(width), int(height));
        if (m_toHeader)
            return;
        if (width <= quint32(BoundedImage::maximumSide) &&
            height <= quint32(BoundedImage::maximumSide))
            m_budget += pngImageDataBytes(width, height, bitDepth, colourType, m_header[12] != 0);
        m_state = State::head;
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
                return refuse(BoundedImage::tooCostlyText);
            if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR)) {
                m_inflateOver = true;
                return true;
            }
            // Stalled for want of input: the next chunk goes on.
            if (m_stream.avail_in == 0 && m_stream.avail_out > 0)
                return true;
        }
    }

    const bool m_toHeader;
    State m_state = State::head;
    std::array<uchar, 8> m_head{};
    int m_headBytes = 0;
    qint64 m_remaining = 0;
    bool m_inHeader = false;
    std::array<uchar, 13> m_header{};
    std::array<uchar, 4> m_headerCrc{};
    QSize m_size;
    int m_compressedChunks = 0;
    int m_otherChunks = 0;
    qint64 m_otherBytes = 0;
    const QString *m_refusal = nullptr;
    // The most the image data may inflate to: until a header says, only the slack.
    qint64 m_budget = BoundedImage::maximumPngExtraBytes;
    z_stream m_stream{};
    bool m_inflating = false;
    bool m_inflateOver = false;
    qint64 m_inflated = 0;
    std::array<Bytef, 1 << 16> m_scratch{};
};

// Walks the data at `start`, read from the device in blocks to its end or
// the walk's, and puts the device back there; why the decoder should not
// see the data, or null.
template <typename Walk>
const QString *walkBounded(QIODevice &device, qint64 start, qint64 skip, Walk &walk)
{
    if (!device.seek(start + skip))
        return nullptr;
    QByteArray block(1 << 16, Qt::Uninitialized);
    while (!walk.ended()) {
        const qint64 count = device.read(block.data(), block.size());
        if (count <= 0 || !walk.feed(reinterpret_cast<const uchar *>(block.constData()), count))
            break;
    }
    device.seek(start);
    return walk.refusal();
}

// What a walk over the data at `start` found: the size its header gives,
// and why decoding it should not be tried, if it should not. Only the
// header is read when `toHeader`.
struct Walked {
    QSize size;
    const QString *refusal = nullptr;
    int bytesPerPixel = 4;
};

Walked walked(QIODevice &device, qint64 start, Format format, bool toHeader)
{
    if (format == Format::jpeg) {
        JpegWalk walk(toHeader);
        const QString *refusal = walkBounded(device, start, 2, walk);
        return {walk.size(), refusal};
    }
    auto walk = std::make_unique<PngWork>(toHeader);
    const QString *refusal = walkBounded(device, start, 8, *walk);
    return {walk->size(), refusal, walk->bytesPerPixel()};
}

// The decoder refuses to make an image past a limit of its own, for the
// whole program (128 MiB in Qt 6.4), below what the bounds here admit: 40
// megapixels of 16-bit samples take 320 MB. It is raised to that once,
// never lowered.
void admitWhatTheBoundsAdmit()
{
    static const bool raised = [] {
        constexpr qint64 mebibyte = 1 << 20;
        constexpr int needed = int((BoundedImage::maximumPixels * 8 + mebibyte - 1) / mebibyte);
        const int limit = QImageReader::allocationLimit();
        if (limit != 0 && limit < needed)
            QImageReader::setAllocationLimit(needed);
        return true;
    }();
    (void)raised;
}

// Whether the decoder's limit, as it is now, refuses an image of `size`.
bool pastAllocationLimit(QSize size, int bytesPerPixel)
{
    const qint64 limit = qint64(QImageReader::allocationLimit()) << 20;
    return limit != 0 && qint64(size.width()) * size.height() * bytesPerPixel > limit;
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

// A reader of the data at the device's position, and the size its header
// gives, when that is within the bounds and `wanted` accepts it, and
// decoding it costs no more than they allow; else no reader, and `error`
// says why. The decoder sees none of the data before.
struct Bounded {
    std::unique_ptr<QImageReader> reader;
    QSize size;
    int bytesPerPixel = 4;
};

Bounded boundedReader(QIODevice &device, QString *error,
                      const std::function<bool(QSize)> &wanted = {})
{
    const qint64 start = device.pos();
    const auto format = formatAt(device, error);
    if (!format)
        return {};
    const Walked header = walked(device, start, *format, true);
    const QSize size = header.size;
    if (header.refusal) {
        refuse(error, *header.refusal);
        return {};
    }
    if (!size.isValid()) {
        refuse(error, BoundedImage::unreadableText);
        return {};
    }
    if (size.width() > BoundedImage::maximumSide || size.height() > BoundedImage::maximumSide ||
        qint64(size.width()) * size.height() > BoundedImage::maximumPixels) {
        refuse(error, BoundedImage::tooLargeText);
        return {};
    }
    if (wanted && !wanted(size))
        return {};
    if (const QString *why = walked(device, start, *format, false).refusal) {
        refuse(error, *why);
        return {};
    }
    device.seek(start);
    admitWhatTheBoundsAdmit();
    auto reader = std::make_unique<QImageReader>(&device, formatName(*format));
    reader->setAutoDetectImageFormat(false);
    return {std::move(reader), size, header.bytesPerPixel};
}

QImage decode(const Bounded &bounded, QString *error)
{
    QImage image = bounded.reader->read();
    if (image.isNull())
        return refuse(error, pastAllocationLimit(bounded.size, bounded.bytesPerPixel)
                                 ? BoundedImage::tooLargeText
                                 : BoundedImage::unreadableText);
    return image;
}

} // namespace

QImage BoundedImage::read(QIODevice &device, QString *error, QSize fitWithin,
                          const std::function<bool(QSize)> &wanted)
{
    const Bounded bounded = boundedReader(device, error, wanted);
    if (!bounded.reader)
        return {};
    const QSize size = bounded.size;
    if (fitWithin.isValid() &&
        (size.width() > fitWithin.width() || size.height() > fitWithin.height()))
        bounded.reader->setScaledSize(
            size.scaled(fitWithin, Qt::KeepAspectRatio).expandedTo({1, 1}));
    return decode(bounded, error);
}

QImage BoundedImage::thumbnail(QIODevice &device, int side, QString *error)
{
    const Bounded bounded = boundedReader(device, error);
    if (!bounded.reader)
        return {};
    const QSize size = bounded.size;
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
    bounded.reader->setClipRect(QRect(left, top, right - left, bottom - top));
    bounded.reader->setScaledSize(QSize(side, side));
    return decode(bounded, error);
}

QSize BoundedImage::size(QIODevice &device)
{
    const qint64 start = device.pos();
    const auto format = formatAt(device, nullptr);
    return format ? walked(device, start, *format, true).size : QSize();
}

} // namespace corvane
