#include "PreferencesTestSupport.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

using namespace corvane;
using namespace corvane::test;

namespace {

class CountingSender : public SendsCrashLog {
public:
    void sendCrashLog(const std::optional<QString> &emailAddress, const QString &text) override
    {
        addresses.push_back(emailAddress);
        texts << text;
    }
    std::vector<std::optional<QString>> addresses;
    QStringList texts;
};

class CrashReportWindowTest : public CrashReporterTestBase {
protected:
    CrashReportContent content(bool emailRow, bool automaticRow)
    {
        CrashReportContent result;
        result.crashLogText = "Exception Type:  EXC_BAD_ACCESS (SIGSEGV)";
        result.crashLogSender = sender;
        result.privacyPolicyURL = QUrl("https://example.com/privacy");
        result.collectEmailSetting = {emailRow, defaults, "CRR_emailAddress"};
        result.sendReportsAutomaticallySetting = {automaticRow, defaults,
                                                  "CRR_sendCrashLogsAutomatically"};
        return result;
    }

    std::shared_ptr<CountingSender> sender = std::make_shared<CountingSender>();
};

bool rowShown(CrashReportWindowController &window, QWidget *container)
{
    return container->isVisibleTo(&window);
}

} // namespace

TEST_F(CrashReportWindowTest, ShowsTheLogReadOnlyInAFixedPitchFontWithItsInset)
{
    CrashReportWindowController window(content(true, true));
    window.showWindow();
    EXPECT_EQ(window.objectName(), "CrashReporterWindow");
    EXPECT_EQ(window.textView()->toPlainText(), "Exception Type:  EXC_BAD_ACCESS (SIGSEGV)");
    EXPECT_TRUE(window.textView()->isReadOnly());
    EXPECT_TRUE(window.textView()->font().fixedPitch());
    EXPECT_EQ(window.textView()->document()->documentMargin(), 5);

    CrashReportWindowController empty(CrashReportContent{});
    EXPECT_EQ(empty.textView()->toPlainText(), "");
    // Nothing to send from: Send is off, Don't Send is not.
    EXPECT_FALSE(empty.sendCrashLogButton()->isEnabled());
    EXPECT_TRUE(empty.dontSendButton()->isEnabled());
}

TEST_F(CrashReportWindowTest, EachRowIsShownOrCollapsedByItsSettingAlone)
{
    CrashReportWindowController window(content(true, true));
    window.showWindow();
    const int fullHeight = window.sizeHint().height();
    EXPECT_TRUE(rowShown(window, window.collectEmailContainerView()));
    EXPECT_TRUE(window.emailAddressTextField()->isEnabled());
    EXPECT_TRUE(rowShown(window, window.sendAutomaticallyContainerView()));
    EXPECT_TRUE(window.sendAutomaticallyCheckbox()->isEnabled());

    window.setCollectEmailSetting({false, defaults, "CRR_emailAddress"});
    EXPECT_FALSE(rowShown(window, window.collectEmailContainerView()));
    EXPECT_FALSE(window.emailAddressTextField()->isEnabled());
    EXPECT_TRUE(rowShown(window, window.sendAutomaticallyContainerView()));
    EXPECT_LT(window.sizeHint().height(), fullHeight);

    window.setSendReportsAutomaticallySetting({false, defaults, "CRR_sendCrashLogsAutomatically"});
    EXPECT_FALSE(rowShown(window, window.sendAutomaticallyContainerView()));
    EXPECT_FALSE(window.sendAutomaticallyCheckbox()->isEnabled());

    // Showing the e-mail row again leaves the other one collapsed.
    window.setCollectEmailSetting({true, defaults, "CRR_emailAddress"});
    EXPECT_TRUE(rowShown(window, window.collectEmailContainerView()));
    EXPECT_TRUE(window.emailAddressTextField()->isEnabled());
    EXPECT_FALSE(rowShown(window, window.sendAutomaticallyContainerView()));
}

TEST_F(CrashReportWindowTest, TheFieldAndTheCheckboxWriteTheirKeysAtOnce)
{
    defaults->set("CRR_emailAddress", "old@example.com");
    CrashReportWindowController window(content(true, true));
    window.showWindow();
    EXPECT_EQ(window.emailAddressTextField()->text(), "old@example.com");
    EXPECT_FALSE(window.sendAutomaticallyCheckbox()->isChecked());

    window.emailAddressTextField()->clear();
    typeText(window.emailAddressTextField(), "me@example.com");
    EXPECT_EQ(defaults->string("CRR_emailAddress"), "me@example.com");
    EXPECT_EQ(window.emailAddress(), "me@example.com");

    window.sendAutomaticallyCheckbox()->click();
    EXPECT_TRUE(defaults->boolean("CRR_sendCrashLogsAutomatically"));
    window.sendAutomaticallyCheckbox()->click();
    EXPECT_FALSE(defaults->boolean("CRR_sendCrashLogsAutomatically"));

    // Nothing but the user's click writes the choice.
    window.setSendReportsAutomaticallySetting({true, defaults, "CRR_sendCrashLogsAutomatically"});
    EXPECT_FALSE(defaults->boolean("CRR_sendCrashLogsAutomatically"));
}

