#pragma once

namespace corvane {

// Byte order of 16- and 32-bit text; `unknown` for 8-bit text, or when neither
// the caller nor a byte-order mark told it.
enum class Endian { big, little, unknown };

} // namespace corvane
