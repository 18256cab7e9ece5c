#pragma once

#include "platform/menus/KeyModifiers.h"

#include <memory>

namespace corvane {

// Where the current keyboard modifiers come from; tests give a fake.
class ModifierSource {
public:
    virtual ~ModifierSource() = default;
    virtual KeyModifiers currentModifiers() const = 0;
    bool isOptionHeld() const { return currentModifiers().testFlag(KeyModifier::Option); }

    // The keyboard's state as the window system reports it (Alt is Option,
    // Ctrl is Command, Meta is Control).
    static std::shared_ptr<ModifierSource> system();
};

} // namespace corvane
