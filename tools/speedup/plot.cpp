#include "plot.h"

#include <algorithm>
#include <fstream>

#include "output.h"
#include "process.h"

namespace {

std::string WithExtension(const std::string& path, const std::string& extension) {
  return path.substr(0, path.rfind('.')) + extension;
}

// gnuplot reads "?" as a missing point.
std::string PlotNumber(const std::optional<double>& value) {
  return value ? NumberText(*value) : "?";
}

// A single-quoted gnuplot string.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

std::string Script(const std::string& path, const std::string& data, int processors, int runs) {
  const bool svg = path.size() >= 4 && path.compare(path.size() - 4, 4, ".svg") == 0;
  const std::string procs = std::to_string(processors);
  const std::string source = "plot " + Quoted(data) + " using 1:";
  std::string script = svg ? "set terminal svg size 1000,420 dynamic font 'sans,11'\n"
                           : "set terminal pngcairo size 1000,420 font 'sans,10'\n";
  script += "set output " + Quoted(path) + "\n";
  script += "set datafile missing '?'\n";
  script += "set multiplot layout 1,2 title 'matbench: 600 x 600 product, median of " +
            std::to_string(runs) + " runs, " + procs + " processors'\n";
  script += "set xlabel 'threads'\nset xrange [0.5:20.5]\nset xtics 1,1,20\nset grid\n";
  script += "set key bottom right box opaque\nset offsets 0, 0, graph 0.1, 0\n";
  script += "set arrow 1 from " + procs + ", graph 0 to " + procs +
            ", graph 1 nohead dashtype 2 linecolor 'gray40'\n";
  script += "set label 1 '" + procs + " processors' at " + procs +
            ", graph 0.04 offset 0.5,0 textcolor 'gray40'\n";

  script += "set ylabel 'speedup'\nset yrange [0:*]\n";
  script += source + "2 with linespoints title 'speedup vs serial', \\\n";
  script += "     '' using 1:3 with linespoints title 'speedup vs 1 thread', \\\n";
  script += "     '' using 1:5 with lines dashtype 3 linecolor 'black' title 'ideal on " + procs +
            " processors'\n";

  script += "set ylabel 'efficiency (speedup vs serial / threads)'\nset yrange [0:1.2]\n";
  script += source + "4 with linespoints title 'efficiency'\n";
  return script + "unset multiplot\n";
}

}  // namespace

PlotResult WritePlot(const std::string& path, const Figures& figures, int processors, int runs) {
  const std::string data_path = WithExtension(path, ".dat");
  const std::string script_path = WithExtension(path, ".gp");
  std::ofstream data(data_path);
  data << "# threads speedup_vs_serial speedup_vs_one_thread efficiency ideal_speedup\n";
  for (const TeamFigures& team : figures.teams) {
    data << team.threads << ' ' << PlotNumber(team.speedup_vs_serial) << ' '
         << PlotNumber(team.speedup_vs_one_thread) << ' ' << PlotNumber(team.efficiency) << ' '
         << std::min(team.threads, processors) << '\n';
  }
  std::ofstream script(script_path);
  script << Script(path, data_path, processors, runs);
  data.close();
  script.close();
  if (!data || !script) return {true, "cannot write " + data_path + " and " + script_path};

  const ProcessResult gnuplot = RunProcess({"gnuplot", script_path}, true, [](std::string_view) {});
  if (!gnuplot.started) {
    return {false, "gnuplot is not installed: wrote " + data_path + " and " + script_path +
                       "; draw the chart later with: gnuplot " + script_path};
  }
  if (!gnuplot.failure.empty()) {
    return {true, "gnuplot failed (" + gnuplot.failure + "): " + gnuplot.output};
  }
  return {};
}
