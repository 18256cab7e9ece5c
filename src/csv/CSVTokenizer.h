#pragma once

#include "csv/CSVReaderConfiguration.h"

#include <array>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Anything that hands out Unicode scalars one at a time, empty at the end.
template <class Iterator>
concept ScalarIterator = requires(Iterator &iterator)
{
    {
        iterator.next()
        } -> std::same_as<std::optional<char32_t>>;
};

// A scalar iterator over UTF-8 bytes that also shows the bytes that come
// next, so that runs of plain ASCII can be taken as they stand.
template <class Iterator>
concept ByteWindowIterator = ScalarIterator<Iterator> &&
    requires(Iterator &iterator, std::size_t count)
{
    {
        iterator.window()
        } -> std::same_as<std::string_view>;
    iterator.consume(count);
};

namespace detail {

// Appends `scalar` to `text` in UTF-8; what is no scalar becomes U+FFFD.
inline void appendUtf8(std::string &text, char32_t scalar)
{
    if (scalar < 0x80) {
        text += static_cast<char>(scalar);
        return;
    }
    if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
        scalar = 0xFFFD;
    char bytes[4];
    std::size_t length;
    if (scalar < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | scalar >> 6);
        length = 2;
    } else if (scalar < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | scalar >> 12);
        bytes[1] = static_cast<char>(0x80 | (scalar >> 6 & 0x3F));
        length = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | scalar >> 18);
        bytes[1] = static_cast<char>(0x80 | (scalar >> 12 & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (scalar >> 6 & 0x3F));
        length = 4;
    }
    bytes[length - 1] = static_cast<char>(0x80 | (scalar & 0x3F));
    text.append(bytes, length);
}

// The bytes a run of plain ASCII stops at: every byte from 0x80 and up to
// three ASCII bytes. Looks at eight bytes at a time where it can.
class ByteStops {
public:
    ByteStops(std::initializer_list<char32_t> stops)
    {
        std::size_t count = 0;
        for (char32_t stop : stops) {
            if (stop < 0x80 && count < bytes_.size())
                bytes_[count++] = static_cast<unsigned char>(stop);
        }
        for (std::size_t i = count; i < bytes_.size(); ++i)
            bytes_[i] = bytes_[0];
        for (std::size_t i = 0; i < bytes_.size(); ++i)
            patterns_[i] = bytes_[i] * lowBits;
    }

    // The index of the first stop in `text`, or its size.
    std::size_t find(std::string_view text) const
    {
        const char *data = text.data();
        std::size_t index = 0;
        if constexpr (std::endian::native == std::endian::little) {
            for (; index + 8 <= text.size(); index += 8) {
                std::uint64_t word;
                std::memcpy(&word, data + index, 8);
                // A byte equal to a stop is a zero byte after the xor. The
                // lowest flag is exact; flags above it may not be.
                std::uint64_t flags = word & highBits;
                for (std::uint64_t pattern : patterns_) {
                    const std::uint64_t diff = word ^ pattern;
                    flags |= (diff - lowBits) & ~diff & highBits;
                }
                if (flags != 0)
                    return index + static_cast<std::size_t>(std::countr_zero(flags)) / 8;
            }
        }
        for (; index < text.size(); ++index) {
            const auto byte = static_cast<unsigned char>(data[index]);
            if (byte >= 0x80 || byte == bytes_[0] || byte == bytes_[1] || byte == bytes_[2])
                return index;
        }
        return text.size();
    }

private:
    static constexpr std::uint64_t lowBits = 0x0101010101010101;
    static constexpr std::uint64_t highBits = 0x8080808080808080;
    std::array<unsigned char, 3> bytes_{};
    std::array<std::uint64_t, 3> patterns_{};
};

// Rows out of scalars, whatever their source.
class RowSource {
public:
    virtual ~RowSource() = default;
    // Fills `row` with the next row, reusing its strings; false at the end.
    virtual bool readRow(std::vector<std::string> &row) = 0;
};

