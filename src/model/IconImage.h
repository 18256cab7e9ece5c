#pragma once

#include <QImage>
#include <QList>
#include <QSizeF>

namespace corvane {

// An icon held in several representations of one picture, each a bitmap
// whose device pixel ratio gives its size in points. Cheap to copy.
class IconImage {
public:
    IconImage() = default;
    explicit IconImage(const QImage &representation);

    // Null images are not added.
    void addRepresentation(const QImage &representation);

    const QList<QImage> &representations() const { return m_representations; }
    bool isEmpty() const { return m_representations.isEmpty(); }
    // The size in points of the first representation.
    QSizeF size() const;

    // The widest representation; a null image when there is none.
    QImage largest() const;
    // The narrowest representation at least `pixelWidth` wide, else the widest.
    QImage bestFor(qreal pixelWidth) const;

private:
    QList<QImage> m_representations;
};

} // namespace corvane
