#include "platform/files/ScratchFiles.h"

#include "platform/Log.h"
#include "platform/processes/ProcessRun.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvane::ScratchFiles {

namespace {

// Of the file's own name, so that the scratch name stays within NAME_MAX.
constexpr int kMaxTargetName = 100;

// When the process started; nothing when it has ended (a zombie counts) or
// cannot be told.
std::optional<qulonglong> startOfRunning(pid_t pid)
{
    const auto run = ProcessRun::of(pid);
    if (!run || run->ended)
        return std::nullopt;
    return run->start;
}

// This process's start; 0 when it cannot be read, and nothing is swept.
qulonglong ownStart()
{
    static std::mutex mutex;
    static pid_t readFor = 0;
    static qulonglong start = 0;
    std::lock_guard lock(mutex);
    // A child forked from this process is another run.
    if (readFor != ::getpid()) {
        readFor = ::getpid();
        start = startOfRunning(readFor).value_or(0);
    }
    return start;
}

// The pid and start of the run that made a scratch file, with the lock and
// the new file QSettings makes beside the one it writes.
const QRegularExpression &scratchName()
{
    static const QRegularExpression pattern(
        R"(^\..+\.scratch-([0-9]{1,10})-([0-9]{1,20})-[A-Za-z0-9]{6}(\.lock|\.[A-Za-z0-9]{6})?$)");
    return pattern;
}

// Removes what ended runs left in the folder.
void sweep(const std::string &folder)
{
    if (ownStart() == 0)
        return;
    DIR *directory = ::opendir(folder.c_str());
    if (!directory)
        return;
    std::vector<std::string> ended;
    while (const dirent *entry = ::readdir(directory)) {
        const auto match = scratchName().match(QFile::decodeName(entry->d_name));
        if (!match.hasMatch())
            continue;
        const pid_t pid = pid_t(match.captured(1).toLongLong());
        const qulonglong start = match.captured(2).toULongLong();
        if (pid == ::getpid() ? start != ownStart() : startOfRunning(pid) != start)
            ended.emplace_back(entry->d_name);
    }
    const int descriptor = ::dirfd(directory);
    for (const std::string &name : ended) {
        struct stat status {};
        if (::fstatat(descriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
            ::unlinkat(descriptor, name.c_str(), 0) == 0)
            Log::general().info("Removed %{public}@, which a program that ended left",
                                QFile::decodeName((folder + '/' + name).c_str()));
    }
    ::closedir(directory);
}

} // namespace

std::string nameBeside(const std::string &target)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const size_t nameAt = target.rfind('/') + 1; // 0 without a folder
    std::string name = target.substr(0, nameAt) + '.' + target.substr(nameAt, kMaxTargetName) +
                       ".scratch-" + std::to_string(::getpid()) + '-' + std::to_string(ownStart()) +
                       '-';
    for (int i = 0; i < 6; ++i)
        name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return name;
}

QString nameBeside(const QString &target)
{
    return QFile::decodeName(nameBeside(QFile::encodeName(target).toStdString()).c_str());
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
