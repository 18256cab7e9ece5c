#pragma once

#include "platform/files/AtomicFile.h"
#include "platform/defaults/UserDefaults.h"

#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <random>
#include <sys/resource.h>
#include <sys/types.h>

namespace corvane::test {

std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv);

// Runs the Qt event loop (and so the main queue) until `condition` holds or
// the timeout passes; returns the condition's last value. The timeout only
// catches a stall: on a loaded machine under sanitizers work takes many times
// longer than alone.
bool waitUntil(const std::function<bool()> &condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Runs the event loop for a while.
void pumpFor(std::chrono::milliseconds duration);

// Runs the main queue until it is empty and no worker thread has work, so that
// a test's tear-down leaves nothing it started to the next test. False when
// the timeout (which only catches a stall) passed first.
bool waitForBackgroundWork(std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A text of up to `maxPieces` pieces drawn at random, for comparing a parser
// with a reference over many odd inputs.
QString randomText(std::mt19937 &random, const QStringList &pieces, int maxPieces);

// The process's peak resident memory so far (getrusage), in bytes.
qint64 peakResidentBytes();
// Built with AddressSanitizer.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif
// Whether the peak says how much the program holds: AddressSanitizer keeps
// freed memory resident for a while to catch late uses.
inline constexpr bool peakResidentBytesTellUse = !sanitized;

// How far the peak may grow while hostile servers are refused. Taking a reply
// whole runs to a gigabyte; bounded transfers stay far below, though thread
// arenas and the overlap of transfers on a loaded machine vary.
inline constexpr qint64 hostileRepliesPeakGrowth = qint64(256) << 20;

QString realWorldPath(const QString &relative);
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);
// Writes an executable shell script.
bool writeScript(const QString &path, const QString &body);

// Every save through AtomicFile fails at the fault's step while it lives, as
// on a full disk.
class SaveFault {
public:
    explicit SaveFault(AtomicFile::Fault fault = {}) { AtomicFile::setFaultForTesting(fault); }
    ~SaveFault() { AtomicFile::setFaultForTesting(std::nullopt); }
    SaveFault(const SaveFault &) = delete;
    SaveFault &operator=(const SaveFault &) = delete;
};

// While it lives the system cuts every write into a file short at `bytes`,
// as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : m_handler(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        const rlimit limited{bytes, m_saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    void (*m_handler)(int);
    rlimit m_saved{};
};

// The names in a folder, hidden ones too, sorted.
QStringList folderEntries(const QString &folder);

// A child that has ended and is not reaped yet, for the caller to reap; -1
// when it cannot be had.
pid_t spawnZombie();

// The standard user defaults are the test's own while it lives.
class ScopedDefaults {
public:
    ScopedDefaults() { UserDefaults::setStandard(UserDefaults::withFile(m_dir.filePath("d.ini"))); }
    ~ScopedDefaults() { UserDefaults::setStandard(m_previous); }

private:
    QTemporaryDir m_dir;
    std::shared_ptr<UserDefaults> m_previous = UserDefaults::standard();
};

} // namespace corvane::test
