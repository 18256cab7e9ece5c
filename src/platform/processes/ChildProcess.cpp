#include "platform/processes/ChildProcess.h"

#include "platform/queues/DispatchQueue.h"
#include "platform/Log.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace corvane {

struct ChildProcess::State {
    mutable std::mutex mutex;
    std::condition_variable changed;

    QString executablePath;
    QStringList arguments;
    std::optional<QString> workingDirectory;
    QMap<QString, QString> environmentAdditions;
    Channel standardOutput = Channel::Inherit;
    Channel standardError = Channel::Inherit;
    TerminationHandler terminationHandler;

    bool launched = false;
    bool launchFailed = false;
    pid_t pid = -1;
    bool reaped = false;
    // Set once the child has been ended from here: whatever is left of its
    // group when it exits is killed before it is reaped.
    bool endGroupAtExit = false;
    std::optional<Termination> termination;

    // Parent's read ends of the pipes, and an eventfd that becomes readable
    // once the child is reaped.
    int outputFd = -1;
    int errorFd = -1;
    int endedFd = -1;

    ~State()
    {
        for (int fd : {outputFd, errorFd, endedFd})
            if (fd >= 0)
                ::close(fd);
    }
};

namespace {

using State = ChildProcess::State;

// A child leads a process group of its own, whose id is its pid, so that
// its children are signalled with it. The group is signalled only while the
// leader has not been reaped: until then its pid, and so the group's id, is
// still taken, and cannot name a group of someone else. After the reap the
// id may be free (once the group is empty) and be given out again, so what a
// child that ended by itself left running is not signalled from here.
// Requires the state's lock, under which the waiter reaps.
void signalGroup(State &state, int signal)
{
    if (state.pid > 0 && !state.reaped)
        ::kill(-state.pid, signal);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Appends what can be read now (stopping at the deadline, against a writer
// that never pauses); false once the writer side is closed.
bool readAvailable(
    int fd, QByteArray &into,
    ChildProcess::Clock::time_point deadline = ChildProcess::Clock::time_point::max())
{
    // Read straight into the buffer's spare room, doubling it when full, so
    // that large output is copied once (by the kernel) and never regrown
    // chunk by chunk.
    constexpr qsizetype kMinimumRoom = 65536;
    for (;;) {
        if (ChildProcess::Clock::now() >= deadline)
            return true;
        const qsizetype used = into.size();
        if (into.capacity() - used < kMinimumRoom)
            into.reserve(std::max(used * 2, used + kMinimumRoom));
        const qsizetype room = into.capacity() - used;
        into.resize(used + room);
        const ssize_t count = ::read(fd, into.data() + used, std::size_t(room));
        into.resize(used + std::max<ssize_t>(count, 0));
        if (count > 0)
            continue;
        if (count == 0)
            return false;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

void reap(const std::shared_ptr<State> &state)
{
    pid_t pid;
    {
        std::unique_lock lock(state->mutex);
        state->changed.wait(lock, [&] { return state->pid > 0 || state->launchFailed; });
        if (state->launchFailed)
            return;
        pid = state->pid;
    }

    // Wait without reaping first, so interrupt() can never signal a reused
    // pid: the zombie keeps the pid taken until the reap below, under the lock.
    siginfo_t info{};
    while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) == -1 && errno == EINTR) {
    }

    ChildProcess::Termination termination;
    ChildProcess::TerminationHandler handler;
    {
        std::lock_guard lock(state->mutex);
        // The last moment the group can be named safely: a child ended from
        // here takes the rest of its group along, also members that outlived
        // or ignored the signal that ended it.
        if (state->endGroupAtExit)
            ::kill(-pid, SIGKILL);
        int status = 0;
        pid_t result;
        while ((result = ::waitpid(pid, &status, 0)) == -1 && errno == EINTR) {
        }
        if (result == pid && WIFSIGNALED(status)) {
            termination.reason = ChildProcess::TerminationReason::UncaughtSignal;
            termination.status = WTERMSIG(status);
        } else {
            termination.status = result == pid ? WEXITSTATUS(status) : -1;
        }
        state->reaped = true;
        state->termination = termination;
        // Moved out, so a handler that holds its own process makes no cycle.
        handler = std::move(state->terminationHandler);
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(state->endedFd, &one, sizeof one);
    }
    state->changed.notify_all();
    if (handler)
        handler(termination);
}

QString launchFailureDescription(const QString &path, int error)
{
    if (error == ENOENT && !QFileInfo::exists(path))
        return QStringLiteral("The file “%1” doesn’t exist.").arg(path);
    return QStringLiteral("Could not launch “%1”: %2")
        .arg(path, QString::fromLocal8Bit(strerror(error)));
}

struct SpawnResources {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int pipes[2][2] = {{-1, -1}, {-1, -1}};

    SpawnResources()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnResources()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        for (auto &pipe : pipes)
            for (int &fd : pipe)
                closeFd(fd);
    }
};

std::vector<QByteArray> environmentFor(const QMap<QString, QString> &additions)
{
    std::vector<QByteArray> result;
    for (char **entry = environ; entry && *entry; ++entry) {
        const QByteArray item(*entry);
        const qsizetype equals = item.indexOf('=');
        const QString name = QString::fromLocal8Bit(equals < 0 ? item : item.left(equals));
        if (!additions.contains(name))
            result.push_back(item);
    }
    for (auto it = additions.begin(); it != additions.end(); ++it)
        result.push_back((it.key() + '=' + it.value()).toLocal8Bit());
    return result;
}

std::mutex g_launchHandlerMutex;
ChildProcess::MainThreadLaunchHandler g_launchHandler;

void reportMainThreadLaunch(const QString &path, const QStringList &arguments)
{
    ChildProcess::MainThreadLaunchHandler handler;
    {
        std::lock_guard lock(g_launchHandlerMutex);
        handler = g_launchHandler;
    }
    if (handler)
        handler(path, arguments);
    else
        Log::process().fault("%{PUBLIC}@ %{PUBLIC}@ was started on the main thread", path,
                             arguments.join(' '));
}

} // namespace

void ChildProcess::setMainThreadLaunchHandler(MainThreadLaunchHandler handler)
{
    std::lock_guard lock(g_launchHandlerMutex);
    g_launchHandler = std::move(handler);
}

ChildProcess::ChildProcess() : m_state(std::make_shared<State>())
{
}

ChildProcess::~ChildProcess()
{
    // The waiter keeps the state; closing our read ends here keeps a chatty
    // child from blocking on a pipe nobody reads any more.
    std::lock_guard lock(m_state->mutex);
    closeFd(m_state->outputFd);
    closeFd(m_state->errorFd);
}

void ChildProcess::setExecutablePath(const QString &path)
{
    std::lock_guard lock(m_state->mutex);
    m_state->executablePath = path;
}

QString ChildProcess::executablePath() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->executablePath;
}

