#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

namespace corvane {

// Makes its area a drop target for GPX and CSV files: a faint dark overlay
// while such a file is dragged over it, and the first such file dropped is
// handed to the opener. Main thread only.
class URLDragView : public QWidget {
    Q_OBJECT
public:
    using Opener = std::function<void(const QUrl &url)>;

    explicit URLDragView(Opener opener, QWidget *parent = nullptr);

    // Holds the view's content, which fills it.
    void setContent(QWidget *content);

    // A local file whose extension, in any case, is "gpx" or "csv".
    static bool accepts(const QUrl &url);
    // The overlay shown while a drag is accepted, else nullptr.
    QWidget *dragView() const { return m_dragView; }

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showHighlight();
    void removeHighlight();

    Opener m_opener;
    QPointer<QWidget> m_dragView;
};

} // namespace corvane
