#pragma once

#include "preferences/CrashReportWindowController.h"
#include "preferences/OneShotDownloadManager.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace corvane {

class UserDefaults;

// Names of the four user-defaults keys the crash reporter keeps its state in.
struct CrashReporterDefaultsKeys {
    QString emailAddressKey = "CRR_emailAddress";
    QString sendCrashLogsAutomaticallyKey = "CRR_sendCrashLogsAutomatically";
    QString lastSeenCrashLogTimeSince1970Key = "CRR_lastSeenCrashLogTimeSince1970";
    QString lastSeenCrashLogMD5Key = "CRR_lastSeenCrashLogMD5";
};

// Finds the newest crash log of this program written since the last check,
// never offers one log twice, and sends it at once when the user chose so
// before, else shows it in the crash report window. Used on the main thread.
class CrashReporter : public SendsCrashLog, public std::enable_shared_from_this<CrashReporter> {
public:
    using DefaultsKeys = CrashReporterDefaultsKeys;

    // One candidate file of the search.
    struct CrashInfo {
        QString url;
        QDateTime date;
    };

    using WindowFactory = std::function<std::shared_ptr<CrashReportWindow>(CrashReportContent)>;

    static constexpr int uploadTimeoutMs = 60000;
    // The upload's reply is never read; these only keep a server from
    // holding it.
    static constexpr qint64 uploadReplyLimit = qint64(1) << 20;
    static constexpr std::chrono::minutes uploadDeadline{2};

    // Without a valid http(s) endpoint nothing is ever sent; without a
    // privacy page the window's link is disabled.
    CrashReporter(QUrl crashReporterURL, QUrl privacyPolicyURL,
                  std::shared_ptr<UserDefaults> userDefaults, DefaultsKeys defaultsKeys = {});
    ~CrashReporter() override;

    QUrl crashReporterURL() const { return m_crashReporterURL; }
    QUrl privacyPolicyURL() const { return m_privacyPolicyURL; }
    const DefaultsKeys &defaultsKeys() const { return m_defaultsKeys; }
    bool canSend() const;

    // "<home>/Library/Logs/DiagnosticReports", worked out on first use.
    QString crashReportFolderURL();

    // Looks for a new log of the program named by the application name.
    void checkForNewCrashLog(bool collectEmailAddress, bool hideSendAutomatically);
    // The newest log of the program whose date is later than the stored one.
    std::optional<CrashInfo> findNewestNewCrashLog(const QString &programName);

    void sendCrashLog(const std::optional<QString> &emailAddress,
                      const QString &crashLogText) override;
    // The multipart POST that carries a log, with a fresh boundary.
    static UrlRequest makeUpload(const QUrl &url, const std::optional<QString> &emailAddress,
                                 const QString &crashLogText);

    // The window on screen, until it closes.
    std::shared_ptr<CrashReportWindow> crashReportWindowController() const
    {
        return m_crashReportWindowController;
    }

    // The window is made by this factory (the real window by default).
    void setWindowFactory(WindowFactory factory) { m_windowFactory = std::move(factory); }
    // Uploads go through this manager (the shared one by default).
    void setDownloadManager(std::shared_ptr<OneShotDownloadManager> manager)
    {
        m_downloadManager = std::move(manager);
    }

private:
    void showWindow(const QString &crashLogText, bool collectEmailAddress,
                    bool hideSendAutomatically);

    const QUrl m_crashReporterURL;
    const QUrl m_privacyPolicyURL;
    const std::shared_ptr<UserDefaults> m_userDefaults;
    const DefaultsKeys m_defaultsKeys;
    std::optional<QString> m_crashReportFolderURL;
    std::shared_ptr<CrashReportWindow> m_crashReportWindowController;
    WindowFactory m_windowFactory;
    std::shared_ptr<OneShotDownloadManager> m_downloadManager;
};

} // namespace corvane
