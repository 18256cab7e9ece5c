#pragma once

#include "common/TestSupport.h"
#include "model/Application.h"
#include "model/Container.h"
#include "model/Device.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"
#include "tasks/ItemMoves.h"
#include "tasks/TaskJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

extern char **environ;

namespace corvane::test {

inline std::string nativeOf(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// One line per item below `root`: its path (bytes as they are), mode, and for
// files and links their content (a link's target) and modification time.
// Folder times change whenever something inside them does, so they are left
// out.
inline std::string snapshot(const QString &root)
{
    namespace fs = std::filesystem;
    const std::string base = nativeOf(root);
    std::vector<std::string> lines;
    std::error_code error;
    for (fs::recursive_directory_iterator it(base, error), end; !error && it != end;
         it.increment(error)) {
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0)
            continue;
        std::string line = it->path().native().substr(base.size()) + ' ' +
                           QString::number(info.st_mode, 8).toStdString();
        // Read in blocks: a file of many megabytes (a sparse one) is hashed
        // in a moment even in a debug build.
        QCryptographicHash content(QCryptographicHash::Md5);
        if (S_ISLNK(info.st_mode)) {
            content.addData(QByteArray::fromStdString(fs::read_symlink(it->path()).native()));
        } else if (S_ISREG(info.st_mode)) {
            QFile file(QFile::decodeName(QByteArray::fromStdString(it->path().native())));
            if (file.open(QIODevice::ReadOnly))
                content.addData(&file);
        }
        if (!S_ISDIR(info.st_mode))
            line += QString(" %1.%2 %3")
                        .arg(info.st_mtim.tv_sec)
                        .arg(info.st_mtim.tv_nsec)
                        .arg(content.result().toHex())
                        .toStdString();
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string joined;
    for (const std::string &line : lines)
        joined += (joined.empty() ? "" : "\n") + line;
    return joined;
}

// Starts this test binary again for the current test only, with the
// variables added to its environment and its output dropped; `ready`, when
// given, becomes its descriptor 3.
inline pid_t spawnThisTest(const std::vector<std::string> &variables, int ready = -1)
{
    std::vector<char *> environment;
    for (const std::string &variable : variables)
        environment.push_back(const_cast<char *>(variable.c_str()));
    for (char **entry = environ; *entry; ++entry)
        environment.push_back(*entry);
    environment.push_back(nullptr);
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + '.' + test->name();
    char *argv[] = {self.data(), filter.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (ready >= 0)
        posix_spawn_file_actions_adddup2(&actions, ready, 3);
    for (int output : {STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&actions, output, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environment.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline QStringList hiddenEntries(const QString &folder)
{
    return QDir(folder).entryList({".*"}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

inline bool makeLink(const QString &target, const QString &link)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) ==
           0;
}

inline void setTime(const QString &path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
}

// While it lives, the journal's writes that `writes` picks fail, and so do
// its removals when asked, as in a full or read-only state folder; and the
// notes beside the backups that a task ended, as in a read-only container
// folder.
struct JournalFailure {
    JournalFailure(std::function<bool(const TaskJournal::Entry &)> writes, bool removals = false,
                   bool endNotes = false)
    {
        TaskJournal::setFailureHook([=](TaskJournal::Step step, const TaskJournal::Entry *entry) {
            switch (step) {
            case TaskJournal::Step::write: return writes(*entry);
            case TaskJournal::Step::remove: return removals;
            case TaskJournal::Step::markEnded: break;
            }
            return endNotes;
        });
    }
    ~JournalFailure() { TaskJournal::setFailureHook(nullptr); }
};

// While it lives, once armed, the calls that change the user's files or the
// journal are counted, both kinds together, and call `at` fails with EIO
// (or a failed write of the journal), once or, `onward`, with every later
// call as on a full disk.
class FailingCalls {
public:
    FailingCalls(int at, bool onward, bool armed = true) : m_armed(armed)
    {
        const auto fails = [this, at, onward] {
            if (!m_armed)
                return false;
            const int call = ++m_calls;
            return call == at || (onward && call > at);
        };
        setFileCallFaultForTesting([=] { return fails() ? EIO : 0; });
        TaskJournal::setFailureHook(
            [=](TaskJournal::Step, const TaskJournal::Entry *) { return fails(); });
    }
    ~FailingCalls()
    {
        setFileCallFaultForTesting(nullptr);
        TaskJournal::setFailureHook(nullptr);
    }
    FailingCalls(const FailingCalls &) = delete;
    FailingCalls &operator=(const FailingCalls &) = delete;

    void arm() { m_armed = true; }
    // How many calls were made since it was armed.
    int calls() const { return m_calls; }

private:
    std::atomic<bool> m_armed;
    std::atomic<int> m_calls{0};
};

// A container folder of a simulator below `devices`, laid out as the
// simulators lay them out: the data container of a device's application
// `index`, or a group container.
inline QString simulatorContainer(const QString &devices, bool group, int index = 0)
{
    return devices + "/0C6F1E2A-1111-4222-8333-444455556666/data/Containers/" +
           (group ? "Shared/AppGroup/" : "Data/Application/") +
           QString("5A4B3C2D-1E0F-4A9B-8C7D-%1").arg(index, 12, 10, QChar('0'));
}

// Whether every line of the snapshot `part` is in the snapshot `whole`.
inline bool holdsAll(const std::string &whole, const std::string &part)
{
    const QStringList lines = QString::fromStdString(whole).split('\n');
    for (const QString &line : QString::fromStdString(part).split('\n', Qt::SkipEmptyParts))
        if (!lines.contains(line))
            return false;
    return true;
}

// An installed application read from a bundle in a temporary tree, with the
// group containers the test gives it (no simulator tool lists them).
class ApplicationFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = m_dir.filePath("home");
        paths.temporaryDir = m_dir.filePath("tmp");
        SystemPaths::setCurrent(paths);
        QDir().mkpath(paths.temporaryDir);
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    ApplicationPtr makeApplication(const QString &identifier = "com.example.foo",
                                   const QStringList &groups = {})
    {
        if (!m_device)
            m_device = Device::initFromListLine(
                "iPhone 15 (0C6F1E2A-1111-4222-8333-444455556666) (Shutdown)",
                {Runtime::System::iOS, "17.2"}, nullptr);
        const QString bundle = m_dir.filePath("apps/9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A/Foo.app");
        QDir().mkpath(bundle);
        EXPECT_TRUE(PropertyList::writeFile(bundle + "/Info.plist",
                                            QVariantMap{{"CFBundleIdentifier", identifier},
                                                        {"CFBundleName", "Foo"},
                                                        {"CFBundleExecutable", "FooExec"},
                                                        {"MinimumOSVersion", "16.0"},
                                                        {"CFBundleShortVersionString", "1.2"},
                                                        {"CFBundleVersion", "34"}}));
        auto application = Application::make(QUrl::fromLocalFile(bundle + "/"), m_device, nullptr,
                                             Application::SimulatorCheck::byCaller);
        std::vector<std::shared_ptr<Container>> containers;
        for (const QString &group : groups)
            containers.push_back(
                std::make_shared<Container>(group, group, QUrl::fromLocalFile(groupFolder(group))));
        application->setCachedGroupContainers(containers);
        return application;
    }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    // Where makeApplication() puts the group's container.
    QString groupFolder(const QString &group) const
    {
        return simulatorContainer(SystemPaths::current().coreSimulatorDevices(), true,
                                  int(qHash(group) % 1000));
    }

    QTemporaryDir m_dir;
    DevicePtr m_device;
};

} // namespace corvane::test