void ChildProcess::setArguments(const QStringList &arguments)
{
    std::lock_guard lock(m_state->mutex);
    m_state->arguments = arguments;
}

QStringList ChildProcess::arguments() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->arguments;
}

void ChildProcess::setWorkingDirectory(const QString &path)
{
    std::lock_guard lock(m_state->mutex);
    m_state->workingDirectory = path;
}

void ChildProcess::setEnvironmentAdditions(const QMap<QString, QString> &additions)
{
    std::lock_guard lock(m_state->mutex);
    m_state->environmentAdditions = additions;
}

void ChildProcess::setStandardOutput(Channel channel)
{
    std::lock_guard lock(m_state->mutex);
    m_state->standardOutput = channel;
}

void ChildProcess::setStandardError(Channel channel)
{
    std::lock_guard lock(m_state->mutex);
    m_state->standardError = channel;
}

void ChildProcess::setTerminationHandler(TerminationHandler handler)
{
    std::lock_guard lock(m_state->mutex);
    m_state->terminationHandler = std::move(handler);
}

void ChildProcess::launch()
{
    if (DispatchQueue::isMainThread())
        reportMainThreadLaunch(executablePath(), arguments());
    std::unique_lock lock(m_state->mutex);
    auto &state = *m_state;
    if (state.launched)
        throw LaunchError(
            QStringLiteral("The process “%1” was already launched.").arg(state.executablePath),
            EINVAL);
    const QString path = state.executablePath;
    if (path.isEmpty())
        throw LaunchError(QStringLiteral("No executable path was given."), EINVAL);

    SpawnResources spawn;
    const Channel channels[2] = {state.standardOutput, state.standardError};
    for (int i = 0; i < 2; ++i) {
        if (channels[i] != Channel::Pipe)
            continue;
        if (::pipe2(spawn.pipes[i], O_CLOEXEC) == -1) {
            const int error = errno;
            throw LaunchError(launchFailureDescription(path, error), error);
        }
        ::fcntl(spawn.pipes[i][0], F_SETFL, ::fcntl(spawn.pipes[i][0], F_GETFL) | O_NONBLOCK);
        // dup2 clears close-on-exec on the copy only; the originals close at exec.
        posix_spawn_file_actions_adddup2(&spawn.actions, spawn.pipes[i][1], i + 1);
    }
    // Nothing it runs reads its input; in a process group of its own, a read
    // of the terminal would stop it until its deadline.
    posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    QByteArray workingDirectory;
    if (state.workingDirectory) {
        workingDirectory = QFile::encodeName(*state.workingDirectory);
        posix_spawn_file_actions_addchdir_np(&spawn.actions, workingDirectory.constData());
    }

    // The child starts with default signal handling and nothing blocked,
    // whatever the launching thread had.
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&spawn.attributes, &signalSet);
    sigfillset(&signalSet);
    sigdelset(&signalSet, SIGKILL);
    sigdelset(&signalSet, SIGSTOP);
    posix_spawnattr_setsigdefault(&spawn.attributes, &signalSet);
    // A process group of its own (see signalGroup).
    posix_spawnattr_setpgroup(&spawn.attributes, 0);
    posix_spawnattr_setflags(&spawn.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                    POSIX_SPAWN_SETPGROUP);

    std::vector<QByteArray> argumentBytes{QFile::encodeName(path)};
    for (const QString &argument : state.arguments)
        argumentBytes.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (auto &argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    auto environmentBytes = environmentFor(state.environmentAdditions);
    std::vector<char *> envp;
    for (auto &entry : environmentBytes)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const int endedFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (endedFd == -1) {
        const int error = errno;
        throw LaunchError(launchFailureDescription(path, error), error);
    }
    closeFd(state.endedFd);
    state.endedFd = endedFd;

    // The waiter exists before the child does, so every child gets reaped.
    try {
        std::thread(reap, m_state).detach();
    } catch (const std::system_error &error) {
        throw LaunchError(launchFailureDescription(path, error.code().value()),
                          error.code().value());
    }

    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, argv[0], &spawn.actions, &spawn.attributes, argv.data(), envp.data());
    state.launched = true;
    if (error != 0) {
        state.launchFailed = true;
        state.reaped = true;
        lock.unlock();
        m_state->changed.notify_all();
        throw LaunchError(launchFailureDescription(path, error), error);
    }
    state.pid = pid;
    for (int i = 0; i < 2; ++i) {
        closeFd(spawn.pipes[i][1]);
        (i == 0 ? state.outputFd : state.errorFd) = spawn.pipes[i][0];
        spawn.pipes[i][0] = -1;
    }
    lock.unlock();
    m_state->changed.notify_all();
}

