#include "measure/placement.h"

#include <algorithm>
#include <charconv>

namespace speedup {

namespace {

// How many processors a list such as "0-1,4" or "{0,1}" names; 0 when it names none.
int ProcessorCount(std::string_view list) {
  int count = 0;
  std::size_t at = 0;
  while (at < list.size()) {
    if (list[at] < '0' || list[at] > '9') {
      ++at;
      continue;
    }
    int first = 0, last = 0;
    const auto [end, error] = std::from_chars(list.data() + at, list.data() + list.size(), first);
    last = first;
    at = end - list.data();
    if (error == std::errc() && at < list.size() && list[at] == '-') {
      const auto [range_end, range_error] =
          std::from_chars(list.data() + at + 1, list.data() + list.size(), last);
      if (range_error == std::errc()) at = range_end - list.data();
    }
    count += last >= first ? last - first + 1 : 0;
  }
  return count;
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
