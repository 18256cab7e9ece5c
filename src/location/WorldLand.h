#pragma once

#include <QByteArray>
#include <QPointF>
#include <QRectF>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// The land of the world as rings of zoom-0 world points (outer rings and
// holes alike; fill them even-odd), read from the bundled Natural Earth
// data. Rings are thinned per zoom level when first drawn there.
class WorldLand {
public:
    struct Ring {
        std::vector<QPointF> points;
        // Per point: on the west (1), east (2), south (4) or north (8)
        // frame. A segment between two points on one frame side is where a
        // ring was cut or closed, not a coast.
        std::vector<std::uint8_t> frame;
        QRectF bounds;

        bool isCoast(size_t segment) const { return (frame[segment] & frame[segment + 1]) == 0; }
    };

    // The bundled land; empty when the resource is missing or damaged.
    static const WorldLand &bundled();
    // Nothing for bytes that are not a whole land file.
    static std::optional<WorldLand> decode(const QByteArray &bytes);

    bool isEmpty() const { return m_rings.empty(); }
    qsizetype pointCount() const;
    // Rings fit for drawing at zoom levels up to `level`: no two kept points
    // of a ring are within a quarter point of each other there. Main thread.
    const std::vector<Ring> &rings(int level) const;

    // Finer than this, the data itself is coarser than a point.
    static constexpr int fullDetailLevel = 9;

private:
    std::vector<Ring> m_rings;
    mutable std::array<std::optional<std::vector<Ring>>, fullDetailLevel> m_levels;
};

} // namespace corvane
