#pragma once

#include <cstddef>
#include <exception>
#include <expat.h>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Where and why a text is not well-formed XML, in expat's words.
struct XmlFault {
    std::string message;
    // Both from 1; the column counts characters.
    int line = 1;
    int column = 1;
};

// One expat parser for one whole text, with its memory bounded: the copy of
// the text it keeps, and 32 MiB for its names, attributes and open tags. Real
// files need kilobytes of that; a tag of a million attributes or a nesting a
// million deep is refused as out of memory long before its cost grows.
// Handlers run their work through `guarded`, so that nothing they throw
// crosses expat's C frames.
class ExpatParser {
public:
    // `encoding` overrides the one the text declares; null takes it from the
    // text (a byte-order mark, the declaration, else UTF-8).
    explicit ExpatParser(const char *encoding = nullptr);
    ~ExpatParser();
    ExpatParser(const ExpatParser &) = delete;
    ExpatParser &operator=(const ExpatParser &) = delete;

    XML_Parser get() const { return m_parser; }

    // Ends the parse from a handler; `parse` then gives a fault.
    void stop()
    {
        m_stopped = true;
        XML_StopParser(m_parser, XML_FALSE);
    }

    // expat may still call a handler after a stop (the end of an empty
    // element stopped at its start): the work is skipped then.
    template <class Work> void guarded(Work &&work) noexcept
    {
        if (m_stopped)
            return;
        try {
            work();
        } catch (...) {
            if (!m_thrown)
                m_thrown = std::current_exception();
            stop();
        }
    }

    // Whether the value of attribute `index` (from 0, in the order written)
    // of the tag just started refers to an entity where the text has it:
    // expat expands a declared entity in a value, default handler or not. A
    // character reference is none. For a start handler only.
    bool refersToEntity(int index) const;

    // The first fault, or nothing when the text is well-formed and no handler
    // stopped it. Throws std::bad_alloc past the memory bound, and whatever a
    // handler threw.
    std::optional<XmlFault> parse(std::string_view text);

    struct Budget {
        std::size_t limit = 0;
        std::size_t used = 0;
    };

private:
    Budget m_budget;
    XML_Parser m_parser = nullptr;
    // The text being parsed.
    std::string_view m_text;
    std::exception_ptr m_thrown;
    bool m_stopped = false;
};

} // namespace corvane
