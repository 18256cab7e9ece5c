#pragma once

#include "tasks/ClosableWindow.h"
#include "tasks/UnsplashResultsWindows.h"
#include "tasks/UnsplashSearchResults.h"

#include <QImage>
#include <QString>
#include <QUrl>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class QLabel;

namespace corvane {

// A photo's page with the program's referral items added to its query.
QUrl unsplashReferralUrl(const QUrl &page);

// One photo of the grid: its thumbnail under a dimmer with the credit line.
// Showing another photo drops the thumbnail still on its way for the former.
// Thumbnails are fetched at most four at a time, whatever the cells, and made
// on a worker thread.
class UnsplashCell : public QWidget {
public:
    static constexpr int side = 120;

    explicit UnsplashCell(QWidget *parent = nullptr);
    ~UnsplashCell() override;

    const std::optional<UnsplashSearchResultsImage> &image() const { return m_image; }
    void setImage(const UnsplashSearchResultsImage &image);

    QLabel *credit() const { return m_credit; }
    QLabel *thumbnail() const { return m_thumbnail; }
    QWidget *dimmer() const { return m_dimmer; }

    // Called when the user picks the photo.
    std::function<void(const UnsplashSearchResultsImage &)> onSelect;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    friend class ThumbnailFetches;
    struct Link;

    void loadThumbnail(const QUrl &url);

    QLabel *m_thumbnail;
    QWidget *m_dimmer;
    QLabel *m_credit;
    std::optional<UnsplashSearchResultsImage> m_image;
    std::shared_ptr<Link> m_link;
};

// The photos an import used, as a grid, at most the page a search asks for
// (a reply may list thousands); the window itself.
class UnsplashViewController : public ClosableWindow {
public:
    explicit UnsplashViewController(std::vector<UnsplashSearchResultsImage> images, QString taskID);

    const QString &taskID() const { return m_taskID; }
    const std::vector<UnsplashSearchResultsImage> &images() const { return m_images; }
    std::vector<UnsplashCell *> cells() const { return m_cells; }
    // Opens the photo's page in the web browser.
    static void openPage(const UnsplashSearchResultsImage &image);

private:
    const std::vector<UnsplashSearchResultsImage> m_images;
    const QString m_taskID;
    std::vector<UnsplashCell *> m_cells;
};

class UnsplashWindowController : public ClosableWindowController {
public:
    UnsplashWindowController(std::vector<UnsplashSearchResultsImage> images, QString taskID);

    UnsplashViewController *contentViewController() const { return m_content; }

private:
    explicit UnsplashWindowController(UnsplashViewController *content);

    UnsplashViewController *m_content;
};

// The open results windows by task identifier (upper case); closing a window
// forgets it. Main thread only.
class UnsplashWindowRegistry : public UnsplashResultsWindows,
                               public std::enable_shared_from_this<UnsplashWindowRegistry> {
public:
    static std::shared_ptr<UnsplashWindowRegistry> make();

    std::shared_ptr<WindowController>
    windowFor(const std::vector<UnsplashSearchResultsImage> &images, const QString &key) override;

    std::shared_ptr<UnsplashWindowController> window(const QString &key) const;
    // Forgets every window (closing them), before the application goes.
    void removeAll();

private:
    UnsplashWindowRegistry() = default;

    std::map<QString, std::shared_ptr<UnsplashWindowController>> m_windows;
};

} // namespace corvane
