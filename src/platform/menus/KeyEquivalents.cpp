#include "platform/menus/KeyEquivalents.h"

#include <QKeyCombination>
#include <QList>

#include <utility>

namespace corvane::KeyEquivalents {

namespace {

// Keys without a character of their own, and the character a key
// equivalent names each by.
const std::vector<std::pair<Qt::Key, char16_t>> &specialKeys()
{
    static const std::vector<std::pair<Qt::Key, char16_t>> keys = [] {
        std::vector<std::pair<Qt::Key, char16_t>> k{
            {Qt::Key_Return, 0x000D},    {Qt::Key_Tab, 0x0009},      {Qt::Key_Space, 0x0020},
            {Qt::Key_Backspace, 0x0008}, {Qt::Key_Escape, 0x001B},   {Qt::Key_Up, 0xF700},
            {Qt::Key_Down, 0xF701},      {Qt::Key_Left, 0xF702},     {Qt::Key_Right, 0xF703},
            {Qt::Key_Delete, 0xF728},    {Qt::Key_Home, 0xF729},     {Qt::Key_End, 0xF72B},
            {Qt::Key_PageUp, 0xF72C},    {Qt::Key_PageDown, 0xF72D}, {Qt::Key_Insert, 0xF746},
        };
        for (int i = 0; i < 19; ++i)
            k.emplace_back(Qt::Key(Qt::Key_F1 + i), char16_t(0xF704 + i));
        return k;
    }();
    return keys;
}

// Qt's names on Linux: Control stands where the Command key does.
constexpr std::pair<Qt::KeyboardModifier, KeyModifier> modifierPairs[] = {
    {Qt::ControlModifier, KeyModifier::Command},
    {Qt::MetaModifier, KeyModifier::Control},
    {Qt::AltModifier, KeyModifier::Option},
    {Qt::ShiftModifier, KeyModifier::Shift},
};

} // namespace

KeyModifiers fromQtModifiers(Qt::KeyboardModifiers modifiers)
{
    KeyModifiers result;
    for (const auto &[qt, ours] : modifierPairs)
        if (modifiers & qt)
            result |= ours;
    return result;
}

QKeySequence keySequence(const QString &key, KeyModifiers mask)
{
    if (key.isEmpty())
        return {};
    const QChar first = key.at(0);
    Qt::KeyboardModifiers modifiers;
    for (const auto &[qt, ours] : modifierPairs)
        if (mask & ours)
            modifiers |= qt;
    if (first.isLetter() && first.isUpper())
        modifiers |= Qt::ShiftModifier;
    Qt::Key qtKey = Qt::Key(first.toUpper().unicode());
    for (const auto &[special, character] : specialKeys())
        if (character == first.unicode())
            qtKey = special;
    return QKeySequence(QKeyCombination(modifiers, qtKey));
}

std::optional<KeyEquivalent> fromKeyCombination(QKeyCombination combination)
{
    const Qt::Key qtKey = combination.key();
    KeyEquivalent result;
    for (const auto &[special, character] : specialKeys())
        if (special == qtKey)
            result.key = QString(QChar(character));
    if (result.key.isEmpty()) {
        // Keys that type a character are named by it.
        if (qtKey <= 0x20 || qtKey >= 0x10000 || !QChar(char16_t(qtKey)).isPrint())
            return std::nullopt;
        result.key = QString(QChar(char16_t(qtKey))).toLower();
    }
    result.modifiers = fromQtModifiers(combination.keyboardModifiers());
    return result;
}

bool matches(const QString &key, KeyModifiers mask, QKeyCombination pressed,
             const QString &unshifted)
{
    const QKeySequence sequence = keySequence(key, mask);
    if (sequence.isEmpty())
        return false;
    const QKeyCombination expected = sequence[0];
    constexpr Qt::KeyboardModifiers chordModifiers =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if ((pressed.keyboardModifiers() & chordModifiers) != expected.keyboardModifiers())
        return false;
    Qt::Key pressedKey = pressed.key();
    if (pressedKey == Qt::Key_Enter)
        pressedKey = Qt::Key_Return;
    else if (pressedKey == Qt::Key_Backtab)
        pressedKey = Qt::Key_Tab;
    if (pressedKey == expected.key())
        return true;
    const QChar first = key.at(0);
    const bool namesCharacter = first.isPrint() && first != QLatin1Char(' ');
    return namesCharacter && !unshifted.isEmpty() &&
           unshifted.compare(key, Qt::CaseInsensitive) == 0;
}

std::vector<KeyEquivalent> forStandardKey(QKeySequence::StandardKey standardKey)
{
    std::vector<KeyEquivalent> result;
    for (const QKeySequence &sequence : QKeySequence::keyBindings(standardKey))
        if (sequence.count() == 1)
            if (auto equivalent = fromKeyCombination(sequence[0]))
                result.push_back(*equivalent);
    return result;
}

} // namespace corvane::KeyEquivalents
