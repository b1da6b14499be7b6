#include "present/figure_text.h"

#include "base/text.h"

namespace speedup {

std::string Cell(const std::string& text, std::size_t width) {
  const std::size_t shown = Columns(text);
  return std::string(width > shown ? width - shown : 0, ' ') + text;
}

std::string WithInterval(const Estimate& estimate, int decimals, const IntervalLayout& layout) {
  const bool interval = estimate.median && estimate.low && estimate.high;
  const std::string median = Cell(FixedText(estimate.median, decimals), layout.median_width);
  if (!interval && !layout.dashes_when_missing) return median;
  return median + " [" +
         Cell(interval ? FixedText(estimate.low, decimals) : "—", layout.end_width) + ", " +
         Cell(interval ? FixedText(estimate.high, decimals) : "—", layout.end_width) + "]";
}

std::string ShareText(const RegionSplit& split, double seconds) {
  const std::optional<double> share = StateShare(split, seconds);
  return share ? Formatted("%.1f%%", *share * 100.0) : "—";
}

}  // namespace speedup
