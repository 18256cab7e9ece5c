#include "core/Glob.h"
#include "core/ImageHelpers.h"
#include "core/Uuid.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/desktop/AssetCatalogReader.h"
#include "platform/files/AtomicFile.h"
#include "platform/formats/BoundedImage.h"
#include "platform/Log.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SystemPaths.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

#include <algorithm>
#include <mutex>

namespace corvane {

namespace {

using AppIcon = Application::AppIcon;

// Icons at or below 5 and at or above 600 are left out (besides a catalog's
// narrowest), so that menus do not scale huge artwork.
bool usableWidth(qreal width)
{
    return width > 5 && width < 600;
}

bool isDictionary(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantMap;
}

std::optional<QStringList> textList(const QVariant &value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList texts;
    for (const QVariant &item : value.toList()) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt;
        texts << item.toString();
    }
    return texts;
}

QImage premultiplied(const QImage &image)
{
    return image.format() == QImage::Format_ARGB32_Premultiplied
               ? image
               : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Far more than any icon takes: a 1024-pixel square of noise is a few
// megabytes.
constexpr qint64 maximumIconFileBytes = qint64(8) << 20;

// The picture in an icon file, or null. Icons come from app bundles anyone
// may have built, so only a regular file of bounded size is read, and only
// as a PNG or a JPEG whose decoding stays within BoundedImage's bounds. The
// width is taken from the header, so that art left out is never decoded.
QImage readIconFile(const QString &path)
{
    std::optional<QByteArray> bytes = RegularFile::readWhole(path, maximumIconFileBytes);
    if (!bytes)
        return {};
    QBuffer buffer(&*bytes);
    buffer.open(QIODevice::ReadOnly);
    const QImage image = BoundedImage::read(buffer, nullptr, {},
                                            [](QSize size) { return usableWidth(size.width()); });
    return image.isNull() ? QImage() : premultiplied(image);
}

std::optional<AppIcon> looseIcon(const QString &bundle, const QStringList &names, bool &matched)
{
    std::vector<QUrl> urls;
    for (const QString &name : names) {
        // An empty name would match every file of the bundle, and an absolute
        // one or one through ".." files outside it.
        if (name.isEmpty() || name.startsWith('/') || name.split('/').contains(".."))
            continue;
        const Glob glob(Glob::escape(bundle) + "/" + Glob::escape(name) + "*");
        urls.insert(urls.end(), glob.begin(), glob.end());
    }
    matched = !urls.empty();
    if (urls.empty())
        return std::nullopt;
    IconImage image;
    for (const QUrl &url : urls)
        image.addRepresentation(readIconFile(url.toLocalFile()));
    if (image.isEmpty())
        return std::nullopt;
    return AppIcon{image, urls.front()};
}

std::optional<AppIcon> catalogIcon(const QString &bundle, const QVariantMap &primaryIcon)
{
    const auto reader = AssetCatalogReader::make();
    if (!reader)
        return std::nullopt;
    const QVariant name = primaryIcon.value("CFBundleIconName");
    if (name.typeId() != QMetaType::QString)
        return std::nullopt;
    if (!reader->open(QUrl::fromLocalFile(bundle + "/Assets.car")))
        return std::nullopt;
    auto named = reader->imagesWithName(name.toString());
    if (named.empty())
        return std::nullopt;
    std::stable_sort(named.begin(), named.end(),
                     [](const auto &a, const auto &b) { return a.size.width() < b.size.width(); });

    IconImage image;
    for (const auto &candidate : named) {
        if (!candidate.bitmap || candidate.bitmap->isNull())
            continue;
        if (!image.isEmpty() && !usableWidth(candidate.size.width()))
            continue;
        QImage representation = premultiplied(*candidate.bitmap);
        if (candidate.size.width() > 0)
            representation.setDevicePixelRatio(representation.width() / candidate.size.width());
        image.addRepresentation(representation);
    }
    if (image.isEmpty())
        return std::nullopt;

    // The cache holds the narrowest rendition that had a bitmap.
    QImage first = image.representations().first();
    first.setDevicePixelRatio(1);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(first) || png.isEmpty())
        return std::nullopt;

    const QString path = SystemPaths::current().temporaryDir + "/" + Application::iconCachePrefix +
                         newUuidString() + ".png";
    if (!AtomicFile::save(path, png))
        return std::nullopt;

    // Shown as the cache file holds it, decoded from the bytes just written.
    const QImage loaded = QImage::fromData(png, "png");
    if (loaded.isNull())
        return std::nullopt;
    return AppIcon{IconImage(premultiplied(loaded)), QUrl::fromLocalFile(path)};
}

std::optional<AppIcon> lookUpIcon(const QVariantMap &info, const QUrl &url)
{
    const QVariant icons = info.contains("CFBundleIcons") ? info.value("CFBundleIcons")
                                                          : info.value("CFBundleIcons~ipad");
    if (!isDictionary(icons))
        return std::nullopt;
    const QVariant primary = icons.toMap().value("CFBundlePrimaryIcon");
    if (!isDictionary(primary))
        return std::nullopt;
    const QVariantMap primaryIcon = primary.toMap();
    const QString bundle = QDir::cleanPath(url.toLocalFile());

    if (!primaryIcon.isEmpty()) {
        if (const auto names = textList(primaryIcon.value("CFBundleIconFiles"))) {
            bool matched = false;
            auto icon = looseIcon(bundle, *names, matched);
            if (matched)
                return icon;
        }
    }
    return catalogIcon(bundle, primaryIcon);
}

// Rendered once per name, in two sizes: one for menu rows and one to scale
// down from for anything larger.
IconImage renderStandBy(const QString &name)
{
    QSvgRenderer renderer(QStringLiteral(":/images/%1.svg").arg(name));
    IconImage image;
    if (!renderer.isValid())
        return image;
    for (const int pixels : {64, 256}) {
        QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
        painter.end();
        image.addRepresentation(canvas);
    }
    return image;
}

IconImage standByIcon(const QString &name)
{
    static std::mutex mutex;
    static QHash<QString, IconImage> rendered;
    std::lock_guard lock(mutex);
    const auto it = rendered.constFind(name);
    if (it != rendered.constEnd())
        return *it;
    return *rendered.insert(name, renderStandBy(name));
}

QImage roundedClip(const QImage &image, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), image.deviceIndependentSize()), radius, radius);
    return ImageHelpers::clipped(image, path).value_or(QImage());
}

} // namespace