bool ChildProcess::isLaunched() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->launched && !m_state->launchFailed;
}

bool ChildProcess::isRunning() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->launched && !m_state->reaped;
}

pid_t ChildProcess::processIdentifier() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->pid;
}

std::optional<ChildProcess::Termination> ChildProcess::termination() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->termination;
}

void ChildProcess::interrupt()
{
    std::lock_guard lock(m_state->mutex);
    signalGroup(*m_state, SIGINT);
}

void ChildProcess::kill()
{
    std::lock_guard lock(m_state->mutex);
    signalGroup(*m_state, SIGKILL);
    m_state->endGroupAtExit = true;
}

void ChildProcess::terminate(std::chrono::milliseconds grace)
{
    for (const int signal : {SIGTERM, SIGKILL}) {
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->pid <= 0 || m_state->reaped)
                return;
            signalGroup(*m_state, signal);
            // A stopped member acts on SIGTERM only once it runs again.
            if (signal == SIGTERM)
                signalGroup(*m_state, SIGCONT);
            m_state->endGroupAtExit = true;
        }
        if (waitUntilExit(grace))
            return;
    }
}

bool ChildProcess::waitUntilExit(std::optional<std::chrono::milliseconds> timeout)
{
    std::unique_lock lock(m_state->mutex);
    if (!m_state->launched)
        return false;
    const auto ended = [&] { return m_state->reaped; };
    if (!timeout) {
        m_state->changed.wait(lock, ended);
        return true;
    }
    return m_state->changed.wait_for(lock, *timeout, ended);
}

