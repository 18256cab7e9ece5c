#include "preferences/CrashReporter.h"

#include "platform/Log.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"
#include "preferences/CrashLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <vector>

namespace corvane {

namespace {

double secondsSince1970(const QDateTime &date)
{
    return double(date.toMSecsSinceEpoch()) / 1000.0;
}

// Released later on the main loop: the window may be closing from one of
// its own handlers when its owner lets it go.
std::shared_ptr<CrashReportWindow> makeRealWindow(CrashReportContent content)
{
    auto *window = new CrashReportWindowController(std::move(content));
    return std::shared_ptr<CrashReportWindowController>(
        window, [](CrashReportWindowController *controller) { controller->deleteLater(); });
}

} // namespace

CrashReporter::CrashReporter(QUrl crashReporterURL, QUrl privacyPolicyURL,
                             std::shared_ptr<UserDefaults> userDefaults, DefaultsKeys defaultsKeys)
    : m_crashReporterURL(std::move(crashReporterURL)),
      m_privacyPolicyURL(std::move(privacyPolicyURL)), m_userDefaults(std::move(userDefaults)),
      m_defaultsKeys(std::move(defaultsKeys)), m_windowFactory(makeRealWindow)
{
}

CrashReporter::~CrashReporter() = default;

bool CrashReporter::canSend() const
{
    const QString scheme = m_crashReporterURL.scheme();
    return m_crashReporterURL.isValid() && !m_crashReporterURL.host().isEmpty() &&
           (scheme == "http" || scheme == "https");
}

QString CrashReporter::crashReportFolderURL()
{
    if (!m_crashReportFolderURL)
        m_crashReportFolderURL = SystemPaths::current().home + "/Library/Logs/DiagnosticReports";
    return *m_crashReportFolderURL;
}

std::optional<CrashReporter::CrashInfo>
CrashReporter::findNewestNewCrashLog(const QString &programName)
{
    const QDir folder(crashReportFolderURL());
    if (!folder.exists())
        return std::nullopt;
    // In name order, so that of two logs with one date the same one wins every time.
    const QStringList names =
        folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    const QString prefix = programName.toLower();
    const double lastSeen =
        m_userDefaults->doubleValue(m_defaultsKeys.lastSeenCrashLogTimeSince1970Key).value_or(0);

    std::optional<CrashInfo> newest;
    for (const QString &name : names) {
        if (!name.toLower().startsWith(prefix) || !name.endsWith(".crash"))
            continue;
        const QString path = folder.filePath(name);
        const QFileInfo info(path);
        const QDateTime date = info.lastModified();
        if (!date.isValid() || secondsSince1970(date) <= lastSeen)
            continue;
        // A named pipe would hold the reading for ever, a huge file fill
        // the memory: neither is a crash log. One already seen is not
        // reported again at each check.
        if (!info.isFile() || info.size() > CrashLog::maxBytes) {
            Log::general().error(
                "%{PUBLIC}@", RegularFile::describe(info.isFile() ? RegularFile::Error::tooLarge
                                                                  : RegularFile::Error::notRegular,
                                                    path, CrashLog::maxBytes));
            continue;
        }
        if (!newest || date >= newest->date)
            newest = CrashInfo{path, date};
    }
    return newest;
}

void CrashReporter::checkForNewCrashLog(bool collectEmailAddress, bool hideSendAutomatically)
{
    const QString programName = QCoreApplication::applicationName();
    if (programName.isEmpty())
        return;
    const auto found = findNewestNewCrashLog(programName);
    if (!found)
        return;
    const auto log = CrashLog::make(found->url, found->date);
    if (!log)
        return;
    if (m_userDefaults->string(m_defaultsKeys.lastSeenCrashLogMD5Key) == log->contentHash)
        return;

    // From here on the log is handled, whatever the user answers.
    m_userDefaults->set(m_defaultsKeys.lastSeenCrashLogMD5Key, log->contentHash);
    m_userDefaults->set(m_defaultsKeys.lastSeenCrashLogTimeSince1970Key,
                        secondsSince1970(log->modificationDate));

    if (canSend() && !hideSendAutomatically &&
        m_userDefaults->boolean(m_defaultsKeys.sendCrashLogsAutomaticallyKey)) {
        std::optional<QString> address;
        if (collectEmailAddress)
            address = m_userDefaults->string(m_defaultsKeys.emailAddressKey);
        sendCrashLog(address, log->content);
        return;
    }
    showWindow(log->content, collectEmailAddress, hideSendAutomatically);
}

void CrashReporter::showWindow(const QString &crashLogText, bool collectEmailAddress,
                               bool hideSendAutomatically)
{
    CrashReportContent content;
    content.crashLogText = crashLogText;
    if (canSend())
        content.crashLogSender = weak_from_this();
    if (m_privacyPolicyURL.isValid())
        content.privacyPolicyURL = m_privacyPolicyURL;
    content.collectEmailSetting = {collectEmailAddress, m_userDefaults,
                                   m_defaultsKeys.emailAddressKey};
    content.sendReportsAutomaticallySetting = {!hideSendAutomatically, m_userDefaults,
                                               m_defaultsKeys.sendCrashLogsAutomaticallyKey};

    auto window = m_windowFactory(std::move(content));
    if (!window)
        return;
    m_crashReportWindowController = window;
    // Only this window's closing lets go of it, not that of one it replaced.
    window->setOnWindowWillClose(
        [weak = weak_from_this(), shown = std::weak_ptr<CrashReportWindow>(window)](QWidget *) {
            auto reporter = weak.lock();
            if (reporter && reporter->m_crashReportWindowController == shown.lock())
                reporter->m_crashReportWindowController.reset();
        });
    window->showWindow();
}

void CrashReporter::sendCrashLog(const std::optional<QString> &emailAddress,
                                 const QString &crashLogText)
{
    if (!canSend())
        return;
    auto manager = m_downloadManager ? m_downloadManager : OneShotDownloadManager::shared();
    // Failures are not reported: the log counts as handled all the same.
    manager->start(makeUpload(m_crashReporterURL, emailAddress, crashLogText),
                   [](const QByteArray &, int, const std::optional<QString> &) {});
}

UrlRequest CrashReporter::makeUpload(const QUrl &url, const std::optional<QString> &emailAddress,
                                     const QString &crashLogText)
{
    const QString boundary = md5Text(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());

    const std::pair<QString, std::optional<QString>> fields[] = {
        {"userEmail", emailAddress},
        {"crashlog", crashLogText},
    };
    QStringList parts;
    for (const auto &[name, value] : fields) {
        if (!value || value->isEmpty())
            continue;
        parts << "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + *value + "\r\n";
    }
    const QString opening = "--" + boundary + "\r\n";
    const QString text = opening + parts.join(opening) + "\r\n" + "--" + boundary + "--" + "\r\n";

    UrlRequest upload;
    upload.request.setUrl(url);
    upload.request.setTransferTimeout(uploadTimeoutMs);
    upload.maximumReplySize = uploadReplyLimit;
    upload.deadline = uploadDeadline;
    upload.request.setHeader(QNetworkRequest::ContentTypeHeader,
                             "multipart/form-data; boundary=" + boundary);
    upload.method = "POST";
    // Lone surrogates become replacement characters rather than failing.
    upload.body = text.toUtf8();
    return upload;
}

} // namespace corvane
