#include "present/chart.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "base/text.h"
#include "bench/problem.h"
#include "present/words.h"

namespace speedup {
namespace {

// Told apart by point shape as well as colour, for readers who cannot tell the colours apart.
constexpr const char* COLOURS[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                   "#8c564b", "#e377c2", "#17becf", "#7f7f7f", "#bcbd22"};
constexpr int POINT_TYPES[] = {7, 5, 9, 11, 13, 15};

// Shortest text that reads back as `value`, whatever the locale; '?' (missing) unless finite.
std::string Number(double value) {
  if (!std::isfinite(value)) return "?";
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string Number(const std::optional<double>& value) { return value ? Number(*value) : "?"; }

// Median and interval as three columns; a median without an interval is drawn without a bar.
std::string EstimateColumns(const Estimate& estimate) {
  if (!estimate.median || !std::isfinite(*estimate.median)) return "? ? ?";
  const std::string median = Number(*estimate.median);
  const bool interval = estimate.low && estimate.high && std::isfinite(*estimate.low) &&
                        std::isfinite(*estimate.high);
  if (!interval) return median + ' ' + median + ' ' + median;
  return median + ' ' + Number(estimate.low) + ' ' + Number(estimate.high);
}

std::string CurveBlock(int index) { return "$curve" + std::to_string(index + 1); }

std::string LineColour(int index) {
  return std::string("linecolor rgb '") + COLOURS[index % std::size(COLOURS)] + "'";
}

// The median as a line inside its shaded low-to-high band, for a curve that sums up many others.
std::string BandPlot(int index, int median_column, const std::string& title) {
  const std::string block = CurveBlock(index);
  const std::string low = std::to_string(median_column + 1);
  const std::string high = std::to_string(median_column + 2);
  return block + " using 1:" + low + ":" + high + " with filledcurves fillcolor rgb '" +
         COLOURS[index % std::size(COLOURS)] + "' fillstyle transparent solid 0.2 notitle, " +
         block + " using 1:" + std::to_string(median_column) + " with lines " + LineColour(index) +
         " linewidth 2.5 " + title + ", \\\n     ";
}

std::string Style(int index) {
  return LineColour(index) + " pointtype " +
         std::to_string(POINT_TYPES[index % std::size(POINT_TYPES)]);
}

// A count below one is no count at all.
std::optional<int> KnownProcessors(const PlotRequest& request) {
  if (request.processors && *request.processors >= 1) return request.processors;
  return std::nullopt;
}

// "1 processor", "2 processors".
std::string ProcessorsText(int count) {
  return std::to_string(count) + (count == 1 ? " processor" : " processors");
}

std::string DefaultTitle(const PlotRequest& request) {
  const std::optional<int> known = KnownProcessors(request);
  const std::string processors =
      known ? ProcessorsText(*known) : std::string("processors not recorded");
  return "matbench: " + std::to_string(PROBLEM_SIZE) + " x " + std::to_string(PROBLEM_SIZE) +
         " product, median of " + std::to_string(request.runs) +
         (request.runs == 1 ? " run with " : " runs with ") + ConfidenceLabel(request.confidence) +
         " intervals, " + processors;
}

std::string FitTitle(const PlotRequest& request, const PlotCurve& curve) {
  char fraction[32];
  std::snprintf(fraction, sizeof fraction, "%.3g", *curve.serial_fraction);
  const std::string title = std::string("Amdahl fit, f = ") + fraction;
  return request.curves.size() > 1 ? curve.name + ", " + title : title;
}

bool HasFit(const PlotCurve& curve) {
  return curve.serial_fraction && std::isfinite(*curve.serial_fraction);
}

// The fit's speedup is relative to its own T(1) = a + b; drawn among speedups against the serial
// time, it is scaled by serial / (a + b), so it starts where the points do.
double FitScale(const PlotCurve& curve) {
  if (curve.figures == nullptr) return 1.0;
  const AmdahlFit& fit = curve.figures->amdahl;
  const std::optional<double>& serial = curve.figures->serial.median;
  if (!fit.a || !fit.b || !serial || !(*fit.a + *fit.b > 0.0) || !std::isfinite(*serial)) {
    return 1.0;
  }
  return *serial / (*fit.a + *fit.b);
}

int MostThreads(const PlotRequest& request) {
  int most = 1;
  for (const PlotCurve& curve : request.curves) {
    if (curve.figures == nullptr) continue;
    for (const TeamFigures& team : curve.figures->teams) most = std::max(most, team.threads);
  }
  return most;
}

// One key for both panels (a curve has the same colour in each), in one column: gnuplot drops
// entries that do not fit a row of several columns, and the slower nodes with them.
int KeyRows(const PlotRequest& request) {
  int entries = 1;
  for (const PlotCurve& curve : request.curves) entries += HasFit(curve) ? 2 : 1;
  return entries;
}

std::string DataBlocks(const PlotRequest& request, int most_threads) {
  std::string blocks;
  for (std::size_t i = 0; i < request.curves.size(); ++i) {
    blocks += CurveBlock(static_cast<int>(i)) + " << EOD\n";
    blocks += "# threads, speedup vs serial: median low high, efficiency: median low high\n";
    const Figures* figures = request.curves[i].figures;
    if (figures != nullptr) {
      for (const TeamFigures& team : figures->teams) {
        blocks += std::to_string(team.threads) + ' ' + EstimateColumns(team.speedup_vs_serial) +
                  ' ' + EstimateColumns(team.efficiency) + '\n';
      }
    }
    blocks += "EOD\n";
  }
  blocks += "$ideal << EOD\n";
  const std::optional<int> processors = KnownProcessors(request);
  for (int threads = 1; threads <= most_threads; ++threads) {
    const int ideal = processors ? std::min(threads, *processors) : threads;
    blocks += std::to_string(threads) + ' ' + std::to_string(ideal) + '\n';
  }
  return blocks + "EOD\n";
}

std::string SpeedupPlot(const PlotRequest& request) {
  const std::optional<int> processors = KnownProcessors(request);
  // Past the processor count a larger team finds no processor to run on: the fit stays flat.
  const std::string p = processors ? "(x < " + std::to_string(*processors) +
                                         " ? x : " + std::to_string(*processors) + ")"
                                   : "x";
  std::string fractions, plot = "plot ";
  for (std::size_t i = 0; i < request.curves.size(); ++i) {
    const PlotCurve& curve = request.curves[i];
    const int index = static_cast<int>(i);
    const std::string name =
        curve.not_parallel ? curve.name + " # not a parallel result" : curve.name;
    if (curve.key_only) {
      plot += "NaN with lines linecolor rgb 'white' title " + GnuplotText(name) + ", \\\n     ";
      continue;
    }
    plot += curve.band ? BandPlot(index, 2, "title " + GnuplotText(name))
                       : CurveBlock(index) + " using 1:2:3:4 with yerrorlines " + Style(index) +
                             " linewidth 1.5 title " + GnuplotText(name) + ", \\\n     ";
    if (HasFit(curve)) {
      const std::string f = "amdahl_f" + std::to_string(index + 1);
      const std::string scale = "amdahl_s" + std::to_string(index + 1);
      fractions += f + " = " + Number(*curve.serial_fraction) + "\n" + scale + " = " +
                   Number(FitScale(curve)) + "\n";
      plot += "(x < 1 ? NaN : " + scale + " / (" + f + " + (1 - " + f + ") / " + p +
              ")) with lines " + LineColour(index) + " linewidth 0.75 title " +
              GnuplotText(FitTitle(request, curve)) + ", \\\n     ";
    }
  }
  const std::string ideal = processors ? "ideal on " + ProcessorsText(*processors)
                                       : std::string("ideal, processors not recorded");
  return fractions + plot + "$ideal using 1:2 with lines dashtype 3 linecolor rgb 'black' title " +
         GnuplotText(ideal) + "\n";
}

// Untitled: the key, drawn with the speedup panel, names each curve by its colour.
std::string EfficiencyPlot(const PlotRequest& request) {
  std::string plot = "plot ";
  for (std::size_t i = 0; i < request.curves.size(); ++i) {
    const int index = static_cast<int>(i);
    if (request.curves[i].key_only) continue;
    plot += request.curves[i].band ? BandPlot(index, 5, "notitle")
                                   : CurveBlock(index) + " using 1:5:6:7 with yerrorlines " +
                                         Style(index) + " linewidth 1.5 notitle, \\\n     ";
  }
  return plot + "1 with lines dashtype 3 linecolor rgb 'black' notitle\n";
}

// The NEW / BASE panel: each row's ratio with its interval, grouped by verdict so that the key
// names them, beside the line of no change and the band within which no change counts.
std::string RatioPanel(const PlotRequest& request, int most_threads) {
  std::vector<std::string> verdicts;
  for (const PlotRatio& ratio : request.ratios) {
    if (std::find(verdicts.begin(), verdicts.end(), ratio.verdict) == verdicts.end()) {
      verdicts.push_back(ratio.verdict);
    }
  }
  std::string panel;
  for (std::size_t v = 0; v < verdicts.size(); ++v) {
    panel +=
        "$ratio" + std::to_string(v + 1) + " << EOD\n# threads (0: serial), ratio, low, high\n";
    for (const PlotRatio& ratio : request.ratios) {
      if (ratio.verdict != verdicts[v]) continue;
      panel += std::to_string(ratio.threads) + ' ' + Number(ratio.ratio) + ' ' + Number(ratio.low) +
               ' ' + Number(ratio.high) + '\n';
    }
    panel += "EOD\n";
  }
  panel += "set key inside top left vertical maxrows 5\nset xrange [-0.5:" +
           std::to_string(most_threads) + ".5]\n";
  panel += "set xtics add ('serial' 0)\nset yrange [*:*]\nunset arrow 1\nunset label 1\n";
  panel += "set ylabel " + GnuplotText(request.ratio_title) + "\n";
  panel += "plot ";
  for (std::size_t v = 0; v < verdicts.size(); ++v) {
    const std::string colour = verdicts[v] == "slower"   ? "#d62728"
                               : verdicts[v] == "faster" ? "#2ca02c"
                                                         : "#7f7f7f";
    panel += "$ratio" + std::to_string(v + 1) +
             " using 1:2:3:4 with yerrorbars pointtype 7 linecolor rgb '" + colour + "' title " +
             GnuplotText(verdicts[v]) + ", \\\n     ";
  }
  const std::string low = Number(1.0 - NEGLIGIBLE_CHANGE);
  const std::string high = Number(1.0 + NEGLIGIBLE_CHANGE);
  return panel + "1 with lines linecolor rgb 'black' notitle, " + low +
         " with lines dashtype 3 linecolor rgb 'gray40' notitle, " + high +
         " with lines dashtype 3 linecolor rgb 'gray40' title " +
         GnuplotText("no change counts within ±" + Formatted("%g", NEGLIGIBLE_CHANGE * 100.0) +
                     "%") +
         "\n";
}

}  // namespace

std::string GnuplotText(std::string_view text) { return GnuplotString(text) + " noenhanced"; }

std::string PlotScript(const PlotRequest& request, const std::string& output_name) {
  const bool svg = output_name.ends_with(".svg");
  const int most_threads = MostThreads(request);
  const int key_rows = KeyRows(request);
  const int height = 440 + 18 * key_rows;
  std::string script = "# Draws " + output_name + " here: gnuplot " + CHART_SCRIPT_NAME + "\n";
  script += "set encoding utf8\n";
  const std::string width = request.ratios.empty() ? "1200" : "1700";
  script += svg ? "set terminal svg size " + width + "," + std::to_string(height) +
                      " dynamic font 'sans,11' noenhanced\n"
                : "set terminal pngcairo size " + width + "," + std::to_string(height) +
                      " font 'sans,10' noenhanced\n";
  script += "set output " + GnuplotString(output_name) + "\n";
  script += "set datafile missing '?'\n";
  script += DataBlocks(request, most_threads);
  script += std::string("set multiplot layout 1,") + (request.ratios.empty() ? "2" : "3") +
            " title " + GnuplotText(request.title.empty() ? DefaultTitle(request) : request.title) +
            "\n";
  script += "set xlabel " + GnuplotText("threads") + "\n";
  script += "set xrange [0.5:" + std::to_string(most_threads) + ".5]\n";
  script += most_threads <= 24 ? "set xtics 1,1," + std::to_string(most_threads) + "\n"
                               : std::string("set xtics autofreq\n");
  script += "set grid\nset samples 400\nset yrange [0:*]\nset offsets 0, 0, graph 0.05, 0\n";
  // Both panels keep the same room below, so their plot areas line up and the key, drawn with
  // the first, covers no data.
  script += "set bmargin " + std::to_string(key_rows + 5) + "\n";
  script += "set key at screen 0.5, screen 0.01 center bottom vertical maxrows " +
            std::to_string(key_rows) + " Left reverse noenhanced\n";
  if (const std::optional<int> processors = KnownProcessors(request);
      processors && *processors <= most_threads) {
    const std::string at = std::to_string(*processors);
    script += "set arrow 1 from " + at + ", graph 0 to " + at +
              ", graph 1 nohead dashtype 2 linecolor rgb 'gray40'\n";
    script += "set label 1 " + GnuplotText(ProcessorsText(*processors)) + " at " + at +
              ", graph 0.96 offset 0.5,0 textcolor rgb 'gray40'\n";
  }
  script += "set ylabel " + GnuplotText("speedup vs serial") + "\n";
  script += SpeedupPlot(request);
  script += "set ylabel " + GnuplotText("efficiency (speedup vs serial / threads)") + "\n";
  script += "unset key\n";
  script += EfficiencyPlot(request);
  if (!request.ratios.empty()) script += RatioPanel(request, most_threads);
  return script + "unset multiplot\nunset output\n";
}

std::string ChartFileName(const std::string& path) {
  return path.ends_with(".svg") ? "chart.svg" : "chart.png";
}

std::string GnuplotString(std::string_view text) {
  std::string quoted = "'";
  for (const char c : Printable(text)) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

bool ChartIsWhole(std::string_view chart, bool svg) {
  if (svg) {
    const std::size_t end = chart.find_last_not_of(" \t\r\n");
    return end != chart.npos && chart.substr(0, end + 1).ends_with("</svg>");
  }
  // The IEND chunk: no data, its type, and the CRC of its type.
  static constexpr char IEND[] = "\0\0\0\0IEND\xAE\x42\x60\x82";
  return chart.starts_with("\x89PNG\r\n\x1A\n") &&
         chart.ends_with(std::string_view(IEND, sizeof IEND - 1));
}

}  // namespace speedup
