#include "PreferencesTestSupport.h"
#include "preferences/AboutViewController.h"
#include "preferences/AboutWindowController.h"

#include <QDate>
#include <QLabel>
#include <QPushButton>

using namespace corvane;
using namespace corvane::test;

namespace {

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override { Workspace::setShared(workspace); }
    void TearDown() override { Workspace::setShared(nullptr); }

    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
};

} // namespace

TEST_F(AboutBoxTest, TheVersionLineNeedsBothTheVersionAndTheBuild)
{
    EXPECT_EQ(AboutViewController::versionText({"Corvane", "2.1", "140"}),
              "Version 2.1 (Build 140)");
    EXPECT_EQ(AboutViewController::versionText({"Corvane", "2.1", ""}), "Version Unknown");
    EXPECT_EQ(AboutViewController::versionText({"Corvane", "", "140"}), "Version Unknown");
    EXPECT_EQ(AboutViewController::copyrightText(2031, "Quendrith"),
              QString::fromUtf8("Copyright \xc2\xa9 2031 Quendrith"));

    AboutViewController about(BundleInfo{"Corvane", "2.1", "140"});
    EXPECT_EQ(about.versionLabel()->text(), "Version 2.1 (Build 140)");
    EXPECT_EQ(about.copyrightLabel()->text(),
              AboutViewController::copyrightText(QDate::currentDate().year(), kMakerName));
    EXPECT_FALSE(about.appIcon()->pixmap().isNull());
}

TEST_F(AboutBoxTest, TheWebsiteButtonOpensOnlyAnAddressThatParses)
{
    AboutViewController about(BundleInfo{"Corvane", "2.1", "140"}, "https://example.com/corvane/");
    about.websiteButton()->click();
    ASSERT_EQ(workspace->requests.size(), 1u);
    EXPECT_EQ(workspace->requests[0].operation, "openUrl");
    EXPECT_EQ(workspace->requests[0].argument, "https://example.com/corvane/");

    for (const QString &bad : {"https://exa mple.com/", "not an address", ""}) {
        AboutViewController broken(BundleInfo{}, bad);
        broken.website();
    }
    EXPECT_EQ(workspace->requests.size(), 1u);
}

TEST_F(AboutBoxTest, TheWindowStaysInFrontAndEscapeClosesIt)
{
    AboutWindowController controller(BundleInfo{"Corvane", "2.1", "140"});
    controller.showWindow();
    controller.setStaysOnTop(true);
    controller.raise();
    controller.focusContent();
    AboutViewController *about = controller.contentViewController();
    EXPECT_TRUE(about->isVisible());
    EXPECT_TRUE(about->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    sendKey(about, Qt::Key_Escape);
    EXPECT_FALSE(about->isVisible());
    controller.showWindow();
    EXPECT_TRUE(about->isVisible());
}
