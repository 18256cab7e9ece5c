#include "app/qt/QtStatusItem.h"

#include "app/qt/ImageCache.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QToolButton>

namespace corvane {

namespace {

// Stands in for an icon whose art cannot be had, so that the item can still
// be found and clicked.
QIcon placeholderIcon()
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x80, 0x80, 0x80));
    painter.drawEllipse(QRectF(4, 4, 14, 14));
    painter.end();
    return QIcon(pixmap);
}

} // namespace

QtStatusItem::QtStatusItem(Presentation presentation)
{
    const bool tray =
        presentation == Presentation::Tray ||
        (presentation == Presentation::Automatic && QSystemTrayIcon::isSystemTrayAvailable());
    if (tray) {
        m_tray = std::make_unique<QSystemTrayIcon>();
        connect(m_tray.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason) { popUpMenu(); });
    } else {
        m_button = std::make_unique<QToolButton>();
        m_button->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                 Qt::WindowDoesNotAcceptFocus);
        m_button->setObjectName(QStringLiteral("CorvaneStatusButton"));
        m_button->setAutoRaise(true);
        m_button->setCheckable(true);
        m_button->setIconSize(QSize(22, 22));
        m_button->setFixedSize(30, 30);
        m_button->setWindowTitle(QStringLiteral("Corvane"));
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            m_button->move(area.right() - 40, area.top() + 4);
        }
        connect(m_button.get(), &QToolButton::clicked, this, [this] { popUpMenu(); });
    }
    // Shown by the first setIcon.
}

QtStatusItem::~QtStatusItem()
{
    if (m_menu)
        m_renderer.release(m_menu);
}

void QtStatusItem::setIcon(const ImageRef &icon)
{
    m_icon = icon;
    const QImage image = ImageCache::shared().resolve(icon);
    const QIcon qicon = image.isNull() ? placeholderIcon() : QIcon(QPixmap::fromImage(image));
    if (m_tray)
        m_tray->setIcon(qicon);
    if (m_button)
        m_button->setIcon(qicon);
    if (!m_hasIcon) {
        m_hasIcon = true;
        showState();
    }
}

void QtStatusItem::setMenu(const MenuPtr &menu)
{
    if (menu == m_menu)
        return;
    if (m_qmenu && m_qmenu->isVisible())
        m_qmenu->hide();
    if (m_menu)
        m_renderer.release(m_menu);
    m_menu = menu;
    m_qmenu = m_renderer.menuFor(menu);
    if (m_qmenu) {
        connect(m_qmenu, &QMenu::aboutToShow, this, [this] { setHighlighted(true); });
        connect(m_qmenu, &QMenu::aboutToHide, this, [this] { setHighlighted(false); });
    }
}

void QtStatusItem::setVisible(bool visible)
{
    m_visible = visible;
    showState();
}

void QtStatusItem::setHighlighted(bool highlighted)
{
    m_highlighted = highlighted;
    if (m_button)
        m_button->setChecked(highlighted);
}

void QtStatusItem::popUpMenu()
{
    if (!m_qmenu || m_qmenu->isVisible())
        return;
    QPoint at = QCursor::pos();
    if (m_button && m_button->isVisible())
        at = m_button->mapToGlobal(QPoint(0, m_button->height()));
    else if (m_tray && !m_tray->geometry().isEmpty())
        at = m_tray->geometry().bottomLeft();
    m_qmenu->popup(at);
}

void QtStatusItem::showState()
{
    // A tray icon shown without an icon is an empty slot, and Qt warns of it.
    const bool shown = m_visible && m_hasIcon;
    if (m_tray)
        m_tray->setVisible(shown);
    if (m_button)
        m_button->setVisible(shown);
}

} // namespace corvane
