#include "options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>

#include "text.h"

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The whole of `text` as a number, or empty.
template <typename Number>
std::optional<Number> WholeNumber(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// CLI11's message, told in this tool's words where its own would puzzle.
std::string Explained(const CLI::ParseError& error) {
  const std::string what = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    return "unknown argument " + Quoted(what.substr(what.find(": ") + 2));
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    const std::string name = what.substr(0, what.find(':'));
    if (what.find("missing") != what.npos) return name + " needs a value";
    if (what.find("At Most 1") != what.npos) return name + " given more than once";
  }
  return what;
}

}  // namespace

std::optional<double> ParseFraction(const std::string& text) {
  const bool percent = !text.empty() && text.back() == '%';
  std::optional<double> value =
      WholeNumber<double>(std::string_view(text).substr(0, text.size() - (percent ? 1 : 0)));
  if (value && percent) *value /= 100.0;
  if (!value || !(*value > 0.0 && *value < 1.0)) return std::nullopt;
  return value;
}

std::optional<double> ParseDuration(const std::string& text) {
  double unit = 1.0;
  std::string_view number = text;
  if (!number.empty() && std::string_view("smh").find(number.back()) != std::string_view::npos) {
    unit = number.back() == 's' ? 1.0 : number.back() == 'm' ? 60.0 : 3600.0;
    number.remove_suffix(1);
  }
  const std::optional<double> value = WholeNumber<double>(number);
  if (!value || !(*value > 0.0) || !std::isfinite(*value * unit)) return std::nullopt;
  return *value * unit;
}

