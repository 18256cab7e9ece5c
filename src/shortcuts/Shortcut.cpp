#include "shortcuts/Shortcut.h"

#include "platform/PropertyList.h"

#include <QVariantList>
#include <QVariantMap>

#include <map>

namespace corvane {

namespace {

constexpr quint64 kModifierMask = 0x1E0000;

std::optional<Shortcut> fromArchivedEntry(const QVariantMap &entry)
{
    if (!entry.contains("KeyCode") || !entry.contains("ModifierFlags"))
        return std::nullopt;
    bool keyOk = false;
    bool flagsOk = false;
    const qint64 keyCode = entry.value("KeyCode").toLongLong(&keyOk);
    const quint64 flags = entry.value("ModifierFlags").toULongLong(&flagsOk);
    if (!keyOk || !flagsOk)
        return std::nullopt;
    return Shortcut{keyCode < 0 ? Shortcut::noKey : keyCode, flags};
}

// The characters of the US keyboard's keys; other layouts come with the
// shortcut recorder.
const std::map<qint64, QString> &layoutKeys()
{
    static const std::map<qint64, QString> keys{
        {0, "a"},   {1, "s"},  {2, "d"},  {3, "f"},  {4, "h"},  {5, "g"},  {6, "z"},  {7, "x"},
        {8, "c"},   {9, "v"},  {11, "b"}, {12, "q"}, {13, "w"}, {14, "e"}, {15, "r"}, {16, "y"},
        {17, "t"},  {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {24, "="},
        {25, "9"},  {26, "7"}, {27, "-"}, {28, "8"}, {29, "0"}, {30, "]"}, {31, "o"}, {32, "u"},
        {33, "["},  {34, "i"}, {35, "p"}, {37, "l"}, {38, "j"}, {39, "'"}, {40, "k"}, {41, ";"},
        {42, "\\"}, {43, ","}, {44, "/"}, {45, "n"}, {46, "m"}, {47, "."}, {50, "`"}, {65, "."},
        {67, "*"},  {69, "+"}, {75, "/"}, {78, "-"}, {81, "="}, {82, "0"}, {83, "1"}, {84, "2"},
        {85, "3"},  {86, "4"}, {87, "5"}, {88, "6"}, {89, "7"}, {91, "8"}, {92, "9"},
    };
    return keys;
}

const std::map<qint64, char16_t> &specialKeys()
{
    static const std::map<qint64, char16_t> keys{
        {36, 0x000D},  {48, 0x0009},  {49, 0x0020},  {51, 0x0008},  {53, 0x001B},  {122, 0xF704},
        {120, 0xF705}, {99, 0xF706},  {118, 0xF707}, {96, 0xF708},  {97, 0xF709},  {98, 0xF70A},
        {100, 0xF70B}, {101, 0xF70C}, {109, 0xF70D}, {103, 0xF70E}, {111, 0xF70F}, {105, 0xF710},
        {107, 0xF711}, {113, 0xF712}, {106, 0xF713}, {64, 0xF714},  {79, 0xF715},  {80, 0xF716},
        {126, 0xF700}, {125, 0xF701}, {123, 0xF702}, {124, 0xF703}, {117, 0xF728}, {115, 0xF729},
        {119, 0xF72B}, {116, 0xF72C}, {121, 0xF72D}, {114, 0xF746},
    };
    return keys;
}

} // namespace

std::optional<Shortcut> Shortcut::fromStoredValue(const std::optional<QVariant> &value)
{
    if (!value || !value->isValid())
        return std::nullopt;
    QVariant archive = *value;
    if (archive.typeId() == QMetaType::QByteArray) {
        auto parsed = PropertyList::parse(archive.toByteArray());
        if (!parsed)
            return std::nullopt;
        archive = *parsed;
    }
    if (archive.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap root = archive.toMap();
    if (auto direct = fromArchivedEntry(root))
        return direct;
    for (const QVariant &object : root.value("$objects").toList()) {
        if (object.typeId() != QMetaType::QVariantMap)
            continue;
        if (auto shortcut = fromArchivedEntry(object.toMap()))
            return shortcut;
    }
    return std::nullopt;
}

QByteArray Shortcut::archived() const
{
    const QVariantMap entry{{"KeyCode", keyCode}, {"ModifierFlags", modifierFlags}};
    const QVariantMap archive{{"$archiver", "NSKeyedArchiver"},
                              {"$version", 100000},
                              {"$objects", QVariantList{"$null", entry}},
                              {"$top", QVariantMap{{"root", 1}}}};
    return PropertyList::toBinary(archive);
}

std::optional<QString> Shortcut::keyCodeStringForKeyEquivalent() const
{
    if (auto special = specialKeys().find(keyCode); special != specialKeys().end())
        return QString(QChar(special->second));
    if (auto key = layoutKeys().find(keyCode); key != layoutKeys().end())
        return key->second;
    return std::nullopt;
}

KeyModifiers Shortcut::keyEquivalentModifierMask() const
{
    return KeyModifiers::fromInt(int(modifierFlags & kModifierMask));
}

} // namespace corvane
