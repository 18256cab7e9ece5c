#include "preferences/CrashReportWindowController.h"

#include "platform/Loc.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace corvane {

namespace {

constexpr int kTextInset = 5;

void setRowShown(QWidget *container, std::initializer_list<QWidget *> parts, QWidget *control,
                 bool shown)
{
    for (QWidget *part : parts)
        part->setHidden(!shown);
    control->setHidden(!shown);
    control->setEnabled(shown);
    // A hidden container takes no room in the layout: the row collapses.
    container->setHidden(!shown);
}

std::shared_ptr<UserDefaults> orStandard(const std::shared_ptr<UserDefaults> &defaults)
{
    return defaults ? defaults : UserDefaults::standard();
}

} // namespace

CrashReportWindowController::CrashReportWindowController(CrashReportContent content)
    : m_content(std::move(content))
{
    setObjectName("CrashReporterWindow");
    buildWindow();
    // Every way of closing (an answer, Escape, the close button) ends in done().
    connect(this, &QDialog::finished, this, [this] {
        if (m_onWindowWillClose)
            m_onWindowWillClose(this);
    });
}

void CrashReportWindowController::buildWindow()
{
    setWindowTitle(loc("Crash Report", "CRASH_REPORT_WINDOW_TITLE"));
    auto *layout = new QVBoxLayout(this);

    auto *title = new QLabel(loc("Corvane quit unexpectedly.", "CRASH_REPORT_TITLE_LABEL"));
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    title->setFont(titleFont);
    layout->addWidget(title);
    auto *message = new QLabel(loc("A report of what went wrong was found. Sending it helps to "
                                   "fix the problem. Nothing is sent unless you choose so.",
                                   "CRASH_REPORT_MESSAGE_LABEL"));
    message->setWordWrap(true);
    layout->addWidget(message);

    m_textView = new QPlainTextEdit;
    m_textView->setReadOnly(true);
    m_textView->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The platform's fixed font can resolve to a proportional face where no
    // monospaced font is configured; ask for one explicitly as well.
    QFont fixedFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixedFont.setStyleHint(QFont::TypeWriter);
    fixedFont.setFixedPitch(true);
    m_textView->setFont(fixedFont);
    m_textView->document()->setDocumentMargin(kTextInset);
    m_textView->setPlainText(m_content.crashLogText.value_or(QString()));
    layout->addWidget(m_textView, 1);

    m_collectEmailContainerView = new QWidget;
    auto *emailLayout = new QGridLayout(m_collectEmailContainerView);
    emailLayout->setContentsMargins(0, 0, 0, 0);
    m_emailAddressTitleLabel = new QLabel(loc("Email address:", "CRASH_REPORT_EMAIL_ITEM_LABEL"));
    m_emailAddressTextField = new QLineEdit;
    m_emailAddressTextField->setPlaceholderText(
        loc("Optional", "CRASH_REPORT_EMAIL_PLACEHOLDER_ITEM_LABEL"));
    m_emailAddressTitleLabel->setBuddy(m_emailAddressTextField);
    m_emailAddressLabel = new QLabel(
        loc("Only used to ask you about this crash.", "CRASH_REPORT_EMAIL_NOTE_ITEM_LABEL"));
    m_emailAddressLabel->setEnabled(false);
    emailLayout->addWidget(m_emailAddressTitleLabel, 0, 0);
    emailLayout->addWidget(m_emailAddressTextField, 0, 1);
    emailLayout->addWidget(m_emailAddressLabel, 1, 1);
    layout->addWidget(m_collectEmailContainerView);
    connect(m_emailAddressTextField, &QLineEdit::textEdited, this,
            [this](const QString &text) { setEmailAddress(text); });

    m_sendAutomaticallyContainerView = new QWidget;
    auto *automaticLayout = new QHBoxLayout(m_sendAutomaticallyContainerView);
    automaticLayout->setContentsMargins(0, 0, 0, 0);
    m_sendAutomaticallyCheckbox = new QCheckBox;
    m_sendAutomaticallyLabel = new QLabel(
        loc("Send crash reports automatically", "CRASH_REPORT_SEND_AUTOMATICALLY_ITEM_LABEL"));
    m_sendAutomaticallyLabel->setBuddy(m_sendAutomaticallyCheckbox);
    automaticLayout->addWidget(m_sendAutomaticallyCheckbox);
    automaticLayout->addWidget(m_sendAutomaticallyLabel, 1);
    layout->addWidget(m_sendAutomaticallyContainerView);
    // Only the user's click writes the choice.
    connect(m_sendAutomaticallyCheckbox, &QCheckBox::clicked, this,
            [this](bool checked) { setSendCrashReportsAutomatically(checked); });

    auto *buttons = new QHBoxLayout;
    m_privacyPolicyLink = new QLabel(
        QStringLiteral("<a href=\"privacy\">%1</a>")
            .arg(loc("Privacy Policy", "CRASH_REPORT_PRIVACY_ITEM_TITLE").toHtmlEscaped()));
    m_privacyPolicyLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                                 Qt::LinksAccessibleByKeyboard);
    m_privacyPolicyLink->setEnabled(respondsToShowPrivacyPolicy());
    connect(m_privacyPolicyLink, &QLabel::linkActivated, this, [this] { showPrivacyPolicy(); });
    buttons->addWidget(m_privacyPolicyLink);
    buttons->addStretch(1);
    m_dontSendButton = new QPushButton(loc("Don't Send", "CRASH_REPORT_DONT_SEND_ITEM_TITLE"));
    m_sendCrashLogButton = new QPushButton(loc("Send", "CRASH_REPORT_SEND_ITEM_TITLE"));
    // No default button: Return in the window must not send the report.
    for (QPushButton *button : {m_dontSendButton, m_sendCrashLogButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
        buttons->addWidget(button);
    }
    connect(m_dontSendButton, &QPushButton::clicked, this, [this] { dontSendCrashReport(); });
    connect(m_sendCrashLogButton, &QPushButton::clicked, this, [this] { sendCrashReport(); });
    layout->addLayout(buttons);

    resize(640, 480);
    updateEmailRow();
    updateSendAutomaticallyRow();
    updateButtons();
}

