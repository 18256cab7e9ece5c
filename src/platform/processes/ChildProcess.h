#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/types.h>

namespace corvane {

// A child process that could not be started.
class LaunchError : public std::runtime_error {
public:
    LaunchError(const QString &description, int errorNumber)
        : std::runtime_error(description.toStdString()), m_description(description),
          m_errorNumber(errorNumber)
    {
    }

    QString description() const { return m_description; }
    int errorNumber() const { return m_errorNumber; }

private:
    QString m_description;
    int m_errorNumber;
};

// One child process on posix_spawn, usable from any thread. Each child is
// reaped by its own pid on a waiter thread, which also runs the termination
// handler; destroying the object neither stops nor orphans the child.
//
// The child leads a process group of its own, and the signals below go to
// that group, its children included, as long as the child has not been
// reaped. A child ended by kill() or terminate() takes the rest of its group
// along when it exits; a child that ends by itself leaves its children be.
class ChildProcess {
public:
    enum class Channel { Inherit, Pipe };
    enum class TerminationReason { Exit, UncaughtSignal };

    struct Termination {
        TerminationReason reason = TerminationReason::Exit;
        // The exit status, or the number of the signal that ended the child.
        int status = 0;
    };

    struct CollectedOutput {
        QByteArray standardOutput;
        QByteArray standardError;
        // False when the deadline passed before the child ended.
        bool finished = false;
    };

    using TerminationHandler = std::function<void(const Termination &)>;
    using Clock = std::chrono::steady_clock;
    using MainThreadLaunchHandler =
        std::function<void(const QString &path, const QStringList &arguments)>;

    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Configuration; takes effect at launch.
    void setExecutablePath(const QString &path);
    QString executablePath() const;
    void setArguments(const QStringList &arguments);
    QStringList arguments() const;
    void setWorkingDirectory(const QString &path);
    // Added to (or replacing entries of) the inherited environment.
    void setEnvironmentAdditions(const QMap<QString, QString> &additions);
    void setStandardOutput(Channel channel);
    void setStandardError(Channel channel);
    void setTerminationHandler(TerminationHandler handler);

    // Throws LaunchError; a process launches at most once.
    void launch();

    // Tools never start on the main thread, where menus would wait for them.
    // A launch there is reported to this handler before it goes on: test
    // suites fail the test; without a handler it is logged as a fault.
    static void setMainThreadLaunchHandler(MainThreadLaunchHandler handler);

    bool isLaunched() const;
    bool isRunning() const;
    pid_t processIdentifier() const;
    std::optional<Termination> termination() const;

    // Sends SIGINT to the group while the child has not been reaped.
    void interrupt();
    // Sends SIGKILL to the group while the child has not been reaped: for a
    // tool that is late and no longer waited for.
    void kill();
    // Sends SIGTERM to the group, then SIGKILL when the child has not ended
    // within the grace; returns once it has been reaped (or after a second
    // grace).
    void terminate(std::chrono::milliseconds grace);

    // False when the timeout passed first.
    bool waitUntilExit(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    // Waits, reading nothing, until the standard-error pipe has something to
    // read or is closed; false when the deadline passed first or it is no pipe.
    bool waitForStandardError(Clock::time_point deadline);

    // Blocks until the child closes the pipe (or nothing when not piped).
    QByteArray readAllStandardOutput();
    QByteArray readAllStandardError();

    // Reads both pipes at once until the child has ended and its output is
    // drained, or until the deadline. Output still held open by a descendant
    // after the child ended is not waited for.
    CollectedOutput collectOutput(Clock::time_point deadline);

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace corvane
