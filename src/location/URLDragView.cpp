#include "location/URLDragView.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QVBoxLayout>

namespace corvane {

namespace {

QList<QUrl> acceptedUrls(const QMimeData *data)
{
    QList<QUrl> urls;
    if (!data || !data->hasUrls())
        return urls;
    for (const QUrl &url : data->urls())
        if (URLDragView::accepts(url))
            urls.append(url);
    return urls;
}

} // namespace

URLDragView::URLDragView(Opener opener, QWidget *parent)
    : QWidget(parent), m_opener(std::move(opener))
{
    setAcceptDrops(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void URLDragView::setContent(QWidget *content)
{
    layout()->addWidget(content);
    if (m_dragView)
        m_dragView->raise();
}

bool URLDragView::accepts(const QUrl &url)
{
    if (!url.isLocalFile())
        return false;
    const QString extension = QFileInfo(url.toLocalFile()).suffix().toLower();
    return extension == QLatin1String("gpx") || extension == QLatin1String("csv");
}

void URLDragView::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptedUrls(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    showHighlight();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void URLDragView::dragLeaveEvent(QDragLeaveEvent *event)
{
    removeHighlight();
    event->accept();
}

void URLDragView::dropEvent(QDropEvent *event)
{
    removeHighlight();
    const QList<QUrl> urls = acceptedUrls(event->mimeData());
    if (urls.isEmpty()) {
        event->ignore();
        return;
    }
    window()->raise();
    window()->activateWindow();
    if (m_opener)
        m_opener(urls.first());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void URLDragView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_dragView)
        m_dragView->setGeometry(rect());
}

void URLDragView::showHighlight()
{
    if (m_dragView)
        return;
    auto *highlight = new QWidget(this);
    highlight->setObjectName(QStringLiteral("dragHighlight"));
    highlight->setAttribute(Qt::WA_TransparentForMouseEvents);
    highlight->setAutoFillBackground(true);
    QPalette palette = highlight->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0, 0, 0, 0.1f));
    highlight->setPalette(palette);
    highlight->setGeometry(rect());
    highlight->show();
    highlight->raise();
    m_dragView = highlight;
}

void URLDragView::removeHighlight()
{
    if (m_dragView)
        delete m_dragView.data();
}

} // namespace corvane