std::string ParseOptions(const std::vector<std::string>& args, Options& options) {
  CLI::App app{
      "Runs the benchmark several times, or reads saved runs, and prints for every team size the "
      "median time and the speedups with 95% confidence intervals.",
      "matbench-speedup"};
  std::string runs, precision, max_runs, time_limit, run_timeout, bind, processors, slower;
  bool csv = false, long_csv = false, json = false;
  CLI::Option* runs_option =
      app.add_option("--runs", runs, "runs to make (default 10; at least 6 for a 95% interval)");
  CLI::Option* bench_option =
      app.add_option("--bench", options.bench, "benchmark to run (default: matbench beside this)");
  CLI::Option* precision_option = app.add_option(
      "--precision", precision, "run until every speedup interval is within this, e.g. 2%");
  CLI::Option* max_runs_option =
      app.add_option("--max-runs", max_runs, "most runs with --precision (default 100)");
  CLI::Option* time_limit_option = app.add_option(
      "--time-limit", time_limit, "stop starting runs after this long, e.g. 300, 5m, 1h");
  CLI::Option* run_timeout_option = app.add_option(
      "--run-timeout", run_timeout,
      "kill a run that takes longer (default 60 s for the first, then 10 x the longest so far)");
  CLI::Option* bind_option =
      app.add_option("--bind", bind, "one session per thread placement: any of close,spread,false");
  CLI::Option* input_option = app.add_option(
      "--input", options.input, "read saved reports or a session JSON (- for standard input)");
  CLI::Option* processors_option = app.add_option(
      "--processors", processors, "processor count of the machine that wrote saved reports");
  CLI::Option* csv_option = app.add_flag("--csv", csv, "print the figures as CSV");
  CLI::Option* long_csv_option =
      app.add_flag("--long-csv", long_csv, "print every run's times as CSV (run,threads,seconds)");
  CLI::Option* json_option =
      app.add_flag("--json", json, "print every run, the figures and the context as JSON");
  CLI::Option* plot_option =
      app.add_option("--plot", options.plot, "draw the speedups into this .svg or .png");
  csv_option->excludes(json_option)->excludes(long_csv_option);
  json_option->excludes(long_csv_option);
  for (CLI::Option* measuring : {runs_option, bench_option, precision_option, max_runs_option,
                                 time_limit_option, run_timeout_option, bind_option}) {
    input_option->excludes(measuring);
  }
  processors_option->needs(input_option);
  max_runs_option->needs(precision_option);

  CLI::App* compare = app.add_subcommand("compare", "compare two saved session JSON files");
  compare->add_option("BASE_AND_NEW", options.compared, "the two session files")
      ->expected(2)
      ->required();
  compare->add_option(
      "--fail-if-slower", slower,
      "exit status 1 when a row is significantly slower by more than this, e.g. 5%");
  compare->fallthrough();
  CLI::App* merge =
      app.add_subcommand("merge", "merge the session JSON files of many machines into one report");
  merge->add_option("SESSIONS", options.merged, "session files, one or more per machine");
  merge->fallthrough();

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    options.help_text = app.help();
    return "";
  } catch (const CLI::ParseError& error) {
    return Explained(error);
  }

  if (compare->parsed() || merge->parsed()) {
    options.command = compare->parsed() ? Command::kCompare : Command::kMerge;
    const std::string what =
        compare->parsed() ? "compare reads two saved sessions: " : "merge reads saved sessions: ";
    for (CLI::Option* measuring : {runs_option, bench_option, precision_option, time_limit_option,
                                   run_timeout_option, bind_option, input_option}) {
      if (measuring->count() > 0) {
        return what + measuring->get_name() + " does not apply";
      }
    }
    if (long_csv)
      return std::string(compare->parsed() ? "compare" : "merge") +
             " has no --long-csv; use --csv or --json";
  }
  if (!runs.empty()) {
    const std::optional<int> value = WholeNumber<int>(runs);
    if (!value || *value < 1 || *value > MAX_RUNS) {
      return "--runs needs a whole number from 1 to " + std::to_string(MAX_RUNS) + ", not " +
             Quoted(runs);
    }
    options.runs = *value;
    options.runs_given = true;
  }
  if (!precision.empty()) {
    options.precision = ParseFraction(precision);
    if (!options.precision)
      return "--precision needs a percentage such as 2%, not " + Quoted(precision);
  }
  if (!max_runs.empty()) {
    const std::optional<int> value = WholeNumber<int>(max_runs);
    if (!value || *value < MIN_RUNS_FOR_95 || *value > MAX_RUNS) {
      return "--max-runs needs a whole number from " + std::to_string(MIN_RUNS_FOR_95) + " to " +
             std::to_string(MAX_RUNS) + ", not " + Quoted(max_runs);
    }
    options.max_runs = *value;
  }
  for (auto [text, target, name] :
       {std::tuple{&time_limit, &options.time_limit, "--time-limit"},
        std::tuple{&run_timeout, &options.run_timeout, "--run-timeout"}}) {
    if (text->empty()) continue;
    *target = ParseDuration(*text);
    if (!*target)
      return std::string(name) + " needs a duration such as 90, 90s or 5m, not " + Quoted(*text);
  }
  if (!processors.empty()) {
    options.processors = WholeNumber<int>(processors);
    if (!options.processors || *options.processors < 1 || *options.processors > 1 << 20) {
      return "--processors needs a whole number of at least 1, not " + Quoted(processors);
    }
  }
  if (!slower.empty()) {
    options.fail_if_slower = ParseFraction(slower);
    if (!options.fail_if_slower) {
      return "--fail-if-slower needs a percentage such as 5%, not " + Quoted(slower);
    }
  }
  if (!bind.empty()) {
    for (std::size_t start = 0; start <= bind.size();) {
      const std::size_t comma = std::min(bind.find(',', start), bind.size());
      const std::string placement = bind.substr(start, comma - start);
      if (placement != "close" && placement != "spread" && placement != "false") {
        return "--bind takes close, spread and false, separated by commas, not " + Quoted(bind);
      }
      for (const std::string& earlier : options.placements) {
        if (earlier == placement) return "--bind names " + placement + " twice";
      }
      options.placements.push_back(placement);
      start = comma + 1;
    }
  }
  if (options.input.empty() && input_option->count() > 0) return "--input needs a value";
  if (options.bench.empty() && bench_option->count() > 0) return "--bench needs a value";
  if (!options.plot.empty() && !EndsWith(options.plot, ".svg") && !EndsWith(options.plot, ".png")) {
    return "--plot needs a file name ending in .svg or .png, not " + Quoted(options.plot);
  }
  if (plot_option->count() > 0 && options.plot.empty()) return "--plot needs a value";
  if (!options.placements.empty() && (csv || long_csv)) {
    return "--bind prints a table or --json; read the saved placements back for CSV";
  }
  options.format = csv        ? OutputFormat::kCsv
                   : long_csv ? OutputFormat::kLongCsv
                   : json     ? OutputFormat::kJson
                              : OutputFormat::kTable;
  return "";
}
