// Names as keys and headlines show them; declared in present/chart.h.
#include <cstdio>

#include "base/policy.h"
#include "base/text.h"
#include "present/chart.h"

namespace speedup {

std::string BidiEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = [&](std::size_t at) {
      return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    unsigned code = 0;
    if (byte(i) == 0xE2 && byte(i + 1) == 0x80 &&
        ((byte(i + 2) >= 0xAA && byte(i + 2) <= 0xAE) || byte(i + 2) == 0x8E ||
         byte(i + 2) == 0x8F)) {
      code = 0x2000 + (byte(i + 2) - 0x80);
    } else if (byte(i) == 0xE2 && byte(i + 1) == 0x81 && byte(i + 2) >= 0xA6 &&
               byte(i + 2) <= 0xA9) {
      code = 0x2040 + (byte(i + 2) - 0x80);
    } else if (byte(i) == 0xD8 && byte(i + 1) == 0x9C) {
      escaped += "\\u061C";
      ++i;
      continue;
    }
    if (code == 0) {
      escaped += text[i];
      continue;
    }
    char word[8];
    std::snprintf(word, sizeof word, "\\u%04X", code);
    escaped += word;
    i += 2;
  }
  return escaped;
}

std::string ShortName(std::string_view name) {
  const std::string printable = Printable(name);
  if (printable.size() <= SHOWN_NAME_BYTES) return printable;
  std::size_t cut = SHOWN_NAME_BYTES;
  // Back to the start of a character, so no UTF-8 sequence is cut in two.
  while (cut > 0 && (static_cast<unsigned char>(printable[cut]) & 0xC0) == 0x80) --cut;
  return printable.substr(0, cut) + "…";
}

}  // namespace speedup
