#include "platform/ScratchFiles.h"

#include "platform/Log.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvane::ScratchFiles {

namespace {

constexpr std::string_view kMarker = ".scratch-";
constexpr size_t kRandomLength = 6;
// Of the file's own name, so that the scratch name stays within NAME_MAX.
constexpr size_t kMaxTargetName = 100;

struct ProcessRun {
    // Clock ticks after boot: with the ID it names one run of a program.
    unsigned long long start = 0;
    // Only waiting to be reaped.
    bool ended = false;
};

std::optional<ProcessRun> processRun(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    char buffer[4096];
    ssize_t count;
    do {
        count = ::read(descriptor, buffer, sizeof buffer - 1);
    } while (count < 0 && errno == EINTR);
    ::close(descriptor);
    if (count <= 0)
        return std::nullopt;
    const std::string_view stat(buffer, size_t(count));
    // The name in parentheses may hold anything; the state (field 3) and the
    // start (field 22) follow the last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string_view::npos || close + 2 >= stat.size())
        return std::nullopt;
    ProcessRun run;
    const char state = stat[close + 2];
    run.ended = state == 'Z' || state == 'X' || state == 'x';
    size_t at = close + 2;
    for (int field = 3; field < 22; ++field) {
        at = stat.find(' ', at);
        if (at == std::string_view::npos)
            return std::nullopt;
        ++at;
    }
    bool digits = false;
    for (; at < stat.size() && stat[at] >= '0' && stat[at] <= '9'; ++at, digits = true)
        run.start = run.start * 10 + unsigned(stat[at] - '0');
    if (!digits)
        return std::nullopt;
    return run;
}

// This process's start; 0 when it cannot be read, and nothing is swept.
unsigned long long ownStart()
{
    static std::mutex mutex;
    static pid_t cachedFor = 0;
    static unsigned long long start = 0;
    std::lock_guard lock(mutex);
    // A child forked from this process is another run.
    if (cachedFor != ::getpid()) {
        cachedFor = ::getpid();
        const auto run = processRun(cachedFor);
        start = run ? run->start : 0;
    }
    return start;
}

bool isRunning(pid_t pid, unsigned long long start)
{
    if (pid == ::getpid())
        return start == ownStart();
    const auto run = processRun(pid);
    return run && !run->ended && run->start == start;
}

bool isLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::optional<unsigned long long> number(std::string_view &text)
{
    size_t length = 0;
    unsigned long long value = 0;
    while (length < text.size() && length < 19 && text[length] >= '0' && text[length] <= '9')
        value = value * 10 + unsigned(text[length++] - '0');
    if (length == 0)
        return std::nullopt;
    text.remove_prefix(length);
    return value;
}

bool skip(std::string_view &text, std::string_view prefix)
{
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

bool isRandomPart(std::string_view text)
{
    if (text.size() != kRandomLength)
        return false;
    for (char c : text)
        if (!isLetterOrDigit(c))
            return false;
    return true;
}

// The run that made a scratch file, from its name; nothing for any other name.
std::optional<std::pair<pid_t, unsigned long long>> maker(std::string_view name)
{
    const size_t marker = name.rfind(kMarker);
    if (name.empty() || name[0] != '.' || marker == std::string_view::npos || marker < 2)
        return std::nullopt;
    std::string_view rest = name.substr(marker + kMarker.size());
    const auto pid = number(rest);
    if (!pid || *pid == 0 || *pid > 0x7fffffff || !skip(rest, "-"))
        return std::nullopt;
    const auto start = number(rest);
    if (!start || !skip(rest, "-") || rest.size() < kRandomLength ||
        !isRandomPart(rest.substr(0, kRandomLength)))
        return std::nullopt;
    rest.remove_prefix(kRandomLength);
    // QSettings's lock and its own new file beside the one it writes.
    if (!rest.empty() && rest != ".lock" && !(skip(rest, ".") && isRandomPart(rest)))
        return std::nullopt;
    return std::pair{pid_t(*pid), *start};
}

} // namespace

std::string nameBeside(const std::string &target)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string name = "." + target.substr(folder.size()).substr(0, kMaxTargetName);
    name +=
        std::string(kMarker) + std::to_string(::getpid()) + '-' + std::to_string(ownStart()) + '-';
    for (size_t i = 0; i < kRandomLength; ++i)
        name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return folder + name;
}

QString nameBeside(const QString &target)
{
    return QFile::decodeName(
        QByteArray::fromStdString(nameBeside(QFile::encodeName(target).toStdString())));
}

int sweep(const std::string &folder)
{
    if (ownStart() == 0)
        return 0;
    const int descriptor =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return 0;
    DIR *directory = ::fdopendir(descriptor);
    if (!directory) {
        ::close(descriptor);
        return 0;
    }
    std::vector<std::string> ended;
    while (const dirent *entry = ::readdir(directory)) {
        const auto run = maker(entry->d_name);
        if (run && !isRunning(run->first, run->second))
            ended.emplace_back(entry->d_name);
    }
    int removed = 0;
    for (const std::string &name : ended) {
        struct stat status {};
        if (::fstatat(descriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode) || status.st_uid != ::geteuid())
            continue;
        if (::unlinkat(descriptor, name.c_str(), 0) == 0) {
            ++removed;
            Log::general().info("Removed %{public}@, which a program that ended left",
                                QFile::decodeName(QByteArray::fromStdString(folder + '/' + name)));
        }
    }
    ::closedir(directory);
    return removed;
}

void sweepOnce(const std::string &folder)
{
    static std::mutex mutex;
    static std::set<std::string> swept;
    {
        std::lock_guard lock(mutex);
        if (!swept.insert(folder).second)
            return;
    }
    sweep(folder);
}

} // namespace corvane::ScratchFiles
