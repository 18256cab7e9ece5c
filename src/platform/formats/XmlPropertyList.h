#pragma once

#include <QByteArray>
#include <QVariant>

#include <optional>

// The XML form of property lists, read with expat: strict, in time linear in
// the text, with no entity expanded and nothing fetched.
namespace corvane::PropertyList {

// The encoding is the one the text declares or its byte-order mark gives
// (UTF-8, UTF-16, ISO-8859-1 or US-ASCII). Strings and keys come back as XML
// reads them: line ends as line feeds, references decoded, CDATA as written,
// a leading U+FEFF kept. Integers are decimal or "0x" hex with an optional
// sign; reals whatever C's strtod takes ("nan", "+infinity" ...); dates
// "YYYY-MM-DDTHH:MM:SSZ" in UTC; data base64 in padded groups of four,
// whitespace ignored. A repeated key keeps its last value. Anything else,
// text that is not well-formed, an entity declared or referred to, text
// beside the values of a container, a key outside a dictionary or without a
// value, or nesting deeper than `maxNesting` gives nothing. Every value
// takes at least four bytes of text and none is shared, so the tree keeps
// within the binary form's node bound.
std::optional<QVariant> parseXml(const QByteArray &bytes);

// Empty when the value has no property-list form, or holds a string or key
// XML cannot hold (a control character but tab, line feed and CR, U+FFFE,
// U+FFFF, a lone surrogate). Dates are written in whole seconds, rounded
// down; a UID as the dictionary {"CF$UID": value}.
QByteArray encodeXml(const QVariant &value);

} // namespace corvane::PropertyList
