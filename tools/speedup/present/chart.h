#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/policy.h"
#include "stats/figures.h"

// Charts of speedup and efficiency against team size, as gnuplot scripts; commands/drawing.h
// runs gnuplot on them.
namespace speedup {

// One curve on the chart's axes. Several overlay when sessions or placements are compared.
struct PlotCurve {
  std::string name;                       // legend text, any bytes
  const Figures* figures = nullptr;       // not owned; outlives the call
  std::optional<double> serial_fraction;  // Amdahl's f: its fitted speedup is drawn as well
  bool band = false;          // low to high drawn as a shaded band around the median, not as bars
  bool not_parallel = false;  // flagged "not a parallel result": marked # in the key
  bool key_only = false;      // no data: a line of the key alone, e.g. what was left out
};

// One row of a comparison, NEW / BASE with its interval and its verdict, for the ratio panel.
struct PlotRatio {
  int threads = 0;  // 0: the serial time, drawn at 0
  double ratio = 1.0, low = 1.0, high = 1.0;
  std::string verdict;  // the verdict's words; points are grouped and coloured by them
};

struct PlotRequest {
  std::string path;                // chart to write, ending in .svg (else drawn as PNG)
  std::optional<int> processors;   // empty: not recorded, so no processor count is marked
  int runs = 0;                    // for the default title
  std::vector<PlotCurve> curves;   // drawn in this order, each in a colour of its own
  std::string title;               // empty: the default, naming runs, confidence and processors
  double confidence = CONFIDENCE;  // what the intervals reach, as the default title names it
  std::vector<PlotRatio> ratios;   // a third panel of NEW / BASE with the verdicts, when given
  std::string ratio_title;         // that panel's y label
};

// The name a chart's script is saved under in the folder it is drawn in.
inline constexpr const char* CHART_SCRIPT_NAME = "chart.gp";

struct PlotResult {
  enum class Outcome {
    kDrawn,           // the chart is whole at its place
    kNotAsked,        // none was to be drawn (a page written without its charts)
    kGnuplotMissing,  // gnuplot is not installed here: said, but not a failure
    kFailed,          // no chart, for a reason the user must hear of
  };
  Outcome outcome = Outcome::kDrawn;
  std::string message;  // one line for the user when no chart was written; empty when it was

  bool Failed() const { return outcome == Outcome::kFailed; }
};

// `text` as a gnuplot single-quoted string, the one way text enters a script: shown Printable,
// quotes doubled; backquotes and @ are literal inside single quotes.
std::string GnuplotString(std::string_view text);

// `text` as a gnuplot single-quoted string taken literally: control characters and bytes outside
// UTF-8 shown as \xHH, quotes doubled, followed by `noenhanced` so no character is markup.
std::string GnuplotText(std::string_view text);

// `name` as a key or headline shows it: Printable, cut to SHOWN_NAME_BYTES at the start of a
// character with "…" after it.
std::string ShortName(std::string_view name);

// A self-contained gnuplot script, data inline, that draws `request` into `output_name` in its
// working folder; `request.path` never appears in it.
std::string PlotScript(const PlotRequest& request, const std::string& output_name);

// Whether `chart`, as gnuplot wrote it, is whole: an SVG ends with its closing tag, a PNG with its
// IEND chunk. A full disk cuts a chart short while gnuplot still exits 0.
bool ChartIsWhole(std::string_view chart, bool svg);

// The file name a chart for `path` is drawn under in its private folder: "chart.svg" for a
// path ending in .svg, else "chart.png". Scripts for DrawChart write to it.
std::string ChartFileName(const std::string& path);

// A chart drawn but kept in memory, for a page that embeds it.
struct DrawnChart {
  PlotResult result;  // as DrawChart's, but the script is never kept: the folder goes
  std::string bytes;  // the chart, empty unless drawn
};

}  // namespace speedup
