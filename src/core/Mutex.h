#pragma once

#include <optional>
#include <pthread.h>
#include <type_traits>

namespace corvane {

// sync/trySync over any lock with lock(), tryLock() and unlock().
template <class Derived> class ScopedMutex {
public:
    template <class F> auto sync(F &&body) -> decltype(body())
    {
        auto &self = static_cast<Derived &>(*this);
        self.lock();
        Unlocker unlocker{self};
        return body();
    }

    // Runs nothing and returns nothing when the lock is held elsewhere.
    template <class F> auto trySync(F &&body)
    {
        using R = decltype(body());
        auto &self = static_cast<Derived &>(*this);
        if constexpr (std::is_void_v<R>) {
            if (!self.tryLock())
                return false;
            Unlocker unlocker{self};
            body();
            return true;
        } else {
            if (!self.tryLock())
                return std::optional<R>();
            Unlocker unlocker{self};
            return std::optional<R>(body());
        }
    }

private:
    struct Unlocker {
        Derived &lock;
        ~Unlocker() { lock.unlock(); }
    };
};

enum class PThreadMutexType { normal, recursive };

class PThreadMutex : public ScopedMutex<PThreadMutex> {
public:
    explicit PThreadMutex(PThreadMutexType type = PThreadMutexType::normal);
    ~PThreadMutex();
    PThreadMutex(const PThreadMutex &) = delete;
    PThreadMutex &operator=(const PThreadMutex &) = delete;

    void lock() { pthread_mutex_lock(&unsafeMutex); }
    bool tryLock() { return pthread_mutex_trylock(&unsafeMutex) == 0; }
    void unlock() { pthread_mutex_unlock(&unsafeMutex); }

    pthread_mutex_t unsafeMutex;
};

// A small non-recursive lock for short critical sections.
class UnfairLock : public ScopedMutex<UnfairLock> {
public:
    UnfairLock() = default;
    UnfairLock(const UnfairLock &) = delete;
    UnfairLock &operator=(const UnfairLock &) = delete;

    void lock() { pthread_mutex_lock(&unsafeMutex); }
    bool tryLock() { return pthread_mutex_trylock(&unsafeMutex) == 0; }
    void unlock() { pthread_mutex_unlock(&unsafeMutex); }

    pthread_mutex_t unsafeMutex = PTHREAD_MUTEX_INITIALIZER;
};

} // namespace corvane
