#include "shortcuts/Shortcut.h"

#include "platform/hotkeys/KeyCodes.h"
#include "platform/hotkeys/KeyboardLayout.h"
#include "platform/formats/PropertyList.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QVariantList>
#include <QVariantMap>

#include <climits>
#include <unordered_map>

namespace corvane {

namespace {

constexpr uint64_t kShift = Shortcut::Shift;
constexpr uint64_t kControl = Shortcut::Control;
constexpr uint64_t kOption = Shortcut::Option;
constexpr uint64_t kCommand = Shortcut::Command;

const QString kClassName = QStringLiteral("Shortcut");

// Names of the keys that type no character, by Carbon key code.
const std::unordered_map<int64_t, QString> &fixedNames()
{
    static const std::unordered_map<int64_t, QString> names = [] {
        std::unordered_map<int64_t, QString> n;
        for (int i = 0; i < 19; ++i)
            n[KeyCodes::functionKeys[i]] = "F" + QString::number(i + 1);
        const int keypadDigits[] = {82, 83, 84, 85, 86, 87, 88, 89, 91, 92};
        for (int i = 0; i < 10; ++i)
            n[keypadDigits[i]] = QString::number(i);
        const std::pair<int, const char *> keypad[] = {{65, "."}, {67, "*"}, {69, "+"},
                                                       {75, "/"}, {78, "-"}, {81, "="}};
        for (const auto &[code, text] : keypad)
            n[code] = QString::fromLatin1(text);
        const std::pair<int, char16_t> symbols[] = {
            {36, 0x21A9},  {48, 0x21E5},  {51, 0x232B},  {53, 0x238B},
            {71, 0x2327},  {76, 0x2305},  {114, 0x003F}, {115, 0x2196},
            {116, 0x21DE}, {117, 0x2326}, {119, 0x2198}, {121, 0x21DF},
            {123, 0x2190}, {124, 0x2192}, {125, 0x2193}, {126, 0x2191},
        };
        for (const auto &[code, character] : symbols)
            n[code] = QString(QChar(character));
        return n;
    }();
    return names;
}

// The characters menus use for keys that type none or a control character.
const std::unordered_map<int64_t, char16_t> &keyEquivalentCharacters()
{
    static const std::unordered_map<int64_t, char16_t> characters = [] {
        std::unordered_map<int64_t, char16_t> c{
            {36, 0x000D},  {48, 0x0009},  {49, 0x0020},  {51, 0x0008},  {53, 0x001B},
            {126, 0xF700}, {125, 0xF701}, {123, 0xF702}, {124, 0xF703}, {117, 0xF728},
            {115, 0xF729}, {119, 0xF72B}, {116, 0xF72C}, {121, 0xF72D}, {114, 0xF746},
        };
        for (int i = 0; i < 19; ++i)
            c[KeyCodes::functionKeys[i]] = char16_t(0xF704 + i);
        return c;
    }();
    return characters;
}

bool isDisplayable(const QString &text)
{
    for (QChar character : text)
        if (!(character.isLetterOrNumber() || character.isMark() || character.isPunct() ||
              character.isSymbol()))
            return false;
    return true;
}

std::optional<uint64_t> archivedInteger(const QVariantMap &object, const QString &key)
{
    const auto found = object.find(key);
    if (found == object.end() || found->typeId() != QMetaType::LongLong)
        return std::nullopt;
    return uint64_t(found->toLongLong());
}

// An index into "$objects": the parser reads references as integers.
std::optional<QVariantMap> referencedObject(const QVariantList &objects, const QVariant &reference)
{
    if (reference.typeId() != QMetaType::LongLong)
        return std::nullopt;
    const qint64 index = reference.toLongLong();
    if (index < 0 || index >= objects.size() || objects[index].typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return objects[index].toMap();
}

// Keys a key event names without a usable scan code.
const std::unordered_map<int, int> &carbonForQtKeys()
{
    static const std::unordered_map<int, int> keys = [] {
        std::unordered_map<int, int> k{
            {Qt::Key_Return, 36},  {Qt::Key_Enter, 76},   {Qt::Key_Tab, 48},
            {Qt::Key_Backtab, 48}, {Qt::Key_Space, 49},   {Qt::Key_Backspace, 51},
            {Qt::Key_Escape, 53},  {Qt::Key_Delete, 117}, {Qt::Key_Home, 115},
            {Qt::Key_End, 119},    {Qt::Key_PageUp, 116}, {Qt::Key_PageDown, 121},
            {Qt::Key_Left, 123},   {Qt::Key_Right, 124},  {Qt::Key_Down, 125},
            {Qt::Key_Up, 126},     {Qt::Key_Insert, 114}, {Qt::Key_Help, 114},
        };
        for (int i = 0; i < int(KeyCodes::functionKeys.size()); ++i)
            k[Qt::Key_F1 + i] = KeyCodes::functionKeys[i];
        return k;
    }();
    return keys;
}

int64_t carbonKeyOf(const QKeyEvent &event)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb") && event.nativeScanCode())
        return KeyCodes::carbonForXKeycode(int(event.nativeScanCode()))
            .value_or(Shortcut::NotFound);
    if (auto found = carbonForQtKeys().find(event.key()); found != carbonForQtKeys().end())
        return found->second;
    if (event.key() > 0 && event.key() < 0x10000)
        if (auto code = KeyCodes::carbonForUSLayoutCharacter(QString(QChar(event.key()))))
            return *code;
    return Shortcut::NotFound;
}

} // namespace

QString shortcutText(const char *english)
{
    return QCoreApplication::translate("Shortcut", english);
}

Shortcut::Shortcut(int64_t keyCode, uint64_t modifierFlags)
    : m_keyCode(keyCode), m_modifierFlags(modifierFlags & modifierMask)
{
}

Shortcut Shortcut::fromKeyEvent(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    uint64_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= kShift;
    if (modifiers & Qt::MetaModifier)
        flags |= kControl;
    if (modifiers & Qt::AltModifier)
        flags |= kOption;
    if (modifiers & Qt::ControlModifier)
        flags |= kCommand;
    return Shortcut(carbonKeyOf(event), flags);
}

uint32_t Shortcut::carbonKeyCode() const
{
    return m_keyCode == NotFound ? 0 : uint32_t(m_keyCode);
}

uint32_t Shortcut::carbonFlags() const
{
    uint32_t flags = 0;
    if (m_modifierFlags & kCommand)
        flags |= KeyCodes::cmdKey;
    if (m_modifierFlags & kShift)
        flags |= KeyCodes::shiftKey;
    if (m_modifierFlags & kOption)
        flags |= KeyCodes::optionKey;
    if (m_modifierFlags & kControl)
        flags |= KeyCodes::controlKey;
    return flags;
}

QString Shortcut::modifierFlagsString() const
{
    QString text;
    if (m_modifierFlags & kControl)
        text += QChar(0x2303);
    if (m_modifierFlags & kOption)
        text += QChar(0x2325);
    if (m_modifierFlags & kShift)
        text += QChar(0x21E7);
    if (m_modifierFlags & kCommand)
        text += QChar(0x2318);
    return text;
}

QString Shortcut::keyCodeString() const
{
    if (m_keyCode == NotFound)
        return {};
    if (auto name = fixedNames().find(m_keyCode); name != fixedNames().end())
        return name->second;
    if (m_keyCode == 49)
        return shortcutText("Space");
    if (m_keyCode < 0 || m_keyCode > INT_MAX)
        return {};
    const QString typed = KeyboardLayout::characterForKey(int(m_keyCode));
    if (!isDisplayable(typed))
        return {};
    return typed.toUpper();
}

QString Shortcut::keyCodeStringForKeyEquivalent() const
{
    const auto &characters = keyEquivalentCharacters();
    if (auto found = characters.find(m_keyCode); found != characters.end())
        return QString(QChar(found->second));
    return keyCodeString().toLower();
}

KeyModifiers Shortcut::keyEquivalentModifierMask() const
{
    return KeyModifiers::fromInt(int(m_modifierFlags & modifierMask));
}

QString Shortcut::description() const
{
    return modifierFlagsString() + keyCodeString();
}

QByteArray Shortcut::archived() const
{
    using PropertyList::Uid;
    const QVariantMap object{
        {"$class", QVariant::fromValue(Uid{2})},
        {"KeyCode", qint64(m_keyCode == NotFound ? -1 : m_keyCode)},
        {"ModifierFlags", qulonglong(m_modifierFlags)},
    };
    const QVariantMap classInfo{{"$classname", kClassName},
                                {"$classes", QVariantList{kClassName, "NSObject"}}};
    const QVariantMap archive{{"$archiver", "NSKeyedArchiver"},
                              {"$version", 100000},
                              {"$objects", QVariantList{"$null", object, classInfo}},
                              {"$top", QVariantMap{{"root", QVariant::fromValue(Uid{1})}}}};
    return PropertyList::toBinary(archive);
}

std::optional<Shortcut> Shortcut::fromArchive(const QByteArray &bytes)
{
    const auto parsed = PropertyList::parse(bytes);
    if (!parsed || parsed->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap archive = parsed->toMap();
    if (archive.value("$archiver").toString() != "NSKeyedArchiver" ||
        archive.value("$objects").typeId() != QMetaType::QVariantList ||
        archive.value("$top").typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantList objects = archive.value("$objects").toList();
    const auto root = referencedObject(objects, archive.value("$top").toMap().value("root"));
    if (!root)
        return std::nullopt;
    const auto classInfo = referencedObject(objects, root->value("$class"));
    if (!classInfo || classInfo->value("$classname").toString() != kClassName)
        return std::nullopt;
    const auto keyCode = archivedInteger(*root, "KeyCode");
    const auto flags = archivedInteger(*root, "ModifierFlags");
    if (!keyCode || !flags)
        return std::nullopt;
    // Read unsigned: -1 and anything beyond the signed range mean no key.
    const int64_t key = *keyCode > uint64_t(NotFound) ? NotFound : int64_t(*keyCode);
    return Shortcut(key, *flags, Unmasked{});
}

std::optional<Shortcut> Shortcut::fromStoredValue(const std::optional<QVariant> &value)
{
    if (!value || value->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return fromArchive(value->toByteArray());
}

} // namespace corvane
