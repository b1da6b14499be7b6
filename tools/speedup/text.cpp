#include "text.h"

#include <cstdio>

namespace {

// Length of the well-formed UTF-8 sequence `text` starts with, or 0 when it starts with none.
std::size_t SequenceLength(std::string_view text) {
  const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // overlong forms, surrogates and code points past U+10FFFF excluded
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

std::string Hex(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string shown;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = SequenceLength(text.substr(pos));
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (length == 0 || (length == 1 && (lead < 0x20 || lead == 0x7F))) {
      shown += Hex(lead);
      ++pos;
    } else if (length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[pos + 1]) < 0xA0) {
      shown += Hex(static_cast<unsigned char>(text[pos + 1]));  // C1 controls, U+0080..U+009F
      pos += 2;
    } else {
      shown += text.substr(pos, length);
      pos += length;
    }
  }
  return shown;
}

std::string ValidUtf8(std::string_view text) {
  std::string valid;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = SequenceLength(text.substr(pos));
    if (length == 0) {
      valid += Hex(static_cast<unsigned char>(text[pos++]));
    } else {
      valid += text.substr(pos, length);
      pos += length;
    }
  }
  return valid;
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += Printable(text);
  quoted += '"';
  return quoted;
}
