#pragma once

#include "common/TestSupport.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"
#include "preferences/CrashReporter.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <vector>

namespace corvane::test {

// Records what the reporter would show, and closes like the real window.
class FakeCrashWindow : public CrashReportWindow {
public:
    explicit FakeCrashWindow(CrashReportContent content) : content(std::move(content)) {}
    void setOnWindowWillClose(CloseHandler handler) override { onClose = std::move(handler); }
    void showWindow() override { ++shows; }
    void close()
    {
        if (onClose)
            onClose(nullptr);
    }

    CrashReportContent content;
    CloseHandler onClose;
    int shows = 0;
};

// Keeps what it is asked to send instead of uploading it.
class RecordingReporter : public CrashReporter {
public:
    using CrashReporter::CrashReporter;

    struct Sent {
        std::optional<QString> emailAddress;
        QString text;
    };
    void sendCrashLog(const std::optional<QString> &emailAddress, const QString &text) override
    {
        sent.push_back({emailAddress, text});
    }
    std::vector<Sent> sent;
};

// Windows the reporter let go of are deleted from the event loop; a test's
// loop runs no deferred deletions by itself.
inline void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A temporary home and defaults file, the program named "Corvane", and a
// workspace that opens nothing.
class CrashReporterTestBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        auto paths = SystemPaths::current();
        paths.home = m_dir.filePath("home");
        paths.configDir = m_dir.filePath("config");
        SystemPaths::setCurrent(paths);
        m_applicationName = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName("Corvane");
        defaults = UserDefaults::withFile(m_dir.filePath("config/crash.conf"));
        workspace = std::make_shared<RecordingWorkspace>();
        Workspace::setShared(workspace);
    }

    void TearDown() override
    {
        flushDeferredDeletes();
        Workspace::setShared(nullptr);
        QCoreApplication::setApplicationName(m_applicationName);
        SystemPaths::resetToEnvironment();
    }

    QString reportsFolder() const { return m_dir.filePath("home/Library/Logs/DiagnosticReports"); }

    // Writes a log into the reports folder with the given modification time.
    QString writeLog(const QString &name, const QByteArray &bytes, const QDateTime &modified)
    {
        const QString path = reportsFolder() + "/" + name;
        EXPECT_TRUE(writeFile(path, bytes));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite));
        EXPECT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
        return path;
    }

    QString filePath(const QString &relative) const { return m_dir.filePath(relative); }

    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<RecordingWorkspace> workspace;

private:
    QTemporaryDir m_dir;
    QString m_applicationName;
};

inline void sendKey(QWidget *widget, int key, const QString &text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

// Types the text into the widget one key at a time, as a user would.
inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        sendKey(widget, 0, QString(c));
}

} // namespace corvane::test
