#include "model/Runtime.h"

#include "core/StringCompare.h"
#include "platform/Log.h"

#include <QRegularExpression>

namespace corvane {

std::optional<Runtime::System> Runtime::systemFromRawValue(int rawValue)
{
    if (rawValue < 0 || rawValue > 3)
        return std::nullopt;
    return static_cast<System>(rawValue);
}

std::optional<Runtime::System> Runtime::systemFromName(const QString &name)
{
    const QString lower = name.toLower();
    if (lower == "ios" || lower == "iphoneos")
        return System::iOS;
    if (lower == "watchos")
        return System::watchOS;
    if (lower == "tvos")
        return System::tvOS;
    if (lower == "visionos")
        return System::visionOS;
    return std::nullopt;
}

QString Runtime::systemDescription(System system)
{
    switch (system) {
    case System::iOS: return QStringLiteral("iOS");
    case System::watchOS: return QStringLiteral("watchOS");
    case System::tvOS: return QStringLiteral("tvOS");
    case System::visionOS: return QStringLiteral("visionOS");
    }
    return {};
}

std::optional<Runtime> Runtime::fromString(const QString &text)
{
    // Unicode properties give \w, \d and \s the reach of the platform engine's.
    // Compiled once: a listing reads a runtime heading per group.
    static const QRegularExpression expression(QStringLiteral(R"(^\s*(\w+)\s(\d+(\.\d+)+)\s*$)"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    const auto match = expression.match(text);
    if (match.hasMatch() && match.hasCaptured(1) && match.hasCaptured(2)) {
        if (const auto system = systemFromName(match.captured(1)))
            return Runtime(*system, match.captured(2));
    }
    Log::device().debug("Invalid runtime: %{PUBLIC}@", text);
    return std::nullopt;
}

QString Runtime::description() const
{
    return systemDescription(m_system) + ' ' + m_version;
}

bool operator<(const Runtime &a, const Runtime &b)
{
    if (a.m_system != b.m_system)
        return static_cast<int>(a.m_system) < static_cast<int>(b.m_system);
    return standardCompare(a.m_version, b.m_version) == ComparisonResult::Descending;
}

size_t qHash(const Runtime &runtime, size_t seed)
{
    return qHashMulti(seed, static_cast<int>(runtime.system()), runtime.version());
}

} // namespace corvane
