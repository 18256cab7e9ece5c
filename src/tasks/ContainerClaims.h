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
// counts as the same.
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
        Claim(std::weak_ptr<State> state, std::uint64_t id);
        void release();

        std::weak_ptr<State> m_state;
        std::uint64_t m_id = 0;
    };

    ContainerClaims();
    ~ContainerClaims();
    ContainerClaims(const ContainerClaims &) = delete;
    ContainerClaims &operator=(const ContainerClaims &) = delete;

    // Every folder for the task that does `activity`, or none of them: then
    // the activity of the holder of the first one already held, for the task
    // it turns away.
    std::variant<Claim, QString> claim(const std::vector<std::filesystem::path> &folders,
                                       const QString &activity);

private:
    std::shared_ptr<Claim::State> m_state;
};

} // namespace corvane
