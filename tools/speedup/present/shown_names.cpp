// Names as keys and headlines show them; declared in present/chart.h.
#include "base/policy.h"
#include "base/text.h"
#include "present/chart.h"

namespace speedup {

std::string ShortName(std::string_view name) {
  const std::string printable = Printable(name);
  if (printable.size() <= SHOWN_NAME_BYTES) return printable;
  std::size_t cut = SHOWN_NAME_BYTES;
  // Back to the start of a character, so no UTF-8 sequence is cut in two.
  while (cut > 0 && (static_cast<unsigned char>(printable[cut]) & 0xC0) == 0x80) --cut;
  return printable.substr(0, cut) + "…";
}

}  // namespace speedup
