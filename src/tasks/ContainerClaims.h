#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <variant>
#include <vector>

namespace corvane {

// The folders (containers, archives) that running archive tasks hold, so
// that no two of them touch one at once: an import that empties a container
// while another task copies into it or out of it leaves neither's result.
// Folders are compared as the disk resolves them, and one inside another
// counts as the same. Each folder is also locked for other programs, with a
// lock file named after it in the state folder, so that a second running
// copy of this program keeps off it too.
class ContainerClaims {
public:
    // Holds its folders until it is destroyed; the registry may go first.
    class Claim {
    public:
        Claim(Claim &&other) noexcept;
        Claim &operator=(Claim &&) = delete;
        ~Claim();

    private:
        friend class ContainerClaims;
        struct State;
        Claim(std::weak_ptr<State> state, std::uint64_t id, std::vector<int> locks);
        void release();

        std::weak_ptr<State> m_state;
        std::uint64_t m_id = 0;
        std::vector<int> m_locks;
    };

    struct Refusal {
        enum class Reason {
            // A task of this program holds a folder; `activity` says what it does.
            running,
            // An earlier task's entry waits for the next start to finish it.
            waiting,
            // Another program holds a folder's lock.
            elsewhere,
            // The lock file cannot be made or opened.
            unlockable,
        };
        Reason reason;
        QString activity;
    };

    // Lock files are kept in `lockFolder`, made when needed.
    explicit ContainerClaims(QString lockFolder);
    // Lock files in the state folder of the paths in force when claiming.
    ContainerClaims();
    ~ContainerClaims();
    ContainerClaims(const ContainerClaims &) = delete;
    ContainerClaims &operator=(const ContainerClaims &) = delete;

    // Every folder for the task that does `activity`, or none of them.
    std::variant<Claim, Refusal> claim(const std::vector<std::filesystem::path> &folders,
                                       const QString &activity);
    // Keeps the claim's folders held, and locked, for as long as the registry
    // lives (the program's run): what an unfinished entry describes must not
    // change before the next start finishes it. Later claims of them are
    // refused as waiting.
    void retain(Claim &&claim);

private:
    QString lockFolder() const;

    QString m_lockFolder;
    std::shared_ptr<Claim::State> m_state;
};

} // namespace corvane
