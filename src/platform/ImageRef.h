#pragma once

#include <QColor>
#include <QImage>
#include <QMarginsF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace corvane {

// A reference to an image that is resolved later, on the main thread: a named
// resource of the program, a symbol, a file or a ready image, followed by
// derived steps. Cheap to copy and compare; menus are built off the main
// thread with these and never with pixmaps.
class ImageRef {
public:
    enum class Source { None, Resource, Symbol, File, Image, Provided };
    enum class TintColor { Accent, White, Custom };

    struct Step {
        enum class Kind { Pad, Tint, Thumbnail, RoundedClip };
        Kind kind = Kind::Pad;
        QMarginsF insets;
        TintColor tint = TintColor::Custom;
        QColor color;
        QSizeF size;
        qreal radius = 0;

        bool operator==(const Step &other) const;
    };

    ImageRef() = default;

    // An image of the program's resources by name ("On", "Off", "Folder").
    static ImageRef resource(const QString &name);
    // A symbol by name ("trash", "gear"); a symbol resolves to no image
    // unless symbolsEnabled().
    static ImageRef symbol(const QString &name);
    static ImageRef file(const QString &path);
    static ImageRef image(const QImage &image);
    // An image made on first use, on the main thread; `key` names the picture
    // for the cache (equal keys, same picture).
    using Provider = std::function<QImage()>;
    static ImageRef provided(const QString &key, Provider provider);

    // Symbol images are shown only where the system offers them; on Linux
    // the program's own symbol art is always available.
    static bool symbolsEnabled();
    static void setSymbolsEnabled(bool enabled);

    // Derived steps, applied in the order added. Insets are top, left,
    // bottom, right as QMarginsF's fields.
    ImageRef padded(const QMarginsF &insets) const;
    // Tints replace a trailing tint: the result of tinting is the same
    // whatever colour the image had before.
    ImageRef tinted(TintColor color) const;
    ImageRef tinted(const QColor &color) const;
    ImageRef thumbnail(const QSizeF &maxSize) const;
    ImageRef roundedClip(qreal radius) const;

    bool isNull() const { return m_source == Source::None; }
    Source source() const { return m_source; }
    QString name() const { return m_name; }
    QImage sourceImage() const { return m_image; }
    // The provided image; null for other sources.
    QImage provide() const { return m_provider ? (*m_provider)() : QImage(); }
    const std::vector<Step> &steps() const { return m_steps; }
    // The same reference without its derived steps.
    ImageRef base() const;

    // A key that is equal for references that resolve to the same picture
    // (accent tints are keyed by the given accent colour).
    QString cacheKey(const QColor &accent = QColor()) const;

    bool operator==(const ImageRef &other) const;

private:
    static ImageRef named(Source source, const QString &name);
    ImageRef withStep(Step step) const;

    Source m_source = Source::None;
    QString m_name;
    QImage m_image;
    std::shared_ptr<const Provider> m_provider;
    std::vector<Step> m_steps;
};

} // namespace corvane
