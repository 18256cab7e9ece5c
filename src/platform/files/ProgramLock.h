#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace corvane {

// One program per user session: a lock file in the session's runtime folder.
// The lock of a program that is no longer running is taken over. Nothing is
// written unless the lock is taken.
class ProgramLock {
public:
    enum class Outcome {
        Taken,
        // Another program that runs now holds it.
        HeldElsewhere,
        // No private folder for it: the program runs without one.
        Unavailable,
    };

    static constexpr const char *fileName = "com.quendrith.corvane.lock";
    // The exit status of a start that the running program's lock turns away
    // (EX_TEMPFAIL), so that a script that started it can tell that the
    // program it sees running is not its own.
    static constexpr int refusedExitStatus = 75;

    // $XDG_RUNTIME_DIR; without one, a folder of the user's own under the
    // temporary folder, made private. Empty when neither can be had safely.
    static QString runtimeDir();

    explicit ProgramLock(QString directory = runtimeDir());
    ~ProgramLock();
    ProgramLock(const ProgramLock &) = delete;
    ProgramLock &operator=(const ProgramLock &) = delete;

    Outcome tryLock();
    // Lets the lock go, for a program that ends without its destructors.
    void release();
    QString filePath() const { return m_path; }
    // The process that holds the lock another program took; 0 when unknown.
    qint64 holder() const { return m_holder; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_file;
    qint64 m_holder = 0;
};

} // namespace corvane
