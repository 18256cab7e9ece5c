#pragma once

#include "preferences/BundleInfo.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace corvane {

// The about box: the program's icon, its version, the copyright line and a
// button to the home page. Escape closes it.
class AboutViewController : public QDialog {
    Q_OBJECT

public:
    explicit AboutViewController(const BundleInfo &bundle = BundleInfo::main(),
                                 QString homePage = kHomePage);

    // "Version 2.1 (Build 140)", or "Version Unknown" without either part.
    static QString versionText(const BundleInfo &bundle);
    // "Copyright © <year> <maker>".
    static QString copyrightText(int year, const QString &maker);

    // Opens the home page in the browser; an address that does not parse opens nothing.
    void website();

    QLabel *versionLabel() const { return m_versionLabel; }
    QLabel *copyrightLabel() const { return m_copyrightLabel; }
    QLabel *appIcon() const { return m_appIcon; }
    QPushButton *websiteButton() const { return m_websiteButton; }

private:
    const QString m_homePage;
    QLabel *m_appIcon = nullptr;
    QLabel *m_versionLabel = nullptr;
    QLabel *m_copyrightLabel = nullptr;
    QPushButton *m_websiteButton = nullptr;
};

} // namespace corvane
