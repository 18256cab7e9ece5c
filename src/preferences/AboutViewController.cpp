#include "preferences/AboutViewController.h"

#include "platform/Loc.h"
#include "platform/desktop/Workspace.h"

#include <QDate>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace corvane {

namespace {

constexpr int kIconSize = 96;

} // namespace

AboutViewController::AboutViewController(const BundleInfo &bundle, QString homePage)
    : m_homePage(std::move(homePage))
{
    setObjectName("About");
    setWindowTitle(loc("About Corvane", "ABOUT_WINDOW_TITLE"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 20);
    layout->setSpacing(6);

    m_appIcon = new QLabel;
    m_appIcon->setPixmap(QIcon(":/images/AppIcon.svg").pixmap(kIconSize, kIconSize));
    m_appIcon->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_appIcon);

    auto *name = new QLabel(bundle.name.isEmpty() ? QStringLiteral("Corvane") : bundle.name);
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.5);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    m_versionLabel = new QLabel(versionText(bundle));
    m_versionLabel->setAlignment(Qt::AlignCenter);
    m_versionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_versionLabel);

    m_copyrightLabel = new QLabel(copyrightText(QDate::currentDate().year(), kMakerName));
    m_copyrightLabel->setAlignment(Qt::AlignCenter);
    m_copyrightLabel->setEnabled(false);
    layout->addWidget(m_copyrightLabel);

    layout->addSpacing(10);
    m_websiteButton = new QPushButton(loc("Visit Website", "ABOUT_WEBSITE_ITEM_TITLE"));
    m_websiteButton->setAutoDefault(false);
    connect(m_websiteButton, &QPushButton::clicked, this, [this] { website(); });
    layout->addWidget(m_websiteButton, 0, Qt::AlignCenter);

    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString AboutViewController::versionText(const BundleInfo &bundle)
{
    if (bundle.shortVersion.isEmpty() || bundle.build.isEmpty())
        return QStringLiteral("Version Unknown");
    return QStringLiteral("Version %1 (Build %2)").arg(bundle.shortVersion, bundle.build);
}

QString AboutViewController::copyrightText(int year, const QString &maker)
{
    return QStringLiteral("Copyright \u00A9 %1 %2").arg(QString::number(year), maker);
}

void AboutViewController::website()
{
    const QUrl url(m_homePage, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    Workspace::shared()->openUrl(url);
}

} // namespace corvane
