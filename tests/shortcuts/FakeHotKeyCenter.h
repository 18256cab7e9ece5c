#pragma once

#include "platform/hotkeys/HotKeyCenter.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace corvane::test {

// A display that grants every combination not listed as held elsewhere and,
// like a real one, reports a press to the newest registration of it.
class FakeHotKeyCenter : public HotKeyCenter {
public:
    using Combination = std::pair<int, unsigned>;
    struct Registration {
        quint32 id;
        Combination combination;
    };

    bool registerHotKey(quint32 id, int keyCode, unsigned modifiers) override
    {
        if (heldElsewhere.count({keyCode, modifiers}))
            return false;
        registrations.push_back({id, {keyCode, modifiers}});
        return true;
    }
    void unregisterHotKey(quint32 id) override
    {
        std::erase_if(registrations, [id](const Registration &r) { return r.id == id; });
    }
    void setPressHandler(PressHandler handler) override { m_handler = std::move(handler); }
    void setSuspended(bool suspended) override { m_suspended = suspended; }
    bool isSuspended() const override { return m_suspended; }
    bool isHeldElsewhere(int keyCode, unsigned modifiers) override
    {
        return heldElsewhere.count({keyCode, modifiers}) != 0;
    }

    void press(int keyCode, unsigned modifiers)
    {
        auto newest =
            std::find_if(registrations.rbegin(), registrations.rend(), [&](const Registration &r) {
                return r.combination == Combination{keyCode, modifiers};
            });
        if (newest != registrations.rend() && m_handler && !m_suspended)
            m_handler(newest->id);
    }
    std::set<Combination> grabbed() const
    {
        std::set<Combination> combinations;
        for (const Registration &r : registrations)
            combinations.insert(r.combination);
        return combinations;
    }

    std::vector<Registration> registrations;
    std::set<Combination> heldElsewhere;

private:
    PressHandler m_handler;
    bool m_suspended = false;
};

} // namespace corvane::test
