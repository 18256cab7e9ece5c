#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace corvane {

class UserDefaults;

// Whatever sends a crash log on the user's behalf.
class SendsCrashLog {
public:
    virtual ~SendsCrashLog() = default;
    virtual void sendCrashLog(const std::optional<QString> &emailAddress,
                              const QString &crashLogText) = 0;
};

// The e-mail row: shown or not, and where the address is kept. Without a
// store the standard user defaults are used.
struct EmailAddressSetting {
    bool isVisible = true;
    std::shared_ptr<UserDefaults> userDefaults;
    QString emailAddressKey = "CRR_emailAddress";
};

// The send-automatically row: shown or not, and where the choice is kept.
struct SendReportsAutomaticallySetting {
    bool isVisible = true;
    std::shared_ptr<UserDefaults> userDefaults;
    QString sendCrashLogsAutomaticallyKey = "CRR_sendCrashLogsAutomatically";
};

// What the crash report window shows and who sends from it.
struct CrashReportContent {
    std::optional<QString> crashLogText;
    // Held weakly: the sender owns the window. None disables "Send".
    std::weak_ptr<SendsCrashLog> crashLogSender;
    // Empty: the privacy-policy link is disabled.
    QUrl privacyPolicyURL;
    EmailAddressSetting collectEmailSetting;
    SendReportsAutomaticallySetting sendReportsAutomaticallySetting;
};

// The crash report window as its owner sees it.
class CrashReportWindow {
public:
    using CloseHandler = std::function<void(QWidget *window)>;

    virtual ~CrashReportWindow() = default;
    // Called whenever the window closes, by any answer, Escape or its close button.
    virtual void setOnWindowWillClose(CloseHandler handler) = 0;
    // Shows the window in front, with the keyboard focus.
    virtual void showWindow() = 0;
};

// Shows a crash log and asks whether to send it, optionally with an e-mail
// address, and whether to send future logs without asking. Nothing is sent
// but by "Send".
class CrashReportWindowController : public QDialog, public CrashReportWindow {
    Q_OBJECT

public:
    explicit CrashReportWindowController(CrashReportContent content = {});

    void setOnWindowWillClose(CloseHandler handler) override;
    void showWindow() override;

    std::optional<QString> crashLogText() const { return m_content.crashLogText; }
    QUrl privacyPolicyURL() const { return m_content.privacyPolicyURL; }
    const EmailAddressSetting &collectEmailSetting() const { return m_content.collectEmailSetting; }
    void setCollectEmailSetting(const EmailAddressSetting &setting);
    const SendReportsAutomaticallySetting &sendReportsAutomaticallySetting() const
    {
        return m_content.sendReportsAutomaticallySetting;
    }
    void setSendReportsAutomaticallySetting(const SendReportsAutomaticallySetting &setting);
    bool didSendCrashLog() const { return m_didSendCrashLog; }

    // The stored address, or the empty string; setting stores it at once.
    QString emailAddress() const;
    void setEmailAddress(const QString &address);
    bool sendCrashReportsAutomatically() const;
    void setSendCrashReportsAutomatically(bool sendAutomatically);

    // Sends once (when there is a log and a sender), then closes.
    void sendCrashReport();
    void dontSendCrashReport();
    void showPrivacyPolicy();
    bool respondsToShowPrivacyPolicy() const { return m_content.privacyPolicyURL.isValid(); }

    QPlainTextEdit *textView() const { return m_textView; }
    QWidget *collectEmailContainerView() const { return m_collectEmailContainerView; }
    QLineEdit *emailAddressTextField() const { return m_emailAddressTextField; }
    QWidget *sendAutomaticallyContainerView() const { return m_sendAutomaticallyContainerView; }
    QCheckBox *sendAutomaticallyCheckbox() const { return m_sendAutomaticallyCheckbox; }
    QPushButton *sendCrashLogButton() const { return m_sendCrashLogButton; }
    QPushButton *dontSendButton() const { return m_dontSendButton; }
    QLabel *privacyPolicyLink() const { return m_privacyPolicyLink; }

private:
    void buildWindow();
    void updateEmailRow();
    void updateSendAutomaticallyRow();
    void updateButtons();
    std::shared_ptr<UserDefaults> emailDefaults() const;
    std::shared_ptr<UserDefaults> sendAutomaticallyDefaults() const;

    CrashReportContent m_content;
    CloseHandler m_onWindowWillClose;
    bool m_didSendCrashLog = false;

    QPlainTextEdit *m_textView = nullptr;
    QWidget *m_collectEmailContainerView = nullptr;
    QLabel *m_emailAddressTitleLabel = nullptr;
    QLabel *m_emailAddressLabel = nullptr;
    QLineEdit *m_emailAddressTextField = nullptr;
    QWidget *m_sendAutomaticallyContainerView = nullptr;
    QCheckBox *m_sendAutomaticallyCheckbox = nullptr;
    QLabel *m_sendAutomaticallyLabel = nullptr;
    QPushButton *m_sendCrashLogButton = nullptr;
    QPushButton *m_dontSendButton = nullptr;
    QLabel *m_privacyPolicyLink = nullptr;
};

} // namespace corvane
