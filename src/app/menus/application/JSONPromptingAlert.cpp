#include "app/menus/application/JSONPromptingAlert.h"

#include "app/qt/ImageCache.h"
#include "core/ImageHelpers.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/ImageRef.h"
#include "platform/desktop/Workspace.h"

#include <QPainter>
#include <QPainterPath>

namespace corvane::JSONPromptingAlert {

const QString samplePayload = QStringLiteral("{\n\t\"aps\": {\n\t\t\"alert\": {\n\t\t\t\"title\": "
                                             "\"Hello World\",\n\t\t\t\"body\": \"Testing, 1, 2, "
                                             "3\"\n\t\t}\n\t}\n}");

const QUrl documentationUrl(QStringLiteral("https://developer.apple.com/documentation/"
                                           "usernotifications/generating-a-remote-notification"));

namespace {

// The share of the frame's width that the icon takes.
constexpr qreal kIconShare = 260.0 / 301.0;
constexpr qreal kCornerShare = 0.22;

} // namespace

QString informativeText(const Application &application)
{
    const auto device = application.device();
    if (!device)
        return {};
    const Runtime runtime = device->runtime();
    return "Will be delivered to " + application.title() + " on " + device->title() + " (" +
           Runtime::systemDescription(runtime.system()) + ' ' + runtime.version() + ").";
}

bool canSend(const QString &text)
{
    return !text.trimmed().isEmpty();
}

QString payload(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.contains(QLatin1String("aps"), Qt::CaseInsensitive))
        return trimmed;
    return "{\"aps\": " + trimmed + '}';
}

QImage icon(const QImage &frame, const QImage &applicationIcon, const QImage &standIn)
{
    if (frame.isNull())
        return {};
    const qreal ratio = frame.devicePixelRatio();
    const QSizeF size = QSizeF(frame.size()) / ratio;
    const qreal side = size.width() * kIconShare;

    QImage canvas(frame.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage &source = applicationIcon.isNull() ? standIn : applicationIcon;
    if (const auto thumbnail = ImageHelpers::thumbnail(source, QSizeF(side, side))) {
        QPainterPath corners;
        corners.addRoundedRect(QRectF(QPointF(0, 0), thumbnail->deviceIndependentSize()),
                               kCornerShare * side, kCornerShare * side);
        const QImage clipped = ImageHelpers::clipped(*thumbnail, corners).value_or(*thumbnail);
        painter.drawImage(QRectF(0, size.height() - side, side, side), clipped);
    }
    painter.drawImage(QRectF(QPointF(0, 0), size), frame);
    painter.end();
    return canvas;
}

AlertSpec spec(Application &application, const QString &lastPayload)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Informational;
    spec.messageText = QStringLiteral("Push Notification Payload");
    spec.informativeText = informativeText(application);

    ImageCache &images = ImageCache::shared();
    const QImage frame = images.resolve(ImageRef::resource(QStringLiteral("Notification")));
    const qreal side = frame.width() * kIconShare;
    spec.icon = icon(frame, application.iconImage().bestFor(side),
                     images.resolve(ImageRef::resource(QStringLiteral("App Icon - iOS"))));

    spec.buttons = {{QStringLiteral("Send"), AlertSpec::KeyEquivalent::None, canSend(lastPayload)},
                    {QStringLiteral("Cancel"), AlertSpec::KeyEquivalent::None}};
    spec.help = [] { Workspace::shared()->openUrl(documentationUrl); };
    AlertSpec::TextAccessory editor;
    editor.placeholder = samplePayload;
    editor.initialText = lastPayload;
    editor.multiline = true;
    editor.monospace = true;
    editor.validator = canSend;
    spec.accessory = std::move(editor);
    return spec;
}

} // namespace corvane::JSONPromptingAlert
