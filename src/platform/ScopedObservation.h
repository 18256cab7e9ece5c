#pragma once

#include <QtGlobal>

#include <memory>
#include <mutex>

namespace corvane {

// A registration with an owner that hands out numbered observations; it ends
// when invalidated or released. The owner declares this class its friend and
// provides removeObservation(id).
template <class Owner> class ScopedObservation {
public:
    ScopedObservation(std::weak_ptr<Owner> owner, quint64 id) : m_owner(std::move(owner)), m_id(id)
    {
    }
    ~ScopedObservation() { invalidate(); }
    ScopedObservation(const ScopedObservation &) = delete;
    ScopedObservation &operator=(const ScopedObservation &) = delete;

    void invalidate()
    {
        std::shared_ptr<Owner> owner;
        {
            std::lock_guard lock(m_mutex);
            owner = m_owner.lock();
            m_owner.reset();
        }
        if (owner)
            owner->removeObservation(m_id);
    }

private:
    std::mutex m_mutex;
    std::weak_ptr<Owner> m_owner;
    quint64 m_id;
};

} // namespace corvane
