#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace corvane::fuzz {

// The input as text, decoded as UTF-8 (bad sequences become U+FFFD), as the
// runner hands a tool's output to the parsers.
inline QString text(const std::uint8_t *data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input split at every line break, as the parsers split it.
inline QStringList lines(const QString &text)
{
    QStringList result;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const char16_t c = i < text.size() ? text[i].unicode() : u'\n';
        if ((c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029) {
            result << text.mid(start, i - start);
            start = i + 1;
        }
    }
    return result;
}

// A parser and its reference disagree: a fault, kept by the fuzzer as a crash.
inline void check(bool holds)
{
    if (!holds)
        std::abort();
}

// The backtracking reference patterns take long on long lines; they judge
// only lines up to this length.
constexpr qsizetype kReferenceLineLength = 400;

} // namespace corvane::fuzz
