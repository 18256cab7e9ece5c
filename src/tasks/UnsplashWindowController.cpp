#include "tasks/UnsplashWindowController.h"

#include "platform/DispatchQueue.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>

namespace corvane {

QImage scaleAndCrop(const QImage &image, int side)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    const double factor = std::max(double(side) / image.width(), double(side) / image.height());
    // The covering side could floor to one pixel short of the square.
    const int width = std::max(side, int(std::floor(image.width() * factor)));
    const int height = std::max(side, int(std::floor(image.height() * factor)));
    const QImage scaled =
        image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int x = int(std::floor((width - side) * 0.5));
    const int y = int(std::floor((height - side) * 0.5));
    return scaled.copy(x, y, side, side);
}

QUrl unsplashReferralUrl(const QUrl &page)
{
    QUrl url = page;
    QUrlQuery query(url);
    query.addQueryItem("utm_source", "corvane");
    query.addQueryItem("utm_medium", "referral");
    url.setQuery(query);
    return url;
}

// Shared with the thumbnail's fetch, which ends on a network thread: the cell
// may have gone or moved on to another photo by then.
struct UnsplashCell::Link {
    QPointer<UnsplashCell> cell; // read on the main thread only
};

UnsplashCell::UnsplashCell(QWidget *parent)
    : QWidget(parent), m_thumbnail(new QLabel(this)), m_dimmer(new QWidget(this)),
      m_credit(new QLabel(m_dimmer)), m_link(std::make_shared<Link>())
{
    m_link->cell = this;
    setFixedSize(side, side);
    setCursor(Qt::PointingHandCursor);
    m_thumbnail->setGeometry(0, 0, side, side);
    m_thumbnail->setStyleSheet("background: #444;");

    const int creditHeight = 34;
    m_dimmer->setGeometry(0, side - creditHeight, side, creditHeight);
    m_dimmer->setAttribute(Qt::WA_StyledBackground);
    m_dimmer->setStyleSheet("background: rgba(0, 0, 0, 0.4);");
    m_credit->setGeometry(4, 0, side - 8, creditHeight);
    m_credit->setTextFormat(Qt::PlainText);
    m_credit->setStyleSheet("background: transparent; color: white; font-size: 10px;");
    m_credit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

UnsplashCell::~UnsplashCell()
{
    if (m_request)
        m_request->cancel();
}

void UnsplashCell::setImage(const UnsplashSearchResultsImage &image)
{
    m_image = image;
    m_credit->setText("Image by\n" + image.user.name);
    m_thumbnail->clear();
    loadThumbnail(image.urls.small);
}

void UnsplashCell::loadThumbnail(const QUrl &url)
{
    if (m_request)
        m_request->cancel();
    m_request.reset();
    // Only web addresses: a reply naming a local file gets nothing read.
    const QString scheme = url.scheme().toLower();
    if (scheme != "http" && scheme != "https")
        return;
    m_request = HttpClient::shared()->get(
        url, {}, std::chrono::seconds(60), [link = m_link, url](const HttpResponse &response) {
            // Still on the client's thread: decoding and scaling stay off the main thread.
            if (!response.body || response.status != 200)
                return;
            QImage thumbnail = scaleAndCrop(QImage::fromData(*response.body));
            if (thumbnail.isNull())
                return;
            DispatchQueue::main()->async([link, url, thumbnail = std::move(thumbnail)] {
                UnsplashCell *cell = link->cell;
                if (cell && cell->m_image && cell->m_image->urls.small == url)
                    cell->m_thumbnail->setPixmap(QPixmap::fromImage(thumbnail));
            });
        });
}

void UnsplashCell::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        m_image && onSelect)
        onSelect(*m_image);
}

UnsplashViewController::UnsplashViewController(std::vector<UnsplashSearchResultsImage> images,
                                               QString taskID)
    : m_images(std::move(images)), m_taskID(std::move(taskID))
{
    setWindowTitle(tr("Unsplash"));
    constexpr int columns = 4;
    constexpr int spacing = 8;

    auto *grid = new QWidget;
    auto *gridLayout = new QGridLayout(grid);
    gridLayout->setContentsMargins(spacing, spacing, spacing, spacing);
    gridLayout->setSpacing(spacing);
    for (std::size_t i = 0; i < m_images.size(); ++i) {
        auto *cell = new UnsplashCell(grid);
        cell->onSelect = openPage;
        cell->setImage(m_images[i]);
        gridLayout->addWidget(cell, int(i / columns), int(i % columns));
        m_cells.push_back(cell);
    }
    gridLayout->setRowStretch(gridLayout->rowCount(), 1);
    gridLayout->setColumnStretch(columns, 1);

    auto *scrollView = new QScrollArea(this);
    scrollView->setWidget(grid);
    scrollView->setWidgetResizable(true);
    scrollView->setFrameShape(QFrame::NoFrame);
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollView, 0, 0);

    const int rows = std::clamp(int((m_images.size() + columns - 1) / columns), 1, 3);
    resize(columns * (UnsplashCell::side + spacing) + spacing + 16,
           rows * (UnsplashCell::side + spacing) + spacing);
}

void UnsplashViewController::openPage(const UnsplashSearchResultsImage &image)
{
    const QUrl url = unsplashReferralUrl(image.links.html);
    if (url.isValid() && !url.isRelative())
        Workspace::shared()->openUrl(url);
}

UnsplashWindowController::UnsplashWindowController(std::vector<UnsplashSearchResultsImage> images,
                                                   QString taskID)
    : UnsplashWindowController(new UnsplashViewController(std::move(images), std::move(taskID)))
{
}

UnsplashWindowController::UnsplashWindowController(UnsplashViewController *content)
    : ClosableWindowController(content), m_content(content)
{
}

std::shared_ptr<UnsplashWindowRegistry> UnsplashWindowRegistry::make()
{
    std::shared_ptr<UnsplashWindowRegistry> registry(new UnsplashWindowRegistry);
    // The windows go with the application, not with the process's statics.
    if (auto *application = QCoreApplication::instance())
        QObject::connect(application, &QCoreApplication::aboutToQuit, application,
                         [weak = std::weak_ptr(registry)] {
                             if (auto registry = weak.lock())
                                 registry->removeAll();
                         });
    return registry;
}

std::shared_ptr<WindowController>
UnsplashWindowRegistry::windowFor(const std::vector<UnsplashSearchResultsImage> &images,
                                  const QString &key)
{
    if (auto open = window(key))
        return open;
    auto controller = std::make_shared<UnsplashWindowController>(images, key);
    controller->contentViewController()->setCloseHandler([weak = weak_from_this(), key] {
        if (auto registry = weak.lock())
            registry->m_windows.erase(key);
    });
    m_windows.emplace(key, controller);
    return controller;
}

std::shared_ptr<UnsplashWindowController> UnsplashWindowRegistry::window(const QString &key) const
{
    const auto found = m_windows.find(key);
    return found == m_windows.end() ? nullptr : found->second;
}

void UnsplashWindowRegistry::removeAll()
{
    m_windows.clear();
}

} // namespace corvane
