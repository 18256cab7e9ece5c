#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

namespace corvane {

// A simulator runtime such as "iOS 17.0". Runtimes order by system, then by
// version with the newest first.
class Runtime {
public:
    // The raw value is the system's rank in the order.
    enum class System { iOS = 0, watchOS = 1, tvOS = 2, visionOS = 3 };

    static std::optional<System> systemFromRawValue(int rawValue);
    // Case-insensitive: "ios" or "iphoneos", "watchos", "tvos", "visionos".
    static std::optional<System> systemFromName(const QString &name);
    static QString systemDescription(System system);

    Runtime(System system, QString version) : m_system(system), m_version(std::move(version)) {}

    // Nothing (and a debug line) when the text is no runtime.
    static std::optional<Runtime> fromString(const QString &text);

    System system() const { return m_system; }
    // Exactly as written; never read as numbers.
    QString version() const { return m_version; }
    QString description() const;

    // Equal only with the same version text, although versions such as
    // "17.01" and "17.1" compare as the same in the order.
    friend bool operator==(const Runtime &a, const Runtime &b)
    {
        return a.m_system == b.m_system && a.m_version == b.m_version;
    }
    friend bool operator<(const Runtime &a, const Runtime &b);
    friend bool operator>(const Runtime &a, const Runtime &b) { return b < a; }
    friend bool operator<=(const Runtime &a, const Runtime &b) { return !(b < a); }
    friend bool operator>=(const Runtime &a, const Runtime &b) { return !(a < b); }

private:
    System m_system;
    QString m_version;
};

size_t qHash(const Runtime &runtime, size_t seed = 0);

} // namespace corvane

template <> struct std::hash<corvane::Runtime> {
    size_t operator()(const corvane::Runtime &runtime) const { return corvane::qHash(runtime); }
};
