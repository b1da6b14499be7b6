#include "text.h"

#include <cstdio>

namespace {

// Length of the well-formed UTF-8 sequence at `at`, or 0.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const unsigned lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                             : lead >= 0xE0                 ? 3
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                                                            : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, UTF-16 surrogates and code points past U+10FFFF are not UTF-8.
  const unsigned second = static_cast<unsigned char>(text[at + 1]);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const unsigned byte = static_cast<unsigned char>(text[at]);
    std::size_t length = byte >= 0x20 && byte < 0x7F ? 1 : byte >= 0x80 ? Utf8Length(text, at) : 0;
    if (length > 0) {
      shown.append(text.substr(at, length));
      at += length;
      continue;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    shown += escape;
    ++at;
  }
  return shown;
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += Printable(text);
  quoted += '"';
  return quoted;
}
