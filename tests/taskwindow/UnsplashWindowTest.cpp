#include "common/TestSupport.h"
#include "fixtures/http/LocalHttpServer.h"
#include "fixtures/http/UnsplashReplies.h"
#include "platform/formats/BoundedImage.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/net/HttpClient.h"
#include "platform/desktop/Workspace.h"
#include "tasks/UnsplashWindowController.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPainter>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace corvane {
namespace {

using fixture::LocalHttpServer;
using test::waitForBackgroundWork;
using test::waitUntil;

UnsplashSearchResultsImage photo(const LocalHttpServer &server, int index)
{
    const auto results =
        UnsplashSearchResults::decode(fixture::unsplashSearchReply(server.baseUrl(), index + 1));
    return results->results.at(std::size_t(index));
}

QRgb shownColour(const UnsplashCell &cell)
{
    return cell.thumbnail()->pixmap().toImage().pixel(60, 10);
}

QRgb photoColour(int index)
{
    return QImage::fromData(fixture::unsplashPhoto(index)).pixel(0, 0);
}

// Three bands across the longer side: red, blue, green, the outer two as wide
// as the scaled image overhangs the square on each side.
QImage bands(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter painter(&image);
    const bool wide = width > height;
    const int band = (wide ? width - height : height - width) / 2;
    painter.fillRect(wide ? QRect(0, 0, band, height) : QRect(0, 0, width, band), Qt::red);
    painter.fillRect(wide ? QRect(width - band, 0, band, height)
                          : QRect(0, height - band, width, band),
                     Qt::green);
    return image;
}

// The thumbnail of an image, through its PNG bytes as a reply would bring it.
QImage scaleAndCrop(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    buffer.close();
    buffer.open(QIODevice::ReadOnly);
    return BoundedImage::thumbnail(buffer, 120);
}

TEST(ScaleAndCropTest, FillsTheSquareFromTheCentre)
{
    // 4000 × 3000 scales to 160 × 120 and is cut at x 20: only the blue band is left.
    for (const QSize size : {QSize(4000, 3000), QSize(3000, 4000)}) {
        const QImage square = scaleAndCrop(bands(size.width(), size.height()));
        ASSERT_EQ(square.size(), QSize(120, 120));
        for (const QPoint corner : {QPoint(0, 0), QPoint(119, 119)})
            EXPECT_EQ(QColor(square.pixel(corner)), QColor(Qt::blue)) << size.width();
    }
    QImage small(60, 40, QImage::Format_RGB32);
    small.fill(Qt::yellow);
    EXPECT_EQ(scaleAndCrop(small).size(), QSize(120, 120));
    EXPECT_EQ(QColor(scaleAndCrop(small).pixel(119, 119)), QColor(Qt::yellow));
    for (const QSize size : {QSize(1, 997), QSize(997, 1), QSize(3, 3), QSize(121, 119),
                             QSize(1, 16384), QSize(16384, 2)})
        EXPECT_EQ(scaleAndCrop(bands(size.width(), size.height())).size(), QSize(120, 120));
    EXPECT_TRUE(scaleAndCrop(QImage()).isNull());
}

TEST(UnsplashReferralTest, ItemsAreAddedToTheQuery)
{
    EXPECT_EQ(unsplashReferralUrl(QUrl("https://unsplash.com/photos/abc")).toString(),
              "https://unsplash.com/photos/abc?utm_source=corvane&utm_medium=referral");
    EXPECT_EQ(unsplashReferralUrl(QUrl("https://unsplash.com/photos/abc?a=b#top")).toString(),
              "https://unsplash.com/photos/abc?a=b&utm_source=corvane&utm_medium=referral#top");
}

class UnsplashWindowTest : public ::testing::Test {
protected:
    void SetUp() override { Workspace::setShared(m_workspace); }
    void TearDown() override
    {
        m_registry->removeAll();
        m_server.release();
        EXPECT_TRUE(waitForBackgroundWork());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        HttpClient::setShared(nullptr);
        Workspace::setShared(nullptr);
    }

