#include "shortcuts/ShortcutDictionaryTransformer.h"

#include <cmath>
#include <limits>

namespace corvane {

namespace {

// The integer at the start of a text, after blanks and a sign; 0 when it
// starts with none. Saturates instead of overflowing.
qint64 leadingInteger(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    qint64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i].unicode() - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return negative ? std::numeric_limits<qint64>::min()
                            : std::numeric_limits<qint64>::max();
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

std::optional<qint64> integerValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Bool: return value.toLongLong();
    case QMetaType::Double: {
        // Truncated, within range; no number is 0.
        const double number = value.toDouble();
        if (std::isnan(number))
            return 0;
        if (number >= 0x1p63)
            return std::numeric_limits<qint64>::max();
        if (number <= -0x1p63)
            return std::numeric_limits<qint64>::min();
        return qint64(number);
    }
    case QMetaType::QString: return leadingInteger(value.toString());
    default: return std::nullopt;
    }
}

} // namespace

std::optional<Shortcut> ShortcutDictionaryTransformer::transformedValue(const QVariant &value)
{
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = value.toMap();
    const auto keyCode = integerValue(map.value("keyCode"));
    const auto flags = integerValue(map.value("modifierFlags"));
    if (!keyCode || !flags)
        return std::nullopt;
    return Shortcut(*keyCode, uint64_t(*flags));
}

QVariantMap
ShortcutDictionaryTransformer::reverseTransformedValue(const std::optional<Shortcut> &shortcut)
{
    if (!shortcut)
        return {};
    return {{"keyCode", qint64(shortcut->keyCode())},
            {"modifierFlags", qulonglong(shortcut->modifierFlags())}};
}

} // namespace corvane
