// Any bytes through the text helpers that show outside text: what Printable gives holds no
// control byte and is valid UTF-8; cuts and columns never split a character nor overrun.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace {

bool HasControl(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace speedup;
  if (size == 0) return 0;
  // The first byte picks the widths; the rest is the text.
  const std::size_t columns = 1 + data[0] % 40;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string printable = Printable(text);
  if (HasControl(printable) || ValidUtf8(printable) != printable) std::abort();
  const std::string valid = ValidUtf8(text);
  if (ValidUtf8(valid) != valid) std::abort();
  const std::string cut = Cut(printable, columns);
  if (Columns(cut) > columns || ValidUtf8(cut) != cut) std::abort();
  const std::string padded = Padded(printable, columns);
  if (Columns(padded) != columns || ValidUtf8(padded) != padded) std::abort();
  const std::string excerpt = Excerpt(printable, columns);
  if (excerpt.size() > columns + 3 || ValidUtf8(excerpt) != excerpt) std::abort();
  const std::vector<std::string_view> lines = SplitLines(text);
  std::size_t bytes = 0;
  for (const std::string_view line : lines) bytes += line.size() + 1;
  if (!text.empty() && bytes < text.size()) std::abort();
  const std::string line = FitLine({printable, Words(printable), Trimmed(printable)}, " | ", 60);
  if (Columns(line) > 60) std::abort();
  static_cast<void>(Quoted(text));
  static_cast<void>(Shown(text));
  return 0;
}
