#pragma once

#include <QByteArray>
#include <QVariant>

#include <optional>

// The XML form of property lists. The text is parsed by pugixml, which
// expands no DOCTYPE or entity of its own and keeps no state between
// documents; values are taken from it here, in time linear in the text.
namespace corvane::PropertyList {

// Strings and keys come back with their exact text: entities decoded, CDATA
// as written, a raw NUL byte kept. Integers are decimal or "0x" hex with an
// optional sign; reals whatever C's strtod takes ("nan", "+infinity" ...);
// dates "YYYY-MM-DDTHH:MM:SSZ" in UTC; data base64, whitespace ignored. A
// repeated key keeps its last value. Anything else, text beside the values
// of a container, a key without a value, or nesting deeper than
// `maxNesting` gives nothing. Every value takes at least four bytes of text
// and none is shared, so the tree keeps within the binary form's node bound.
std::optional<QVariant> parseXml(const QByteArray &bytes);

// Empty when the value has no property-list form. Dates are written in whole
// seconds, rounded down; a UID as the dictionary {"CF$UID": value}.
QByteArray encodeXml(const QVariant &value);

} // namespace corvane::PropertyList
