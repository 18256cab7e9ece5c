#include "platform/ImageRef.h"

#include <atomic>

namespace corvane {

namespace {

std::atomic<bool> g_symbolsEnabled{true};

QString stepKey(const ImageRef::Step &step, const QColor &accent)
{
    using Kind = ImageRef::Step::Kind;
    switch (step.kind) {
    case Kind::Pad:
        return QStringLiteral("pad(%1,%2,%3,%4)")
            .arg(step.insets.top())
            .arg(step.insets.left())
            .arg(step.insets.bottom())
            .arg(step.insets.right());
    case Kind::Tint: {
        QColor color = step.color;
        if (step.tint == ImageRef::TintColor::Accent)
            color = accent;
        else if (step.tint == ImageRef::TintColor::White)
            color = Qt::white;
        return QStringLiteral("tint(%1)").arg(color.name(QColor::HexArgb));
    }
    case Kind::Thumbnail:
        return QStringLiteral("thumb(%1x%2)").arg(step.size.width()).arg(step.size.height());
    case Kind::RoundedClip: return QStringLiteral("round(%1)").arg(step.radius);
    }
    return {};
}

} // namespace

bool ImageRef::Step::operator==(const Step &other) const
{
    return kind == other.kind && insets == other.insets && tint == other.tint &&
           color == other.color && size == other.size && radius == other.radius;
}

ImageRef ImageRef::provided(const QString &key, Provider provider)
{
    ImageRef ref;
    if (key.isEmpty() || !provider)
        return ref;
    ref.m_source = Source::Provided;
    ref.m_name = key;
    ref.m_provider = std::make_shared<const Provider>(std::move(provider));
    return ref;
}

ImageRef ImageRef::named(Source source, const QString &name)
{
    ImageRef ref;
    ref.m_source = name.isEmpty() ? Source::None : source;
    ref.m_name = name;
    return ref;
}

ImageRef ImageRef::resource(const QString &name)
{
    return named(Source::Resource, name);
}

ImageRef ImageRef::symbol(const QString &name)
{
    return named(Source::Symbol, name);
}

ImageRef ImageRef::file(const QString &path)
{
    return named(Source::File, path);
}

ImageRef ImageRef::image(const QImage &image)
{
    ImageRef ref;
    ref.m_source = image.isNull() ? Source::None : Source::Image;
    ref.m_image = image;
    return ref;
}

bool ImageRef::symbolsEnabled()
{
    return g_symbolsEnabled.load();
}

void ImageRef::setSymbolsEnabled(bool enabled)
{
    g_symbolsEnabled.store(enabled);
}

ImageRef ImageRef::withStep(Step step) const
{
    ImageRef ref = *this;
    if (ref.isNull())
        return ref;
    if (step.kind == Step::Kind::Tint && !ref.m_steps.empty() &&
        ref.m_steps.back().kind == Step::Kind::Tint)
        ref.m_steps.back() = step;
    else
        ref.m_steps.push_back(step);
    return ref;
}

ImageRef ImageRef::padded(const QMarginsF &insets) const
{
    Step step;
    step.kind = Step::Kind::Pad;
    step.insets = insets;
    return withStep(step);
}

ImageRef ImageRef::tinted(TintColor color) const
{
    Step step;
    step.kind = Step::Kind::Tint;
    step.tint = color;
    return withStep(step);
}

ImageRef ImageRef::tinted(const QColor &color) const
{
    Step step;
    step.kind = Step::Kind::Tint;
    step.tint = TintColor::Custom;
    step.color = color;
    return withStep(step);
}

ImageRef ImageRef::thumbnail(const QSizeF &maxSize) const
{
    Step step;
    step.kind = Step::Kind::Thumbnail;
    step.size = maxSize;
    return withStep(step);
}

ImageRef ImageRef::roundedClip(qreal radius) const
{
    Step step;
    step.kind = Step::Kind::RoundedClip;
    step.radius = radius;
    return withStep(step);
}

ImageRef ImageRef::base() const
{
    ImageRef ref = *this;
    ref.m_steps.clear();
    return ref;
}

QString ImageRef::cacheKey(const QColor &accent) const
{
    QString key;
    switch (m_source) {
    case Source::None: return {};
    case Source::Resource: key = QStringLiteral("res:") + m_name; break;
    case Source::Symbol: key = QStringLiteral("sym:") + m_name; break;
    case Source::File: key = QStringLiteral("file:") + m_name; break;
    case Source::Image: key = QStringLiteral("img:%1").arg(m_image.cacheKey()); break;
    case Source::Provided: key = QStringLiteral("provided:") + m_name; break;
    }
    for (const auto &step : m_steps)
        key += QLatin1Char('|') + stepKey(step, accent);
    return key;
}

bool ImageRef::operator==(const ImageRef &other) const
{
    return m_source == other.m_source && m_name == other.m_name &&
           m_image.cacheKey() == other.m_image.cacheKey() && m_steps == other.m_steps;
}

} // namespace corvane
