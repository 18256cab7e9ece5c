#include "location/WorldLand.h"

#include "location/MapProjection.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvane {

namespace {

constexpr char magic[] = "CVLAND01";
constexpr qsizetype headerSize = 8 + 4 * 8 + 4;

// Reads the file's little-endian fields, refusing to run past its end.
class Reader {
public:
    explicit Reader(const QByteArray &bytes) : m_bytes(bytes) {}

    bool atEnd() const { return m_offset >= m_bytes.size(); }
    qsizetype remaining() const { return m_bytes.size() - m_offset; }

    std::optional<double> float64()
    {
        if (remaining() < 8)
            return std::nullopt;
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = bits << 8 | std::uint8_t(m_bytes[m_offset + i]);
        m_offset += 8;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    std::optional<std::uint32_t> uint32()
    {
        if (remaining() < 4)
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | std::uint8_t(m_bytes[m_offset + i]);
        m_offset += 4;
        return value;
    }

    std::optional<std::uint64_t> varint()
    {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (atEnd())
                return std::nullopt;
            const auto byte = std::uint8_t(m_bytes[m_offset++]);
            value |= std::uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return std::nullopt;
    }

    std::optional<std::int64_t> zigzag()
    {
        const auto raw = varint();
        if (!raw)
            return std::nullopt;
        return std::int64_t(*raw >> 1) ^ -std::int64_t(*raw & 1);
    }

    void skip(qsizetype count) { m_offset += count; }

private:
    const QByteArray &m_bytes;
    qsizetype m_offset = 0;
};

QRectF boundsOf(const std::vector<QPointF> &points)
{
    double left = points.front().x(), right = left;
    double top = points.front().y(), bottom = top;
    for (const QPointF &point : points) {
        left = std::min(left, point.x());
        right = std::max(right, point.x());
        top = std::min(top, point.y());
        bottom = std::max(bottom, point.y());
    }
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

} // namespace

const WorldLand &WorldLand::bundled()
{
    static const WorldLand land = [] {
        QFile file(":/map/land-50m.bin");
        if (!file.open(QIODevice::ReadOnly))
            return WorldLand();
        return decode(file.readAll()).value_or(WorldLand());
    }();
    return land;
}

std::optional<WorldLand> WorldLand::decode(const QByteArray &bytes)
{
    if (bytes.size() < headerSize || std::memcmp(bytes.constData(), magic, 8) != 0)
        return std::nullopt;
    Reader reader(bytes);
    reader.skip(8);
    const auto scaleX = reader.float64(), scaleY = reader.float64();
    const auto translateX = reader.float64(), translateY = reader.float64();
    const auto ringCount = reader.uint32();
    if (!scaleX || !scaleY || !translateX || !translateY || !ringCount)
        return std::nullopt;
    for (double value : {*scaleX, *scaleY, *translateX, *translateY})
        if (!std::isfinite(value))
            return std::nullopt;

    // The frame: where rings were cut at ±180° or closed along a pole.
    const double west = -180.0, east = 180.0, pole = 89.99;
    WorldLand land;
    for (std::uint32_t r = 0; r < *ringCount; ++r) {
        const auto count = reader.varint();
        // Each point takes at least two bytes.
        if (!count || *count > std::uint64_t(reader.remaining()) / 2)
            return std::nullopt;
        Ring ring;
        ring.points.reserve(size_t(*count));
        ring.frame.reserve(size_t(*count));
        std::int64_t x = 0, y = 0;
        for (std::uint64_t i = 0; i < *count; ++i) {
            const auto dx = reader.zigzag(), dy = reader.zigzag();
            if (!dx || !dy)
                return std::nullopt;
            x += *dx;
            y += *dy;
            const double longitude = double(x) * *scaleX + *translateX;
            const double latitude = double(y) * *scaleY + *translateY;
            ring.points.push_back(map::worldPoint(latitude, longitude));
            std::uint8_t frame = 0;
            if (std::fabs(longitude - west) < 1e-9)
                frame |= 1;
            if (std::fabs(longitude - east) < 1e-9)
                frame |= 2;
            if (latitude <= -pole)
                frame |= 4;
            if (latitude >= pole)
                frame |= 8;
            ring.frame.push_back(frame);
        }
        if (ring.points.size() < 3)
            continue;
        ring.bounds = boundsOf(ring.points);
        land.m_rings.push_back(std::move(ring));
    }
    if (!reader.atEnd())
        return std::nullopt;
    return land;
}

qsizetype WorldLand::pointCount() const
{
    qsizetype count = 0;
    for (const Ring &ring : m_rings)
        count += qsizetype(ring.points.size());
    return count;
}

const std::vector<WorldLand::Ring> &WorldLand::rings(int level) const
{
    if (level >= fullDetailLevel)
        return m_rings;
    level = std::max(level, 0);
    auto &cached = m_levels[size_t(level)];
    if (cached)
        return *cached;

    const double tolerance = 0.25 / std::exp2(level);
    const double toleranceSquared = tolerance * tolerance;
    std::vector<Ring> thinned;
    thinned.reserve(m_rings.size());
    for (const Ring &ring : m_rings) {
        // A ring smaller than the tolerance would vanish into a dot.
        if (ring.bounds.width() < tolerance && ring.bounds.height() < tolerance)
            continue;
        Ring kept;
        kept.bounds = ring.bounds;
        for (size_t i = 0; i < ring.points.size(); ++i) {
            const bool last = i + 1 == ring.points.size();
            // Frame points are kept so that cut edges stay on the frame.
            if (!kept.points.empty() && !last && !ring.frame[i]) {
                const QPointF delta = ring.points[i] - kept.points.back();
                if (delta.x() * delta.x() + delta.y() * delta.y() <= toleranceSquared)
                    continue;
            }
            kept.points.push_back(ring.points[i]);
            kept.frame.push_back(ring.frame[i]);
        }
        if (kept.points.size() >= 3)
            thinned.push_back(std::move(kept));
    }
    cached = std::move(thinned);
    return *cached;
}

} // namespace corvane
