#pragma once
// GBK byte rules that hold whatever the system's code page (portable).

namespace qv {

// The first byte of a double-byte character; the next byte belongs to it,
// even where it looks like an ASCII character ('\', '|', a letter).
constexpr bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace qv