// The tokenizer: one scalar at a time with one scalar of push-back, built
// into `RowSource` once per kind of source so that no step goes through an
// indirect call. Over a byte window, runs of ASCII that cannot end or change
// a field are appended in one go; they are the scalars the source would have
// given one by one.
template <ScalarIterator Source> class CSVTokenizer final : public RowSource {
public:
    CSVTokenizer(Source source, const CSVReaderConfiguration &configuration)
        : source_(std::move(source)), trimFields_(configuration.trimFields),
          delimiter_(configuration.delimiter), whitespaces_(configuration.whitespaces),
          unquotedStops_{lineFeed, carriageReturn, configuration.delimiter}, quotedStops_{quote}
    {
        for (char32_t byte = 0; byte < 0x80; ++byte)
            asciiWhitespaces_[byte] = whitespaces_.contains(byte);
    }

    Source &source() { return source_; }

    bool readRow(std::vector<std::string> &row) override
    {
        char32_t scalar = take();
        if (scalar == none)
            return false;
        std::size_t count = 0;
        for (;;) {
            if (trimFields_) {
                while (scalar != none && whitespaces_.contains(scalar))
                    scalar = take();
            }
            std::string &field = slot(row, count++);
            if (scalar == none)
                break;
            const bool rowEnded = scalar == quote ? readQuoted(field) : readUnquoted(scalar, field);
            if (rowEnded)
                break;
            scalar = take();
        }
        row.resize(count);
        return true;
    }

private:
    static constexpr char32_t quote = U'"';
    static constexpr char32_t lineFeed = U'\n';
    static constexpr char32_t carriageReturn = U'\r';
    // No scalar: the input has ended (for now). Plain values rather than
    // optionals keep the loops below in registers.
    static constexpr char32_t none = 0xFFFFFFFF;

    [[gnu::always_inline]] char32_t take()
    {
        if (back_ != none) [[unlikely]] {
            const char32_t scalar = back_;
            back_ = none;
            return scalar;
        }
        if constexpr (ByteWindowIterator<Source>) {
            const std::string_view window = source_.window();
            if (!window.empty() && static_cast<unsigned char>(window.front()) < 0x80) [[likely]] {
                source_.consume(1);
                return static_cast<char32_t>(window.front());
            }
        }
        return takeFromSource();
    }

    // Kept out of the loops, which mostly meet ASCII.
    [[gnu::noinline]] char32_t takeFromSource()
    {
        const std::optional<char32_t> scalar = source_.next();
        if (!scalar)
            return none;
        return *scalar == none ? 0xFFFD : *scalar;
    }

    static std::string &slot(std::vector<std::string> &row, std::size_t index)
    {
        if (index < row.size()) {
            row[index].clear();
            return row[index];
        }
        return row.emplace_back();
    }

    // After a CR: a following LF belongs to it; anything else waits.
    void takeLineFeedAfterCarriageReturn()
    {
        const char32_t scalar = take();
        if (scalar != lineFeed)
            back_ = scalar;
    }

    // Appends the ASCII bytes up to the next one in `stops`; returns how many.
    std::size_t appendAsciiRun(std::string &field, const ByteStops &stops)
    {
        if constexpr (ByteWindowIterator<Source>) {
            if (back_ != none)
                return 0;
            const std::string_view window = source_.window();
            const std::size_t length = stops.find(window);
            if (length > 0) {
                field.append(window.data(), length);
                source_.consume(length);
            }
            return length;
        } else {
            (void)field;
            (void)stops;
            return 0;
        }
    }

    // Returns whether the row ends with the field.
    bool readUnquoted(char32_t scalar, std::string &field)
    {
        bool rowEnded = true;
        std::size_t kept = 0; // bytes up to the last scalar that is no whitespace
        for (;;) {
            if (scalar == lineFeed)
                break;
            if (scalar == carriageReturn) {
                takeLineFeedAfterCarriageReturn();
                break;
            }
            if (scalar == delimiter_) {
                rowEnded = false;
                break;
            }
            appendUtf8(field, scalar);
            if (!trimFields_ || !whitespaces_.contains(scalar))
                kept = field.size();
            if (const std::size_t run = appendAsciiRun(field, unquotedStops_);
                run > 0 && trimFields_) {
                for (std::size_t end = field.size(); end > field.size() - run; --end) {
                    if (!asciiWhitespaces_[static_cast<unsigned char>(field[end - 1])]) {
                        kept = end;
                        break;
                    }
                }
            }
            scalar = take();
            if (scalar == none)
                break;
        }
        if (trimFields_)
            field.resize(kept);
        return rowEnded;
    }

    // The opening quote is taken. Returns whether the row ends with the field.
    bool readQuoted(std::string &field)
    {
        for (;;) {
            appendAsciiRun(field, quotedStops_);
            const char32_t scalar = take();
            if (scalar == none)
                return true; // an unclosed quote runs to the end
            if (scalar != quote) {
                appendUtf8(field, scalar);
                continue;
            }
            char32_t next = take();
            skipped_.clear();
            if (trimFields_) {
                while (next != none && whitespaces_.contains(next)) {
                    appendUtf8(skipped_, next);
                    next = take();
                }
            }
            if (next == none || next == lineFeed)
                return true;
            if (next == carriageReturn) {
                takeLineFeedAfterCarriageReturn();
                return true;
            }
            if (next == delimiter_)
                return false;
            field += '"';
            if (next == quote)
                continue;
            // A closing quote followed by anything else: the quote and what
            // follows it stay in the field, which goes on.
            field += skipped_;
            appendUtf8(field, next);
        }
    }

    Source source_;
    char32_t back_ = none;
    bool trimFields_;
    char32_t delimiter_;
    CharacterSet whitespaces_;
    ByteStops unquotedStops_;
    ByteStops quotedStops_;
    std::array<bool, 128> asciiWhitespaces_{};
    std::string skipped_;
};

} // namespace detail
} // namespace corvane
