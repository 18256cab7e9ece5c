#include "tasks/ContainerClaims.h"

#include "core/File.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace corvane {

namespace fs = std::filesystem;

struct ContainerClaims::Claim::State {
    struct Entry {
        std::uint64_t id;
        std::vector<fs::path> folders;
        QString activity;
    };

    mutable std::mutex mutex;
    std::uint64_t nextID = 1;
    std::vector<Entry> entries;
};

namespace {

// A folder by any of its names, or by the one it is given when the disk
// cannot tell (then two spellings of one folder may pass for two: the
// containers' own listing spells them alike).
fs::path resolved(const fs::path &folder)
{
    std::error_code error;
    const fs::path path = fs::weakly_canonical(folder, error);
    return error || path.empty() ? folder.lexically_normal() : path;
}

bool overlap(const fs::path &a, const fs::path &b)
{
    return isWithin(a, b) || isWithin(b, a);
}

} // namespace

ContainerClaims::Claim::Claim(std::weak_ptr<State> state, std::uint64_t id)
    : m_state(std::move(state)), m_id(id)
{
}

ContainerClaims::Claim::Claim(Claim &&other) noexcept
    : m_state(std::move(other.m_state)), m_id(std::exchange(other.m_id, 0))
{
}

ContainerClaims::Claim::~Claim()
{
    release();
}

void ContainerClaims::Claim::release()
{
    const auto state = m_state.lock();
    if (!state || m_id == 0)
        return;
    std::lock_guard lock(state->mutex);
    std::erase_if(state->entries, [&](const State::Entry &entry) { return entry.id == m_id; });
    m_id = 0;
}

ContainerClaims::ContainerClaims() : m_state(std::make_shared<Claim::State>())
{
}

ContainerClaims::~ContainerClaims() = default;

std::variant<ContainerClaims::Claim, QString>
ContainerClaims::claim(const std::vector<fs::path> &folders, const QString &activity)
{
    // Resolving looks at the disk: done before the lock is taken.
    std::vector<fs::path> wanted;
    wanted.reserve(folders.size());
    for (const fs::path &folder : folders)
        wanted.push_back(resolved(folder));

    std::lock_guard lock(m_state->mutex);
    for (const auto &entry : m_state->entries)
        for (const fs::path &held : entry.folders)
            if (std::any_of(wanted.begin(), wanted.end(),
                            [&](const fs::path &folder) { return overlap(folder, held); }))
                return entry.activity;
    const std::uint64_t id = m_state->nextID++;
    m_state->entries.push_back({id, std::move(wanted), activity});
    return Claim(m_state, id);
}

} // namespace corvane
