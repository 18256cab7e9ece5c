#pragma once

#include <QString>

namespace corvane {

// A localized user-visible text. The English text is the lookup key; the
// upper-case identifier is only the translator's comment, so two uses of one
// English text with different identifiers share a single translation.
QString loc(const char *text, const char *comment);

} // namespace corvane