TEST_F(CrashReportWindowTest, SendSendsOnceWithTheAddressOnlyWhenItsRowIsShown)
{
    defaults->set("CRR_emailAddress", "dev@example.com");
    int closes = 0;
    CrashReportWindowController window(content(true, true));
    window.setOnWindowWillClose([&](QWidget *closing) {
        EXPECT_EQ(closing, &window);
        ++closes;
    });
    window.showWindow();
    window.sendCrashLogButton()->click();
    window.sendCrashReport();
    ASSERT_EQ(sender->texts.size(), 1);
    EXPECT_EQ(sender->addresses[0], "dev@example.com");
    EXPECT_TRUE(window.didSendCrashLog());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(window.sendCrashLogButton()->isEnabled());
    EXPECT_FALSE(window.dontSendButton()->isEnabled());

    CrashReportWindowController hidden(content(false, true));
    hidden.showWindow();
    hidden.sendCrashReport();
    ASSERT_EQ(sender->texts.size(), 2);
    EXPECT_EQ(sender->addresses[1], std::nullopt);
}

TEST_F(CrashReportWindowTest, DeclineEscapeAndTheCloseButtonCloseWithoutSending)
{
    int closes = 0;
    auto count = [&](QWidget *) { ++closes; };

    CrashReportWindowController declined(content(true, true));
    declined.setOnWindowWillClose(count);
    declined.showWindow();
    declined.dontSendButton()->click();
    EXPECT_FALSE(declined.isVisible());

    CrashReportWindowController escaped(content(true, true));
    escaped.setOnWindowWillClose(count);
    escaped.showWindow();
    sendKey(escaped.textView(), Qt::Key_Escape);
    EXPECT_FALSE(escaped.isVisible());

    CrashReportWindowController closed(content(true, true));
    closed.setOnWindowWillClose(count);
    closed.showWindow();
    closed.close();

    // Return does not answer for the user.
    CrashReportWindowController returned(content(true, true));
    returned.showWindow();
    sendKey(returned.textView(), Qt::Key_Return);
    sendKey(returned.emailAddressTextField(), Qt::Key_Return);
    EXPECT_TRUE(returned.isVisible());

    EXPECT_EQ(closes, 3);
    EXPECT_TRUE(sender->texts.isEmpty());
    EXPECT_FALSE(declined.didSendCrashLog());
}

TEST_F(CrashReportWindowTest, ThePrivacyLinkOpensThePageOnlyWhenThereIsOne)
{
    CrashReportWindowController window(content(true, true));
    EXPECT_TRUE(window.privacyPolicyLink()->isEnabled());
    window.showPrivacyPolicy();
    ASSERT_EQ(workspace->requests.size(), 1u);
    EXPECT_EQ(workspace->requests[0].argument, "https://example.com/privacy");

    auto withoutPage = content(true, true);
    withoutPage.privacyPolicyURL = QUrl();
    CrashReportWindowController none(withoutPage);
    EXPECT_FALSE(none.respondsToShowPrivacyPolicy());
    EXPECT_FALSE(none.privacyPolicyLink()->isEnabled());
    none.showPrivacyPolicy();
    EXPECT_EQ(workspace->requests.size(), 1u);
}

TEST_F(CrashReportWindowTest, WithoutSettingsBothRowsUseTheStandardDefaults)
{
    auto standard = UserDefaults::withFile(filePath("config/standard.conf"));
    UserDefaults::setStandard(standard);
    standard->set("CRR_emailAddress", "standard@example.com");
    {
        CrashReportWindowController window;
        EXPECT_TRUE(window.collectEmailSetting().isVisible);
        EXPECT_TRUE(window.sendReportsAutomaticallySetting().isVisible);
        EXPECT_EQ(window.emailAddress(), "standard@example.com");
        window.setSendCrashReportsAutomatically(true);
    }
    EXPECT_TRUE(standard->boolean("CRR_sendCrashLogsAutomatically"));
    UserDefaults::setStandard(nullptr);
}
