#include "measure/placement.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

namespace speedup {

namespace {

// How many processors a list such as "0-1,4" or "{0,1}" names; 0 when it names none. Counted
// 64 bits wide and capped at int's maximum: "0-2147483647" names more than int holds, and a
// number too long for 64 bits names more processors than any machine has.
int ProcessorCount(std::string_view list) {
  constexpr std::uint64_t most = std::numeric_limits<int>::max();
  const auto number = [&](std::size_t& at) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(list.data() + at, list.data() + list.size(), value);
    at = static_cast<std::size_t>(end - list.data());
    return error == std::errc::result_out_of_range ? std::numeric_limits<std::uint64_t>::max()
                                                   : value;
  };
  std::uint64_t count = 0;
  std::size_t at = 0;
  while (at < list.size()) {
    if (list[at] < '0' || list[at] > '9') {
      ++at;
      continue;
    }
    const std::uint64_t first = number(at);
    std::uint64_t last = first;
    if (at + 1 < list.size() && list[at] == '-' && list[at + 1] >= '0' && list[at + 1] <= '9') {
      ++at;
      last = number(at);
    }
    if (last >= first) count += std::min(last - first, most) + 1;
    count = std::min(count, most);
  }
  return static_cast<int>(count);
}

}  // namespace

std::optional<bool> PlacementHonoured(std::string_view display, const std::string& placement,
                                      int processors) {
  std::optional<bool> honoured;
  for (std::size_t start = 0; start < display.size();) {
    const std::size_t end = std::min(display.find('\n', start), display.size());
    const std::string_view line = display.substr(start, end - start);
    start = end + 1;
    std::size_t at = line.find(" affinity ");
    if (at != line.npos) {
      at += 10;
    } else if ((at = line.find(" bound to OS proc set ")) != line.npos) {
      at += 22;
    } else {
      continue;
    }
    const bool bound = ProcessorCount(line.substr(at)) < processors;
    const bool as_asked = placement == "false" ? !bound : bound;
    honoured = honoured.value_or(true) && as_asked;
  }
  return honoured;
}

std::string WithoutAffinityLines(std::string_view output, std::string& display) {
  std::string kept;
  for (std::size_t start = 0; start < output.size();) {
    // One past the line's own line feed, or the end of an unfinished last line.
    const std::size_t end = std::min(output.find('\n', start), output.size() - 1) + 1;
    const std::string_view line = output.substr(start, end - start);
    start = end;
    if (line.rfind("OMP: pid ", 0) == 0 && line.find(" bound to OS proc set ") != line.npos) {
      display.append(line);
    } else {
      kept.append(line);
    }
  }
  return kept;
}

}  // namespace speedup
