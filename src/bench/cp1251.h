#pragma once

#include <cstddef>

// A text held as Windows-1251 bytes, NUL-terminated; `bytes` may be longer than the text.
template <std::size_t Size>
struct Cp1251Text {
  char bytes[Size] = {};
};

// Converts UTF-8 source text to Windows-1251 at compile time, so the source keeps the Russian
// readable while the program writes single-byte text whatever charset the compiler assumes.
// Only ASCII and the Cyrillic letters А..я are accepted; anything else fails to compile.
template <std::size_t Size>
consteval Cp1251Text<Size> ToCp1251(const char8_t (&utf8)[Size]) {
  Cp1251Text<Size> text;
  std::size_t out = 0;
  for (std::size_t in = 0; in + 1 < Size; ++in) {
    const unsigned lead = utf8[in];
    if (lead < 0x80) {
      text.bytes[out++] = static_cast<char>(lead);
      continue;
    }
    // А..я are U+0410..U+044F, two bytes in UTF-8; Windows-1251 has them in order at C0..FF.
    const unsigned tail = in + 2 < Size ? utf8[++in] : 0;
    const unsigned code = ((lead & 0x1Fu) << 6) | (tail & 0x3Fu);
    if ((lead & 0xE0u) != 0xC0u || (tail & 0xC0u) != 0x80u || code < 0x410 || code > 0x44F) {
      throw "only ASCII and the Cyrillic letters А..я have a Windows-1251 byte here";
    }
    text.bytes[out++] = static_cast<char>(code - 0x410 + 0xC0);
  }
  return text;
}
