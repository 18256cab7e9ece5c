#include "common/TestSupport.h"
#include "fixtures/sim/ProcessWatch.h"
#include "platform/queues/DispatchQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

// Present in sanitized builds only: the leak check that would otherwise run at exit.
extern "C" __attribute__((weak)) void __lsan_do_leak_check();

namespace corvane::test {

// Suites that need widgets define their own.
__attribute__((weak)) std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv)
{
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace corvane::test

namespace {

// Points the home, the XDG folders and the temporary folder into `root`, so that
// whatever a test or a library under it writes there (dialog history, trash,
// caches, a death test's leftovers) goes when the process ends.
bool confineTo(const QString &root)
{
    const struct {
        const char *variable;
        const char *folder;
    } folders[] = {{"HOME", "home"},
                   {"XDG_CONFIG_HOME", "home/.config"},
                   {"XDG_DATA_HOME", "home/.local/share"},
                   {"XDG_CACHE_HOME", "home/.cache"},
                   {"XDG_STATE_HOME", "home/.local/state"},
                   {"XDG_RUNTIME_DIR", "runtime"},
                   {"TMPDIR", "tmp"}};
    for (const auto &folder : folders) {
        const QString path = root + "/" + folder.folder;
        if (!QDir().mkpath(path))
            return false;
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(folder.variable, QFile::encodeName(path));
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Simulators and apps of the fake started by a test, also through the
    // program or a tool, end with this process, even when it is killed.
    corvane::fixture::endFakeProcessesWithThisProcess();
    ::testing::InitGoogleTest(&argc, argv);
    // Tests never need a display, also when the build lists them.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Maps draw their offline land; a test that wants tiles serves its own.
    qputenv("CORVANE_MAP_TILE_URL", "");
    // Outlives the application and the workers, which may still write into it.
    QTemporaryDir sandbox(QDir::tempPath() + "/corvane-test-XXXXXX");
    if (!sandbox.isValid() || !confineTo(sandbox.path())) {
        std::fprintf(stderr, "Cannot make a temporary home for the tests\n");
        return 1;
    }
    auto app = corvane::test::makeApplication(argc, argv);
    const int result = RUN_ALL_TESTS();
    corvane::DispatchQueue::waitUntilIdle(std::chrono::seconds(3));
    // The sandbox goes while the workers still run, so that a watch on it
    // ends now. A worker may still hear of it after the last look; like the
    // program, the process then ends without the static destructors, which
    // such a worker would otherwise meet half torn down.
    sandbox.remove();
    corvane::DispatchQueue::waitUntilIdle(std::chrono::seconds(3));
    std::fflush(nullptr);
    if (__lsan_do_leak_check)
        __lsan_do_leak_check();
    std::_Exit(result);
}
