#include <algorithm>
#include <cmath>

#include "base/policy.h"
#include "base/text.h"
#include "present/html_parts.h"
#include "present/words.h"

// The runs one by one as inline SVG: each row's strip of dots and the run-order lines, with
// their axes, titles and keys. The values come finished from stats (RunDots); this file only
// places them.
namespace speedup::html {
namespace {

constexpr double kWidth = 760, kHeight = 290;
constexpr double kLeft = 62, kRight = kWidth - 14, kTop = 30, kBottom = kHeight - 50;
constexpr const char* kBaseColour = "#1f5fa8";
constexpr const char* kNewColour = "#d2600a";

// Where the values lie up the plot: the range drawn holds 1 (the median's line) and a margin.
struct Scale {
  double low, high;
  Scale(double least, double most) : low(std::min(least, 1.0)), high(std::max(most, 1.0)) {
    // A margin, so that no dot is cut by the frame.
    const double margin = std::max(high - low, 0.02) * 0.04;
    low -= margin;
    high += margin;
  }
  double Y(double value) const { return kBottom - (value - low) / (high - low) * (kBottom - kTop); }
};

std::string At(double value) { return Formatted("%.1f", value); }

std::string Text(double x, double y, const std::string& words, const std::string& extra = "") {
  return "<text x=\"" + At(x) + "\" y=\"" + At(y) + "\"" + extra + ">" + Escaped(words) + "</text>";
}

// The frame, the median's dashed line, the y axis's figures and both axis titles.
std::string Axes(const Scale& scale, const std::string& x_title, const std::string& y_title) {
  std::string svg = "<g font-size=\"11\" fill=\"#222\">";
  svg += "<rect x=\"" + At(kLeft) + "\" y=\"" + At(kTop) + "\" width=\"" + At(kRight - kLeft) +
         "\" height=\"" + At(kBottom - kTop) + "\" fill=\"none\" stroke=\"#888\"/>";
  svg += "<line x1=\"" + At(kLeft) + "\" x2=\"" + At(kRight) + "\" y1=\"" + At(scale.Y(1.0)) +
         "\" y2=\"" + At(scale.Y(1.0)) + "\" stroke=\"#666\" stroke-dasharray=\"4 3\"/>";
  double last = -100;
  for (const double value : {scale.high, 1.0, scale.low}) {
    const double y = scale.Y(value);
    if (y - last < 12) continue;  // a figure too close to the one above says nothing new
    svg += Text(kLeft - 4, y + 4, FixedText(value, 2), " text-anchor=\"end\"");
    last = y;
  }
  svg += Text((kLeft + kRight) / 2, kHeight - 8, x_title, " text-anchor=\"middle\"");
  svg +=
      Text(14, (kTop + kBottom) / 2, y_title,
           " text-anchor=\"middle\" transform=\"rotate(-90 14 " + At((kTop + kBottom) / 2) + ")\"");
  return svg + "</g>";
}

// A key entry: a dot of `colour` and its words, at the top of the plot from `x`.
std::string KeyEntry(double x, const char* colour, const std::string& words) {
  return "<circle cx=\"" + At(x) + "\" cy=\"14\" r=\"4\" fill=\"" + colour + "\"/>" +
         Text(x + 8, 18, Cut(words, 48), " font-size=\"11\" fill=\"#222\"");
}

// One side's dots of one row, spread sideways about `centre` by their rank so that equal
// times stay apart.
std::string RowGroup(const RowDots& row, const Scale& scale, double centre, double spread,
                     const char* side, const char* colour) {
  std::string svg = "<g data-threads=\"" + RowLabel(row.threads) + "\" data-side=\"" + side +
                    "\" data-runs=\"" + std::to_string(row.runs) + "\" fill=\"" + colour +
                    "\" fill-opacity=\"0.6\">";
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    const double offset = static_cast<double>(static_cast<int>((i * 7) % 11) - 5) / 5.0;
    svg += "<circle cx=\"" + At(centre + offset * spread) + "\" cy=\"" +
           At(scale.Y(row.values[i])) + "\" r=\"2.2\"/>";
  }
  return svg + "</g>";
}

std::string SvgOpen(const std::string& id, const std::string& description) {
  return "<div class=\"dots\">\n<svg id=\"" + id + "\" role=\"img\" aria-label=\"" +
         Escaped(description) + "\" viewBox=\"0 0 " + At(kWidth) + " " + At(kHeight) +
         "\" xmlns=\"http://www.w3.org/2000/svg\" font-family=\"sans-serif\">";
}

// Where the rows were thinned, what was drawn of how many: every row holds the same passed runs.
std::string ThinningText(const std::vector<RowDots>& rows, const std::string& side) {
  if (rows.empty() || rows.front().runs <= static_cast<int>(HTML_STRIP_DOTS)) return "";
  return " Of " + side + "'s " + std::to_string(rows.front().runs) + " runs, " +
         std::to_string(HTML_STRIP_DOTS) +
         " per row are drawn, at evenly spaced ranks (the fastest and slowest among them).";
}

std::string StripFigure(const RunDots& dots, const std::string& id, const std::string& base_name,
                        const std::string& new_name) {
  const bool two = !dots.added.empty();
  const Scale scale(dots.low, dots.high);
  const double column =
      (kRight - kLeft) / static_cast<double>(std::max<std::size_t>(dots.rows.size(), 1));
  std::string svg = SvgOpen(id, two ? "each run's time over BASE's median of its row, BASE and "
                                      "NEW side by side per team size"
                                    : "each run's time over the median of its row, per team size");
  svg += Axes(scale, "team size (threads)",
              two ? "time ÷ BASE's median of the row" : "time ÷ median of the row");
  for (std::size_t i = 0; i < dots.rows.size(); ++i) {
    const double centre = kLeft + column * (static_cast<double>(i) + 0.5);
    svg += Text(centre, kBottom + 15, RowLabel(dots.rows[i].threads),
                " text-anchor=\"middle\" font-size=\"10\" fill=\"#222\"");
    if (!two) {
      svg += RowGroup(dots.rows[i], scale, centre, column * 0.3, "base", kBaseColour);
      continue;
    }
    svg += RowGroup(dots.rows[i], scale, centre - column * 0.2, column * 0.15, "base", kBaseColour);
    svg += RowGroup(dots.added[i], scale, centre + column * 0.2, column * 0.15, "new", kNewColour);
  }
  if (two) {
    svg += KeyEntry(kLeft, kBaseColour, "BASE " + base_name);
    svg += KeyEntry((kLeft + kRight) / 2, kNewColour, "NEW " + new_name);
  }
  const std::string caption =
      two ? "Each run's time over BASE's median time of its row, one dot per run: BASE in blue "
            "on the left of each team size, NEW in orange on the right; below the dashed line "
            "at 1 a run was faster than BASE's median." +
                ThinningText(dots.rows, "BASE") + ThinningText(dots.added, "NEW")
          : "Each run's time over the median time of its row, one dot per run: the spread of "
            "the runs per team size; the dashed line at 1 is the median." +
                ThinningText(dots.rows, "the session");
  return "<figure>\n" + svg + "</svg>\n</div>\n<figcaption>" + Escaped(caption) +
         "</figcaption>\n</figure>\n";
}

// One row's runs in order: a thin line through its dots.
std::string OrderGroup(const RunOrder& order, const Scale& scale, int last, const char* colour) {
  const auto x = [&](int run) {
    return last <= 1
               ? (kLeft + kRight) / 2
               : kLeft + 6 + (kRight - kLeft - 12) * (run - 1) / static_cast<double>(last - 1);
  };
  std::string line, dots;
  for (std::size_t i = 0; i < order.run.size(); ++i) {
    const std::string point = At(x(order.run[i])) + "," + At(scale.Y(order.values[i]));
    line += (i == 0 ? "" : " ") + point;
    dots += "<circle cx=\"" + At(x(order.run[i])) + "\" cy=\"" + At(scale.Y(order.values[i])) +
            "\" r=\"2.2\"/>";
  }
  return "<g data-threads=\"" + RowLabel(order.threads) + "\" data-runs=\"" +
         std::to_string(order.runs) + "\" data-step=\"" + std::to_string(order.step) +
         "\" fill=\"" + colour + "\"><polyline points=\"" + line + "\" fill=\"none\" stroke=\"" +
         colour + "\" stroke-opacity=\"0.5\"/>" + dots + "</g>";
}

std::string OrderName(const RunOrder& order) {
  return order.threads == 0 ? "serial" : CountText(order.threads, "thread", "threads");
}

std::string OrderFigure(const RunDots& dots, const std::string& id) {
  const Scale scale(dots.order_low, dots.order_high);
  const int last = std::max(dots.order_runs, 1);
  std::string svg = SvgOpen(id,
                            "the serial time and the fastest team's time of each run over "
                            "their medians, in the order the runs ran");
  svg += Axes(scale, "run, in the order they ran", "time ÷ median of the row");
  svg += Text(kLeft, kBottom + 15, "1", " text-anchor=\"middle\" font-size=\"10\" fill=\"#222\"");
  svg += Text(kRight, kBottom + 15, std::to_string(last),
              " text-anchor=\"middle\" font-size=\"10\" fill=\"#222\"");
  const char* colours[] = {kBaseColour, kNewColour};
  std::string names, thinned;
  for (std::size_t i = 0; i < dots.order.size() && i < 2; ++i) {
    const RunOrder& order = dots.order[i];
    svg += OrderGroup(order, scale, last, colours[i]);
    svg += KeyEntry(kLeft + 200.0 * static_cast<double>(i), colours[i], OrderName(order));
    names += (i == 0 ? "" : " and ") + OrderName(order) + (i == 0 ? " (blue)" : " (orange)");
    if (order.step > 1) {
      thinned = " Every " + std::to_string(order.step) + " passed runs, one is drawn (" +
                std::to_string(order.run.size()) + " of " + std::to_string(order.runs) + ").";
    }
  }
  const std::string caption =
      "The time of each run over its row's median, in the order the runs ran: " + names +
      ", the team size of the greatest median speedup. A slope or a step is drift (the machine "
      "sped up or slowed down during the session); the speedups, formed within each run, "
      "cancel most of it." +
      thinned;
  return "<figure>\n" + svg + "</svg>\n</div>\n<figcaption>" + Escaped(caption) +
         "</figcaption>\n</figure>\n";
}

}  // namespace

std::string RunsFigures(const RunDots& dots, const std::string& id, const std::string& base_name,
                        const std::string& new_name) {
  std::string figures = StripFigure(dots, id + "-strip", base_name, new_name);
  if (!dots.order.empty()) figures += OrderFigure(dots, id + "-order");
  return figures;
}

}  // namespace speedup::html
