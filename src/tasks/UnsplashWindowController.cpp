#include "tasks/UnsplashWindowController.h"

#include "platform/formats/BoundedImage.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/net/HttpClient.h"
#include "platform/desktop/Workspace.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QUrlQuery>

#include <algorithm>
#include <deque>
#include <utility>

namespace corvane {

namespace {

constexpr int maximumThumbnailFetches = 4;
const TransferLimits thumbnailLimits{std::chrono::seconds(60), std::chrono::minutes(2), 8 << 20};

} // namespace

QUrl unsplashReferralUrl(const QUrl &page)
{
    QUrl url = page;
    QUrlQuery query(url);
    query.addQueryItem("utm_source", "corvane");
    query.addQueryItem("utm_medium", "referral");
    url.setQuery(query);
    return url;
}

// Shared with the thumbnail's fetch, which ends on other threads: the cell
// may have gone or moved on to another photo by then. Main thread only.
struct UnsplashCell::Link {
    QPointer<UnsplashCell> cell;
    // Counts the photos shown: a fetch for an earlier one is dropped.
    int generation = 0;
    QUrl url;
    std::shared_ptr<HttpRequest> request;
};

// Fetches the cells' thumbnails in the order asked, at most a few at a time,
// and makes each on a worker queue from the bytes received: a thousand cells
// never mean a thousand requests, and no image is decoded on the network
// thread. Main thread only.
class ThumbnailFetches {
public:
    using Link = UnsplashCell::Link;

    static ThumbnailFetches &shared()
    {
        static auto *const fetches = new ThumbnailFetches;
        return *fetches;
    }

    void fetch(const std::shared_ptr<Link> &link)
    {
        m_waiting.push_back({link, link->generation});
        pump();
    }

private:
    struct Waiting {
        std::weak_ptr<Link> link;
        int generation;
    };

    void pump()
    {
        while (m_running < maximumThumbnailFetches && !m_waiting.empty()) {
            const Waiting next = m_waiting.front();
            m_waiting.pop_front();
            const auto link = next.link.lock();
            if (link && link->cell && link->generation == next.generation)
                start(link);
        }
    }

    void start(const std::shared_ptr<Link> &link)
    {
        ++m_running;
        const int generation = link->generation;
        link->request = HttpClient::shared()->get(
            {link->url, {}, thumbnailLimits, {}}, [link, generation](const HttpResponse &response) {
                DispatchQueue::userInitiated()->async([link, generation, response] {
                    QImage thumbnail;
                    if (response.body && response.status == 200) {
                        QByteArray body = *response.body;
                        QBuffer buffer(&body);
                        buffer.open(QIODevice::ReadOnly);
                        thumbnail = BoundedImage::thumbnail(buffer, UnsplashCell::side);
                    }
                    DispatchQueue::main()->async([link, generation, thumbnail] {
                        shared().finished(*link, generation, thumbnail);
                    });
                });
            });
    }

    void finished(Link &link, int generation, const QImage &thumbnail)
    {
        --m_running;
        if (link.generation == generation) {
            link.request.reset();
            if (link.cell && !thumbnail.isNull())
                link.cell->m_thumbnail->setPixmap(QPixmap::fromImage(thumbnail));
        }
        pump();
    }

    std::deque<Waiting> m_waiting;
    int m_running = 0;
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
    if (m_link->request)
        m_link->request->cancel();
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
    ++m_link->generation;
    if (const auto request = std::exchange(m_link->request, nullptr))
        request->cancel();
    m_link->url = url;
    // Only web addresses: a reply naming a local file gets nothing read.
    const QString scheme = url.scheme().toLower();
    if (scheme == "http" || scheme == "https")
        ThumbnailFetches::shared().fetch(m_link);
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
    : m_images(images.begin(),
               images.begin() +
                   std::min(images.size(), std::size_t(UnsplashSearchResults::pageSize))),
      m_taskID(std::move(taskID))
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
