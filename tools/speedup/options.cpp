#include "options.h"

#include <charconv>

const char* const USAGE =
    "usage: matbench-speedup [--runs K] [--bench PATH] [--csv | --json] [--plot FILE.svg|.png]\n"
    "       matbench-speedup --input FILE|- [--csv | --json] [--plot FILE.svg|.png]\n"
    "Runs the benchmark K times (default 5), or reads saved reports, and prints the median\n"
    "times, speedups and efficiency for every team size.\n";

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string ParseOptions(const std::vector<std::string>& args, Options& options) {
  bool runs_given = false;
  bool format_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    if (const std::size_t equals = name.find('=');
        name.rfind("--", 0) == 0 && equals != name.npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      has_value = true;
    }
    const bool takes_value =
        name == "--runs" || name == "--bench" || name == "--input" || name == "--plot";
    if (takes_value && !has_value) {
      if (i + 1 >= args.size()) return name + " needs a value";
      value = args[++i];
    } else if (!takes_value && has_value) {
      return name + " takes no value";
    }

    if (name == "--runs") {
      const auto [end, error] =
          std::from_chars(value.data(), value.data() + value.size(), options.runs);
      if (error != std::errc() || end != value.data() + value.size() || options.runs < 1 ||
          options.runs > MAX_RUNS) {
        return "--runs needs a whole number from 1 to " + std::to_string(MAX_RUNS) + ", not \"" +
               value + "\"";
      }
      runs_given = true;
    } else if (name == "--bench" || name == "--input" || name == "--plot") {
      if (value.empty()) return name + " needs a value";
      (name == "--bench"   ? options.bench
       : name == "--input" ? options.input
                           : options.plot) = value;
    } else if (name == "--csv" || name == "--json") {
      if (format_given) return "choose one of --csv and --json";
      options.format = name == "--csv" ? OutputFormat::kCsv : OutputFormat::kJson;
      format_given = true;
    } else if (name == "--help" || name == "-h") {
      options.help = true;
    } else {
      return "unknown option \"" + args[i] + "\"";
    }
  }
  if (!options.input.empty() && (runs_given || !options.bench.empty())) {
    return "--input reads saved reports: it cannot be combined with --runs or --bench";
  }
  if (!options.plot.empty() && !EndsWith(options.plot, ".svg") && !EndsWith(options.plot, ".png")) {
    return "--plot needs a file name ending in .svg or .png, not \"" + options.plot + "\"";
  }
  return "";
}
