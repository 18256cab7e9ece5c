#pragma once

#include "csv/CSVReaderConfiguration.h"

#include <array>
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
          delimiter_(configuration.delimiter), whitespaces_(configuration.whitespaces)
    {
        for (std::size_t byte = 0x80; byte < 0x100; ++byte)
            unquotedStops_[byte] = quotedStops_[byte] = true;
        unquotedStops_[lineFeed] = unquotedStops_[carriageReturn] = true;
        if (delimiter_ < 0x80)
            unquotedStops_[delimiter_] = true;
        quotedStops_[quote] = true;
        for (char32_t byte = 0; byte < 0x80; ++byte)
            asciiWhitespaces_[byte] = whitespaces_.contains(byte);
    }

    Source &source() { return source_; }

    bool readRow(std::vector<std::string> &row) override
    {
        std::optional<char32_t> scalar = take();
        if (!scalar)
            return false;
        std::size_t count = 0;
        for (;;) {
            if (trimFields_) {
                while (scalar && whitespaces_.contains(*scalar))
                    scalar = take();
            }
            std::string &field = slot(row, count++);
            if (!scalar)
                break;
            const bool rowEnded =
                *scalar == quote ? readQuoted(field) : readUnquoted(*scalar, field);
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

    std::optional<char32_t> take()
    {
        if (back_) [[unlikely]] {
            const char32_t scalar = *back_;
            back_.reset();
            return scalar;
        }
        return source_.next();
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
        const std::optional<char32_t> scalar = take();
        if (scalar && *scalar != lineFeed)
            back_ = scalar;
    }

    // Appends the ASCII bytes up to the next one in `stops`; returns how many.
    std::size_t appendAsciiRun(std::string &field, const std::array<bool, 256> &stops)
    {
        if constexpr (ByteWindowIterator<Source>) {
            if (back_)
                return 0;
            const std::string_view window = source_.window();
            std::size_t length = 0;
            while (length < window.size() && !stops[static_cast<unsigned char>(window[length])])
                ++length;
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
            const std::optional<char32_t> next = take();
            if (!next)
                break;
            scalar = *next;
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
            const std::optional<char32_t> scalar = take();
            if (!scalar)
                return true; // an unclosed quote runs to the end
            if (*scalar != quote) {
                appendUtf8(field, *scalar);
                continue;
            }
            std::optional<char32_t> next = take();
            skipped_.clear();
            if (trimFields_) {
                while (next && whitespaces_.contains(*next)) {
                    appendUtf8(skipped_, *next);
                    next = take();
                }
            }
            if (!next || *next == lineFeed)
                return true;
            if (*next == carriageReturn) {
                takeLineFeedAfterCarriageReturn();
                return true;
            }
            if (*next == delimiter_)
                return false;
            field += '"';
            if (*next == quote)
                continue;
            // A closing quote followed by anything else: the quote and what
            // follows it stay in the field, which goes on.
            field += skipped_;
            appendUtf8(field, *next);
        }
    }

    Source source_;
    std::optional<char32_t> back_;
    bool trimFields_;
    char32_t delimiter_;
    CharacterSet whitespaces_;
    std::array<bool, 256> unquotedStops_{};
    std::array<bool, 256> quotedStops_{};
    std::array<bool, 128> asciiWhitespaces_{};
    std::string skipped_;
};

} // namespace detail
} // namespace corvane
