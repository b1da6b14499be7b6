#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "stats/figures.h"
#include "stats/trace_split.h"

// Figures as text, the one way every format writes a median with its interval and a cell of a
// terminal table.
namespace speedup {

// `text` right-aligned in `width` columns, one a code point ("—" takes one).
std::string Cell(const std::string& text, std::size_t width);

// How WithInterval lays a figure out.
struct IntervalLayout {
  std::size_t median_width = 0;     // columns the median is right-aligned in; 0: as it is
  std::size_t end_width = 0;        // columns each end is right-aligned in; 0: as it is
  bool dashes_when_missing = true;  // without an interval "1.94 [—, —]", else "1.94" alone
};

// A median and its interval, e.g. "1.94 [1.90, 1.97]"; "—" for a median that is undefined.
std::string WithInterval(const Estimate& estimate, int decimals, const IntervalLayout& layout = {});

// The share of `seconds` in the region of `split`, as a percentage in one decimal, e.g. "12.5%";
// "—" for a region that took no time.
std::string ShareText(const RegionSplit& split, double seconds);

}  // namespace speedup