namespace {

QByteArray readToEnd(std::mutex &mutex, int &fdSlot)
{
    int fd;
    {
        std::lock_guard lock(mutex);
        fd = fdSlot;
    }
    QByteArray result;
    if (fd < 0)
        return result;
    pollfd poller{fd, POLLIN, 0};
    while (readAvailable(fd, result)) {
        while (::poll(&poller, 1, -1) == -1 && errno == EINTR) {
        }
    }
    std::lock_guard lock(mutex);
    if (fdSlot == fd)
        closeFd(fdSlot);
    return result;
}

} // namespace

bool ChildProcess::waitForStandardError(Clock::time_point deadline)
{
    int fd;
    {
        std::lock_guard lock(m_state->mutex);
        fd = m_state->errorFd;
    }
    if (fd < 0)
        return false;
    pollfd poller{fd, POLLIN, 0};
    for (;;) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int ready = ::poll(&poller, 1, int(std::clamp<long long>(remaining, 0, 1 << 30)));
        if (ready > 0)
            return true;
        if ((ready == -1 && errno != EINTR) || (ready == 0 && remaining <= 0))
            return false;
    }
}

QByteArray ChildProcess::readAllStandardOutput()
{
    return readToEnd(m_state->mutex, m_state->outputFd);
}

QByteArray ChildProcess::readAllStandardError()
{
    return readToEnd(m_state->mutex, m_state->errorFd);
}

ChildProcess::CollectedOutput ChildProcess::collectOutput(Clock::time_point deadline)
{
    CollectedOutput result;
    int fds[2];
    int endedFd;
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->launched || m_state->launchFailed)
            return result;
        fds[0] = m_state->outputFd;
        fds[1] = m_state->errorFd;
        endedFd = m_state->endedFd;
    }
    QByteArray *buffers[2] = {&result.standardOutput, &result.standardError};
    bool open[2] = {fds[0] >= 0, fds[1] >= 0};

    for (;;) {
        std::vector<pollfd> pollers;
        for (int i = 0; i < 2; ++i)
            if (open[i])
                pollers.push_back({fds[i], POLLIN, 0});
        pollers.push_back({endedFd, POLLIN, 0});

        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0)
            break;
        const int ready = ::poll(pollers.data(), nfds_t(pollers.size()),
                                 int(std::min<long long>(remaining, 1 << 30)));
        if (ready == -1 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;

        const bool ended = pollers.back().revents & POLLIN;
        for (int i = 0; i < 2; ++i)
            if (open[i])
                open[i] = readAvailable(fds[i], *buffers[i], deadline);
        if (ended) {
            // Everything the child wrote is in the pipes now; a descendant
            // that still holds them open is not waited for.
            result.finished = true;
            break;
        }
    }

    std::lock_guard lock(m_state->mutex);
    for (int i = 0; i < 2; ++i) {
        int &slot = i == 0 ? m_state->outputFd : m_state->errorFd;
        if (!open[i] && slot == fds[i])
            closeFd(slot);
    }
    return result;
}

} // namespace corvane