void CrashReportWindowController::setOnWindowWillClose(CloseHandler handler)
{
    m_onWindowWillClose = std::move(handler);
}

void CrashReportWindowController::showWindow()
{
    if (!isVisible()) {
        if (QScreen *screen = this->screen()) {
            QRect frame = geometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    show();
    raise();
    activateWindow();
    m_textView->setFocus();
}

void CrashReportWindowController::setCollectEmailSetting(const EmailAddressSetting &setting)
{
    m_content.collectEmailSetting = setting;
    updateEmailRow();
}

void CrashReportWindowController::setSendReportsAutomaticallySetting(
    const SendReportsAutomaticallySetting &setting)
{
    m_content.sendReportsAutomaticallySetting = setting;
    updateSendAutomaticallyRow();
}

std::shared_ptr<UserDefaults> CrashReportWindowController::emailDefaults() const
{
    return orStandard(m_content.collectEmailSetting.userDefaults);
}

std::shared_ptr<UserDefaults> CrashReportWindowController::sendAutomaticallyDefaults() const
{
    return orStandard(m_content.sendReportsAutomaticallySetting.userDefaults);
}

QString CrashReportWindowController::emailAddress() const
{
    return emailDefaults()
        ->string(m_content.collectEmailSetting.emailAddressKey)
        .value_or(QString());
}

void CrashReportWindowController::setEmailAddress(const QString &address)
{
    emailDefaults()->set(m_content.collectEmailSetting.emailAddressKey, address);
    updateEmailRow();
}

bool CrashReportWindowController::sendCrashReportsAutomatically() const
{
    return sendAutomaticallyDefaults()->boolean(
        m_content.sendReportsAutomaticallySetting.sendCrashLogsAutomaticallyKey);
}

void CrashReportWindowController::setSendCrashReportsAutomatically(bool sendAutomatically)
{
    sendAutomaticallyDefaults()->set(
        m_content.sendReportsAutomaticallySetting.sendCrashLogsAutomaticallyKey, sendAutomatically);
    updateSendAutomaticallyRow();
}

void CrashReportWindowController::updateEmailRow()
{
    const bool shown = m_content.collectEmailSetting.isVisible;
    setRowShown(m_collectEmailContainerView, {m_emailAddressTitleLabel, m_emailAddressLabel},
                m_emailAddressTextField, shown);
    if (!shown)
        return;
    // Leave the field alone while it already shows the address (keeps the cursor).
    const QString address = emailAddress();
    if (m_emailAddressTextField->text() != address)
        m_emailAddressTextField->setText(address);
}

void CrashReportWindowController::updateSendAutomaticallyRow()
{
    const bool shown = m_content.sendReportsAutomaticallySetting.isVisible;
    setRowShown(m_sendAutomaticallyContainerView, {m_sendAutomaticallyLabel},
                m_sendAutomaticallyCheckbox, shown);
    if (shown)
        m_sendAutomaticallyCheckbox->setChecked(sendCrashReportsAutomatically());
}

void CrashReportWindowController::updateButtons()
{
    m_sendCrashLogButton->setEnabled(!m_content.crashLogSender.expired() && !m_didSendCrashLog);
    m_dontSendButton->setEnabled(!m_didSendCrashLog);
}

void CrashReportWindowController::sendCrashReport()
{
    if (m_didSendCrashLog)
        return;
    // Set first: a handler run while closing must not send again.
    m_didSendCrashLog = true;
    auto sender = m_content.crashLogSender.lock();
    if (m_content.crashLogText && sender) {
        std::optional<QString> address;
        if (m_content.collectEmailSetting.isVisible)
            address = emailAddress();
        sender->sendCrashLog(address, *m_content.crashLogText);
    }
    updateButtons();
    accept();
}

void CrashReportWindowController::dontSendCrashReport()
{
    reject();
}

void CrashReportWindowController::showPrivacyPolicy()
{
    if (respondsToShowPrivacyPolicy())
        Workspace::shared()->openUrl(m_content.privacyPolicyURL);
}

} // namespace corvane
