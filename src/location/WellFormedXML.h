#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Where a document first breaks the well-formedness rules of XML 1.0.
struct XMLFault {
    // A byte offset into the text.
    std::size_t offset = 0;
    // "not well-formed (…)", saying what is wrong there.
    std::string message;
};

// Checks UTF-8 text against the rules of XML 1.0 that make a document
// well-formed: one root element, after an optional declaration at the very
// start and an optional document type; nothing but white space, comments and
// processing instructions around it; tags that match and are properly
// nested, attributes quoted and not repeated, no '<' in their values;
// references that are complete and name a character or an entity the
// document may define (the five predefined ones when it has no document
// type); comments without "--", no "]]>" in text; only characters XML
// allows, in valid UTF-8. Namespaces are not checked, and the internal part
// of a document type is only skipped. The first fault found, or none; each
// byte is looked at a bounded number of times.
std::optional<XMLFault> firstWellFormednessFault(std::string_view text);

} // namespace corvane
