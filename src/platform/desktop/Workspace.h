#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// The desktop's view of running programs and files. The operations that
// open things go through the shared instance, so tests can record them.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Executable paths of the running processes in pid order: each one's
    // /proc/<pid>/exe, and its argv[0] too when that is an absolute path.
    static QStringList runningExecutablePaths();

    // Opens a URL (web address or file) with the desktop's default handler.
    // These three tell the user in an alert when the desktop cannot do it
    // (no browser, no file manager), and return false.
    virtual bool openUrl(const QUrl &url);
    // Starts an application bundle: on Linux its Contents/MacOS executable
    // (the one its Info.plist names, else the bundle's own name).
    virtual bool openApplication(const QString &bundlePath);
    // Shows the file selected in the file manager; without one that can
    // select, opens the folder that holds it.
    virtual bool revealFile(const QString &path);
    // Shows a folder in the file manager.
    virtual bool showFolder(const QString &path);
    // Brings the program's windows to the front.
    virtual void activateIgnoringOtherApps();
    // Brings the Simulator application to the front; the error text when it
    // would not come. Linux has no Simulator application, so nothing happens.
    virtual std::optional<QString> activateSimulator();
    // Adds a file the user opened to the desktop's recently used files.
    // Any thread.
    virtual void noteRecentDocument(const QUrl &url);

    // Asks every process that runs the executable to quit (SIGTERM); false
    // when none runs it.
    virtual bool terminateApplication(const QString &executablePath);
    // Whether a process runs the executable: one whose /proc/<pid>/exe, or
    // absolute argv[0], is that path. A process that has ended, or has
    // replaced its image with another program, no longer counts.
    virtual bool isApplicationRunning(const QString &executablePath);

    // The executable an application bundle starts, or empty.
    static QString bundleExecutable(const QString &bundlePath);

    static std::shared_ptr<Workspace> shared();
    static void setShared(std::shared_ptr<Workspace> workspace);
};

// A running application, known by its executable; asks the shared
// workspace.
class RunningApplication {
public:
    explicit RunningApplication(QString executablePath)
        : m_executablePath(std::move(executablePath))
    {
    }

    QString executablePath() const { return m_executablePath; }
    // Asks it to quit; it may take its time, or refuse.
    bool terminate() const;
    bool isTerminated() const;

    bool operator==(const RunningApplication &) const = default;

private:
    QString m_executablePath;
};

// Records every request and opens nothing.
class RecordingWorkspace : public Workspace {
public:
    struct Request {
        QString operation;
        QString argument;
        bool operator==(const Request &) const = default;
    };

    bool openUrl(const QUrl &url) override;
    bool openApplication(const QString &bundlePath) override;
    bool revealFile(const QString &path) override;
    bool showFolder(const QString &path) override;
    void activateIgnoringOtherApps() override;
    std::optional<QString> activateSimulator() override;
    void noteRecentDocument(const QUrl &url) override;
    // Recorded; nothing runs in a recording world.
    bool terminateApplication(const QString &executablePath) override;
    bool isApplicationRunning(const QString &executablePath) override;

    std::vector<Request> requests;
    bool answer = true;
    // What activateSimulator answers.
    std::optional<QString> simulatorError;
};

} // namespace corvane
