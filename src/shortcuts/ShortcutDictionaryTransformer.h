#pragma once

#include "shortcuts/Shortcut.h"

#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace corvane {

// A second stored form of a shortcut: {"keyCode": integer, "modifierFlags":
// unsigned integer}. The program itself stores archives.
class ShortcutDictionaryTransformer {
public:
    static bool allowsReverseTransformation() { return true; }
    // Nothing unless the value is a dictionary whose two entries read as
    // integers (numbers, or text that starts with one).
    static std::optional<Shortcut> transformedValue(const QVariant &value);
    // No shortcut gives an empty dictionary.
    static QVariantMap reverseTransformedValue(const std::optional<Shortcut> &shortcut);
};

} // namespace corvane