    LocalHttpServer m_server;
    std::shared_ptr<UnsplashWindowRegistry> m_registry = UnsplashWindowRegistry::make();
    std::shared_ptr<RecordingWorkspace> m_workspace = std::make_shared<RecordingWorkspace>();
};

TEST_F(UnsplashWindowTest, OneWindowPerTaskUntilItIsClosed)
{
    fixture::serveUnsplash(m_server, 2);
    const std::vector images{photo(m_server, 0), photo(m_server, 1)};
    const QString key = "0C6F1E2A-1111-4222-8333-444455556666";
    auto first = m_registry->windowFor(images, key);
    EXPECT_EQ(m_registry->windowFor({}, key), first);
    first->showWindow();

    auto *content = m_registry->window(key)->contentViewController();
    ASSERT_EQ(content->cells().size(), 2u);
    UnsplashCell *cell = content->cells()[1];
    EXPECT_EQ(cell->credit()->text(), "Image by\n" + images[1].user.name);
    ASSERT_TRUE(waitUntil([&] { return shownColour(*cell) == photoColour(1); }));

    // A click opens the photo's page with the referral items.
    const QPointF inside(60, 60);
    QMouseEvent press(QEvent::MouseButtonPress, inside, cell->mapToGlobal(inside), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, cell->mapToGlobal(inside),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(cell, &press);
    QCoreApplication::sendEvent(cell, &release);
    ASSERT_EQ(m_workspace->requests.size(), 1u);
    EXPECT_EQ(m_workspace->requests[0].operation, "openUrl");
    EXPECT_EQ(m_workspace->requests[0].argument,
              unsplashReferralUrl(images[1].links.html).toString());

    content->close();
    EXPECT_EQ(m_registry->window(key), nullptr);
    auto second = m_registry->windowFor(images, key);
    EXPECT_NE(second, first);
}

TEST_F(UnsplashWindowTest, ALateThumbnailOfTheFormerPhotoIsDropped)
{
    fixture::serveUnsplash(m_server, 2);
    LocalHttpServer::Reply held{.body = fixture::unsplashPhoto(0), .contentType = "image/jpeg"};
    held.held = true;
    m_server.setReply(fixture::unsplashPhotoPath(0), held);

    UnsplashCell cell;
    cell.setImage(photo(m_server, 0));
    ASSERT_TRUE(waitUntil([&] { return m_server.heldCount() == 1; }));
    cell.setImage(photo(m_server, 1));
    ASSERT_TRUE(waitUntil([&] { return shownColour(cell) == photoColour(1); }));
    m_server.release();
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(shownColour(cell), photoColour(1));

    // Only web addresses are fetched.
    auto recording = std::make_shared<RecordingHttpClient>();
    HttpClient::setShared(recording);
    auto local = photo(m_server, 0);
    local.urls.small = QUrl("file:///etc/passwd");
    cell.setImage(local);
    EXPECT_TRUE(recording->requests().empty());
    EXPECT_TRUE(cell.thumbnail()->pixmap().isNull());
}

TEST_F(UnsplashWindowTest, AHugeReplyShowsOnePageAndFetchesFourThumbnailsAtATime)
{
    fixture::serveUnsplash(m_server, 12);
    auto recording = std::make_shared<RecordingHttpClient>();
    HttpClient::setShared(recording);
    const std::vector images(3000, photo(m_server, 0));
    const QString key = "0C6F1E2A-1111-4222-8333-444455556667";
    m_registry->windowFor(images, key);
    auto *content = m_registry->window(key)->contentViewController();
    EXPECT_EQ(content->cells().size(), std::size_t(UnsplashSearchResults::pageSize));
    EXPECT_EQ(recording->requests().size(), 4u);

    // Each thumbnail made leaves room for the next.
    for (std::size_t i = 0; i < 10; ++i) {
        ASSERT_TRUE(waitUntil([&] { return recording->requests().size() > i; }));
        EXPECT_LE(recording->requests().size(), i + 4);
        recording->complete(i, {200, fixture::unsplashPhoto(0), {}});
    }
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(recording->requests().size(), 10u);
    EXPECT_EQ(shownColour(*content->cells()[0]), photoColour(0));
}

} // namespace
} // namespace corvane
