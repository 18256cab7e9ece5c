#pragma once

#include "core/Observer.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace corvane {

// A thread-safe observable value. Every set notifies each observer once, on
// the setting thread, outside the lock. A token ends its observation when
// invalidated or released.
template <class T> class Observable {
public:
    using Handler = std::function<void(const T &oldValue, const T &newValue)>;

    explicit Observable(T initial = T{}) : m_state(std::make_shared<State>(std::move(initial))) {}
    Observable(const Observable &) = delete;
    Observable &operator=(const Observable &) = delete;

    T get() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->value;
    }

    void set(T value)
    {
        std::vector<std::shared_ptr<Handler>> handlers;
        T old;
        {
            std::lock_guard lock(m_state->mutex);
            old = std::exchange(m_state->value, value);
            for (const auto &[id, handler] : m_state->handlers)
                handlers.push_back(handler);
        }
        for (const auto &handler : handlers)
            (*handler)(old, value);
    }

    // Tells observers without a change of value (a derived value changed).
    void notify()
    {
        const T value = get();
        std::vector<std::shared_ptr<Handler>> handlers;
        {
            std::lock_guard lock(m_state->mutex);
            for (const auto &[id, handler] : m_state->handlers)
                handlers.push_back(handler);
        }
        for (const auto &handler : handlers)
            (*handler)(value, value);
    }

    // With `initial`, the handler is called once at once with the current value.
    ObserverPtr observe(Handler handler, bool initial = false)
    {
        auto shared = std::make_shared<Handler>(std::move(handler));
        quint64 id;
        {
            std::lock_guard lock(m_state->mutex);
            id = ++m_state->nextId;
            m_state->handlers.emplace(id, shared);
        }
        if (initial) {
            const T value = get();
            (*shared)(value, value);
        }
        return std::make_shared<Token>(m_state, id);
    }

    int observerCount() const
    {
        std::lock_guard lock(m_state->mutex);
        return int(m_state->handlers.size());
    }

private:
    struct State {
        explicit State(T v) : value(std::move(v)) {}
        mutable std::mutex mutex;
        T value;
        quint64 nextId = 0;
        std::map<quint64, std::shared_ptr<Handler>> handlers;
    };

    class Token : public ObserverProtocol {
    public:
        Token(std::weak_ptr<State> state, quint64 id) : m_state(std::move(state)), m_id(id) {}
        ~Token() override { invalidate(); }
        void invalidate() override
        {
            if (auto state = m_state.lock()) {
                std::lock_guard lock(state->mutex);
                state->handlers.erase(m_id);
            }
            m_state.reset();
        }
        QString debugDescription() const override { return "<KeyValueObservation>"; }

    private:
        std::weak_ptr<State> m_state;
        quint64 m_id;
    };

    std::shared_ptr<State> m_state;
};

} // namespace corvane