IconImage Application::osIconImage() const
{
    return standByIcon(m_osIcon);
}

std::optional<Application::AppIcon> Application::appIcon() const
{
    std::lock_guard lock(m_mutex);
    return m_appIcon;
}

void Application::setAppIcon(std::optional<AppIcon> icon)
{
    std::lock_guard lock(m_mutex);
    m_appIcon = std::move(icon);
}

void Application::loadIcons()
{
    const auto device = this->device();
    if (!device)
        return;
    const Runtime::System system = device->runtime().system();
    if (system != Runtime::System::iOS && system != Runtime::System::watchOS)
        return;
    setAppIcon(lookUpIcon(infoDictionary(), url()));
}

IconImage Application::iconImage()
{
    const auto current = appIcon();
    if (!current)
        return osIconImage();
    const QString path = current->url.toLocalFile();
    if (QFileInfo::exists(path) || !path.contains(iconCachePrefix))
        return current->image;
    loadIcons();
    const auto reloaded = appIcon();
    if (!reloaded) {
        Log::toolset().info("Old app icon has been purged, unable to reload");
        return osIconImage();
    }
    return reloaded->image;
}

QImage Application::icon()
{
    return iconImage().largest();
}

std::optional<QImage> Application::displayIcon(QSizeF size)
{
    const IconImage image = iconImage();
    const auto thumbnail =
        ImageHelpers::thumbnail(image.bestFor(2 * qMax(size.width(), size.height())), size);
    const auto device = this->device();
    if (!device || !thumbnail)
        return thumbnail;
    const qreal width = size.width();
    std::optional<QImage> masked;
    switch (device->runtime().system()) {
    case Runtime::System::iOS:
        if (m_executableType == ExecutableType::app)
            masked = roundedClip(*thumbnail, 0.22 * width);
        else
            masked = ImageHelpers::roundedRectBlurred(*thumbnail, 0.22 * width);
        break;
    case Runtime::System::watchOS:
    case Runtime::System::visionOS: masked = roundedClip(*thumbnail, 0.5 * width); break;
    case Runtime::System::tvOS: return thumbnail;
    }
    if (masked && masked->isNull())
        return std::nullopt;
    return masked;
}

} // namespace corvane
