#include "location/WellFormedXML.h"

#include <algorithm>
#include <array>
#include <unordered_set>
#include <vector>

namespace corvane {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// One character of UTF-8 text: its code point and length; length 0 for a
// byte sequence that is no valid UTF-8.
struct Character {
    char32_t code = 0;
    std::size_t length = 0;
};

Character decode(std::string_view text, std::size_t at)
{
    const auto first = static_cast<unsigned char>(text[at]);
    if (first < 0x80)
        return {first, 1};
    std::size_t length = 0;
    char32_t code = 0, least = 0;
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        code = first & 0x1F;
        least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        code = first & 0x0F;
        least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        code = first & 0x07;
        least = 0x10000;
    } else {
        return {};
    }
    if (at + length > text.size())
        return {};
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80)
            return {};
        code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are invalid.
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {};
    return {code, length};
}

bool isXMLCharacter(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

constexpr bool isNameStart(char32_t c)
{
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

constexpr bool isNameCharacter(char32_t c)
{
    return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// How a byte of text between markup is handled.
enum class TextByte : unsigned char { plain, stop, bracket, control, multibyte };

constexpr std::array<TextByte, 256> textBytes = [] {
    std::array<TextByte, 256> table{};
    for (int b = 0; b < 0x20; ++b)
        table[b] = TextByte::control;
    table['\t'] = table['\n'] = table['\r'] = TextByte::plain;
    table['<'] = table['&'] = TextByte::stop;
    table[']'] = TextByte::bracket;
    for (int b = 0x80; b < 0x100; ++b)
        table[b] = TextByte::multibyte;
    return table;
}();

constexpr std::array<bool, 128> asciiNameCharacters = [] {
    std::array<bool, 128> table{};
    for (char32_t c = 0; c < 128; ++c)
        table[c] = isNameCharacter(c);
    return table;
}();

class Checker {
public:
    explicit Checker(std::string_view text) : m_text(text) {}

    std::optional<XMLFault> run()
    {
        try {
            document();
        } catch (const XMLFault &fault) {
            return fault;
        }
        return std::nullopt;
    }

private:
    [[noreturn]] void fail(std::size_t at, const char *what) const
    {
        throw XMLFault{at, std::string("not well-formed (") + what + ")"};
    }

    bool atEnd() const { return m_at >= m_text.size(); }
    bool at(std::string_view prefix) const { return m_text.substr(m_at).starts_with(prefix); }
    char here() const { return m_text[m_at]; }

    bool skipSpace()
    {
        const std::size_t from = m_at;
        while (!atEnd() && isSpace(here()))
            ++m_at;
        return m_at > from;
    }

    void requireSpace()
    {
        if (!skipSpace())
            fail(m_at, "white space expected");
    }

    void expect(char c, const char *what)
    {
        if (atEnd() || here() != c)
            fail(m_at, what);
        ++m_at;
    }

    void expect(std::string_view word, const char *what)
    {
        if (!at(word))
            fail(m_at, what);
        m_at += word.size();
    }

    // One character of any kind XML allows.
    void character()
    {
        const auto byte = static_cast<unsigned char>(here());
        if (byte < 0x80) {
            if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r')
                fail(m_at, "a character XML does not allow");
            ++m_at;
            return;
        }
        const Character c = decode(m_text, m_at);
        if (c.length == 0)
            fail(m_at, "invalid UTF-8");
        if (!isXMLCharacter(c.code))
            fail(m_at, "a character XML does not allow");
        m_at += c.length;
    }

    // The next character, which must be valid UTF-8, without taking it.
    Character peek() const
    {
        const Character c = decode(m_text, m_at);
        if (c.length == 0)
            fail(m_at, "invalid UTF-8");
        return c;
    }

    std::string_view name()
    {
        const std::size_t start = m_at;
        if (atEnd())
            fail(m_at, "a name expected");
        const Character first = peek();
        if (!isNameStart(first.code))
            fail(m_at, "a name expected");
        m_at += first.length;
        while (!atEnd()) {
            const auto byte = static_cast<unsigned char>(here());
            if (byte < 0x80) {
                if (!asciiNameCharacters[byte])
                    break;
                ++m_at;
                continue;
            }
            const Character c = peek();
            if (!isNameCharacter(c.code))
                break;
            m_at += c.length;
        }
        return m_text.substr(start, m_at - start);
    }

    // Takes characters up to `end`, which must come, and takes it too.
    void until(std::string_view end, const char *unclosed)
    {
        while (!at(end)) {
            if (atEnd())
                fail(m_at, unclosed);
            character();
        }
        m_at += end.size();
    }

    void quoted(const char *what)
    {
        if (atEnd() || (here() != '"' && here() != '\''))
            fail(m_at, what);
        const char quote = here();
        ++m_at;
        until(std::string_view(&quote, 1), "a quoted value left open");
    }

    void equals()
    {
        skipSpace();
        expect('=', "'=' expected");
        skipSpace();
    }

    void document()
    {
        if (at("<?xml") && m_text.size() > 5 && (isSpace(m_text[5]) || m_text[5] == '?'))
            declaration();
        bool sawRoot = false;
        for (;;) {
            skipSpace();
            if (atEnd())
                break;
            if (comment() || processingInstruction())
                continue;
            if (at("<!DOCTYPE")) {
                if (sawRoot || m_sawDocumentType)
                    fail(m_at, "a document type out of place");
                documentType();
            } else if (at("</")) {
                fail(m_at, "a closing tag without its element");
            } else if (here() == '<' && !at("<!")) {
                if (sawRoot)
                    fail(m_at, "a second root element");
                rootElement();
                sawRoot = true;
            } else {
                fail(m_at,
                     sawRoot ? "text after the root element" : "text before the root element");
            }
        }
        if (!sawRoot)
            fail(m_at, "no root element");
    }

    void declaration()
    {
        m_at += 5;
        requireSpace();
        expect("version", "a version expected");
        equals();
        if (!(at("\"1.") || at("'1.")))
            fail(m_at, "a version expected");
        quoted("a version expected");
        bool spaced = skipSpace();
        if (spaced && at("encoding")) {
            m_at += 8;
            equals();
            quoted("an encoding name expected");
            spaced = skipSpace();
        }
        if (spaced && at("standalone")) {
            m_at += 10;
            equals();
            if (!(at("\"yes\"") || at("'yes'") || at("\"no\"") || at("'no'")))
                fail(m_at, "yes or no expected");
            quoted("yes or no expected");
            skipSpace();
        }
        expect("?>", "the end of the declaration expected");
    }

    void documentType()
    {
        m_sawDocumentType = true;
        m_at += 9;
        requireSpace();
        name();
        skipSpace();
        if (at("SYSTEM")) {
            m_at += 6;
            requireSpace();
            quoted("a system identifier expected");
        } else if (at("PUBLIC")) {
            m_at += 6;
            requireSpace();
            quoted("a public identifier expected");
            requireSpace();
            quoted("a system identifier expected");
        }
        skipSpace();
        if (!atEnd() && here() == '[') {
            ++m_at;
            internalSubset();
            skipSpace();
        }
        expect('>', "the end of the document type expected");
    }

    // Declarations are skipped, their quoted parts whole.
    void internalSubset()
    {
        for (;;) {
            if (atEnd())
                fail(m_at, "a document type left open");
            if (here() == ']') {
                ++m_at;
                return;
            }
            if (comment() || processingInstruction())
                continue;
            if (at("<!")) {
                m_at += 2;
                while (!atEnd() && here() != '>') {
                    if (here() == '"' || here() == '\'')
                        quoted("a quoted value expected");
                    else
                        character();
                }
                expect('>', "a declaration left open");
            } else if (here() == '%') {
                ++m_at;
                name();
                expect(';', "';' expected");
            } else if (!skipSpace()) {
                fail(m_at, "text in the document type");
            }
        }
    }

    // Comments and processing instructions may stand wherever markup may:
    // each takes one, or is false when none starts here.
    bool processingInstruction()
    {
        if (!at("<?"))
            return false;
        const std::size_t start = m_at;
        m_at += 2;
        const std::string_view target = name();
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
            (target[2] | 0x20) == 'l')
            fail(start, "an XML declaration out of place");
        if (at("?>")) {
            m_at += 2;
            return true;
        }
        requireSpace();
        until("?>", "a processing instruction left open");
        return true;
    }

    bool comment()
    {
        if (!at("<!--"))
            return false;
        m_at += 4;
        for (;;) {
            if (atEnd())
                fail(m_at, "a comment left open");
            if (at("--")) {
                if (!at("-->"))
                    fail(m_at, "'--' in a comment");
                m_at += 3;
                return true;
            }
            character();
        }
    }

    // The root element and all inside it, without recursion.
    void rootElement()
    {
        startTag();
        while (!m_open.empty()) {
            if (atEnd())
                fail(m_at, "an element left open");
            if (here() == '<') {
                if (at("</"))
                    endTag();
                else if (at("<![CDATA["))
                    cdata();
                else if (comment() || processingInstruction())
                    continue;
                else if (at("<!"))
                    fail(m_at, "markup not allowed in an element");
                else
                    startTag();
            } else if (here() == '&') {
                reference();
            } else {
                text();
            }
        }
    }

    void cdata()
    {
        m_at += 9;
        until("]]>", "a CDATA section left open");
    }

    // Plain bytes, the bulk of any document, are passed over in a tight loop.
    void skipPlain()
    {
        const char *at = m_text.data() + m_at;
        const char *const end = m_text.data() + m_text.size();
        while (at < end && textBytes[static_cast<unsigned char>(*at)] == TextByte::plain)
            ++at;
        m_at = std::size_t(at - m_text.data());
    }

    void text()
    {
        while (!atEnd()) {
            switch (textBytes[static_cast<unsigned char>(here())]) {
            case TextByte::plain: skipPlain(); break;
            case TextByte::stop: return;
            case TextByte::bracket:
                if (at("]]>"))
                    fail(m_at, "']]>' in text");
                ++m_at;
                break;
            case TextByte::control:
            case TextByte::multibyte: character(); break;
            }
        }
    }

    void skipQuotedPlain(char quote)
    {
        const char *at = m_text.data() + m_at;
        const char *const end = m_text.data() + m_text.size();
        while (at < end && *at != quote &&
               textBytes[static_cast<unsigned char>(*at)] == TextByte::plain)
            ++at;
        m_at = std::size_t(at - m_text.data());
    }

    void startTag()
    {
        ++m_at;
        const std::string_view element = name();
        m_attributes.clear();
        // Emptied by letting go: clearing keeps every bucket, and would cost
        // each later tag as much as the largest one before.
        if (!m_manyAttributes.empty())
            m_manyAttributes = {};
        for (;;) {
            const bool spaced = skipSpace();
            if (atEnd())
                fail(m_at, "a tag left open");
            if (here() == '>') {
                ++m_at;
                m_open.push_back(element);
                return;
            }
            if (at("/>")) {
                m_at += 2;
                return;
            }
            if (!spaced)
                fail(m_at, "white space expected before an attribute");
            attribute();
        }
    }

    void attribute()
    {
        const std::size_t start = m_at;
        if (repeated(name()))
            fail(start, "an attribute repeated");
        equals();
        if (atEnd() || (here() != '"' && here() != '\''))
            fail(m_at, "a quoted value expected");
        const char quote = here();
        ++m_at;
        for (;;) {
            if (atEnd())
                fail(m_at, "an attribute value left open");
            const char c = here();
            if (c == quote) {
                ++m_at;
                return;
            }
            switch (textBytes[static_cast<unsigned char>(c)]) {
            case TextByte::plain:
            case TextByte::bracket:
                ++m_at;
                skipQuotedPlain(quote);
                break;
            case TextByte::stop:
                if (c == '<')
                    fail(m_at, "'<' in an attribute value");
                reference();
                break;
            case TextByte::control:
            case TextByte::multibyte: character(); break;
            }
        }
    }

    // Whether the tag already had an attribute of this name; a tag of many
    // attributes is looked up in a set, so that the check stays linear.
    bool repeated(std::string_view attribute)
    {
        constexpr std::size_t listed = 16;
        if (m_attributes.size() < listed) {
            for (std::string_view seen : m_attributes)
                if (seen == attribute)
                    return true;
            m_attributes.push_back(attribute);
            if (m_attributes.size() == listed)
                m_manyAttributes.insert(m_attributes.begin(), m_attributes.end());
            return false;
        }
        return !m_manyAttributes.insert(attribute).second;
    }

    void endTag()
    {
        m_at += 2;
        const std::size_t start = m_at;
        const std::string_view element = name();
        skipSpace();
        expect('>', "'>' expected");
        if (m_open.back() != element)
            fail(start, "a closing tag that does not match the open element");
        m_open.pop_back();
    }

    void reference()
    {
        const std::size_t start = m_at;
        ++m_at;
        if (at("#")) {
            ++m_at;
            const bool hex = at("x");
            m_at += hex ? 1 : 0;
            char32_t code = 0;
            std::size_t digits = 0;
            for (; !atEnd(); ++m_at, ++digits) {
                const char c = here();
                int value;
                if (c >= '0' && c <= '9')
                    value = c - '0';
                else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                    value = (c | 0x20) - 'a' + 10;
                else
                    break;
                // Held just past Unicode's end, however many digits follow.
                code = std::min<char32_t>(code * (hex ? 16 : 10) + char32_t(value), 0x110000);
            }
            expect(';', "';' expected");
            if (digits == 0 || !isXMLCharacter(code))
                fail(start, "a reference to a character XML does not allow");
            return;
        }
        if (atEnd() || !isNameStart(peek().code))
            fail(start, "a '&' that starts no reference");
        const std::string_view entity = name();
        expect(';', "';' expected");
        // A document type may define entities; without one, only these are.
        if (!m_sawDocumentType && entity != "lt" && entity != "gt" && entity != "amp" &&
            entity != "apos" && entity != "quot")
            fail(start, "a reference to an undefined entity");
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    bool m_sawDocumentType = false;
    std::vector<std::string_view> m_open;
    std::vector<std::string_view> m_attributes;
    std::unordered_set<std::string_view> m_manyAttributes;
};

} // namespace

std::optional<XMLFault> firstWellFormednessFault(std::string_view text)
{
    return Checker(text).run();
}

} // namespace corvane
