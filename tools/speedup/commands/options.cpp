#include "commands/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "base/text.h"
#include "measure/sysinfo.h"

namespace speedup {

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
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    const std::string name = what.substr(0, what.find(':'));
    if (what.find("missing") != what.npos) return name + " needs a value";
    if (what.find("At Most 1") != what.npos) return name + " given more than once";
  }
  return what;
}

}  // namespace

Result<double> ParseFraction(const std::string& option, const std::string& text,
                             const std::string& example) {
  const bool percent = !text.empty() && text.back() == '%';
  std::optional<double> value =
      WholeNumber<double>(std::string_view(text).substr(0, text.size() - (percent ? 1 : 0)));
  if (value && percent) *value /= 100.0;
  if (!value || !(*value > 0.0 && *value < 1.0)) {
    return Usage(option + " needs a percentage such as " + example + ", not " + Quoted(text));
  }
  return *value;
}

Result<double> ParseDuration(const std::string& option, const std::string& text) {
  double unit = 1.0;
  std::string_view number = text;
  if (!number.empty() && std::string_view("smh").find(number.back()) != std::string_view::npos) {
    unit = number.back() == 's' ? 1.0 : number.back() == 'm' ? 60.0 : 3600.0;
    number.remove_suffix(1);
  }
  const std::optional<double> value = WholeNumber<double>(number);
  if (!value || !(*value > 0.0) || !std::isfinite(*value * unit)) {
    return Usage(option + " needs a duration such as 90, 90s or 5m, not " + Quoted(text));
  }
  return *value * unit;
}

namespace {

// Every option's text as given, before it is checked, and the options that tell what was given.
struct RawOptions {
  std::string runs, warmup, precision, max_runs, time_limit, run_timeout, bind, processors, slower;
  bool csv = false, long_csv = false, json = false;
  // The files of --export-json, --export-csv, --export-long-csv and --export-markdown.
  std::string export_json, export_csv, export_long_csv, export_markdown;
  CLI::Option *runs_option, *warmup_option, *bench_option, *precision_option, *max_runs_option,
      *time_limit_option, *run_timeout_option, *bind_option, *input_option, *processors_option,
      *unsettled_option;
  std::vector<CLI::Option*> plot_options;    // --plot of the session, compare and merge
  std::vector<CLI::Option*> export_options;  // the --export-* options
  std::vector<CLI::Option*> html_options;    // --html of every command
  CLI::App *compare, *merge, *trace;
};

std::string SecondsWithUnit(double seconds) { return Formatted("%g s", seconds); }

// The report formats of `app`: --csv, --long-csv where `every_run` and --json, exclusive, and
// --plot. compare and merge take them too, into the same values, so their help lists them.
void DefineReportOptions(CLI::App& app, Options& options, RawOptions& raw, bool every_run) {
  CLI::Option* csv_option = app.add_flag("--csv", raw.csv, "print the figures as CSV");
  CLI::Option* long_csv_option = nullptr;
  if (every_run) {
    long_csv_option = app.add_flag("--long-csv", raw.long_csv,
                                   "print every run's times as CSV (run,threads,seconds,passed)");
  }
  CLI::Option* json_option = app.add_flag(
      "--json", raw.json,
      every_run ? "print every run, the figures and the context as JSON" : "print it as JSON");
  raw.plot_options.push_back(
      app.add_option("--plot", options.plot, "draw the chart into this .svg or .png file")
          ->type_name("FILE"));
  raw.html_options.push_back(
      app.add_option("--html", options.html,
                     "also write the report as one self-contained HTML page (tables, charts, "
                     "raw data)")
          ->type_name("FILE"));
  csv_option->excludes(json_option);
  if (long_csv_option != nullptr) {
    csv_option->excludes(long_csv_option);
    json_option->excludes(long_csv_option);
  }
}

// --export-json FILE and the like: a session's report in that format to a file, besides the one
// on standard output.
void DefineExportOptions(CLI::App& app, RawOptions& raw) {
  for (auto [name, target, what] :
       {std::tuple{"--export-json", &raw.export_json, "the whole session as JSON"},
        std::tuple{"--export-csv", &raw.export_csv, "the figures as CSV"},
        std::tuple{"--export-long-csv", &raw.export_long_csv, "every run's times as CSV"},
        std::tuple{"--export-markdown", &raw.export_markdown, "the figures as a Markdown table"}}) {
    raw.export_options.push_back(
        app.add_option(name, *target, std::string("also write ") + what + " to this file")
            ->type_name("FILE"));
  }
}

// The session's options that trace takes too, into the same values, so that its help lists them.
void DefineTraceSessionOptions(CLI::App& trace, Options& options, RawOptions& raw) {
  trace
      .add_option(
          "-r,--runs", raw.runs,
          "pairs of runs, one traced and one not (default " + std::to_string(DEFAULT_RUNS) + ")")
      ->type_name("N");
  trace.add_option("--bench", options.bench, "benchmark to trace (default: matbench beside this)")
      ->type_name("FILE");
  trace.add_flag("--json", raw.json, "print the traced session and its figures as JSON");
  raw.plot_options.push_back(trace
                                 .add_option("--plot", options.plot,
                                             "draw where each team's time went into this .svg "
                                             "or .png file")
                                 ->type_name("FILE"));
  raw.html_options.push_back(
      trace
          .add_option("--html", options.html,
                      "also write the report as one self-contained HTML page")
          ->type_name("FILE"));
}

// The options of every command, with help texts made from the same constants as the behaviour.
void DefineSubcommands(CLI::App& app, Options& options, RawOptions& raw);

// The options of a measuring session, which --input excludes.
void DefineMeasuringOptions(CLI::App& app, Options& options, RawOptions& raw) {
  raw.runs_option = app.add_option("-r,--runs", raw.runs,
                                   "runs to make (default " + std::to_string(DEFAULT_RUNS) +
                                       "; at least " + std::to_string(MIN_RUNS_FOR_95) + " for a " +
                                       Formatted("%g%%", CONFIDENCE * 100.0) + " interval)")
                        ->type_name("N");
  raw.warmup_option = app.add_option("-w,--warmup", raw.warmup,
                                     "runs to make first, kept in the session but left out of "
                                     "the figures (default 0)")
                          ->type_name("N");
  raw.bench_option =
      app.add_option("--bench", options.bench,
                     "benchmark to run (default: matbench-fine beside this, else matbench)")
          ->type_name("FILE");
  raw.precision_option =
      app.add_option("--precision", raw.precision,
                     "run until every speedup interval is within this fraction of its median, "
                     "e.g. 2% or 0.02 (at least " +
                         std::to_string(MIN_RUNS_FOR_95) + " runs)")
          ->type_name("FRACTION");
  raw.max_runs_option =
      app.add_option("--max-runs", raw.max_runs,
                     "most runs with --precision (default " + std::to_string(DEFAULT_MAX_RUNS) +
                         ", at most " + std::to_string(MAX_RUNS) + ")")
          ->type_name("N");
  raw.unsettled_option =
      app.add_flag("--fail-if-unsettled", options.fail_if_unsettled,
                   "exit status 1 when --precision stopped before every speedup settled");
  raw.time_limit_option = app.add_option("--time-limit", raw.time_limit,
                                         "stop starting runs after this long, e.g. 300, 5m, 1h")
                              ->type_name("DURATION");
  raw.run_timeout_option =
      app.add_option("--run-timeout", raw.run_timeout,
                     "kill a run that takes longer (default " +
                         SecondsWithUnit(FIRST_RUN_TIMEOUT_SECONDS) + " for the first, then " +
                         Formatted("%g", RUN_TIMEOUT_FACTOR) + " x the longest so far, at least " +
                         SecondsWithUnit(RUN_TIMEOUT_FLOOR_SECONDS) + ")")
          ->type_name("DURATION");
  raw.bind_option = app.add_option("--bind", raw.bind,
                                   "one session per thread placement: any of close,spread,false")
                        ->type_name("PLACEMENTS");
}

void DefineOptions(CLI::App& app, Options& options, RawOptions& raw) {
  DefineMeasuringOptions(app, options, raw);
  raw.input_option = app.add_option("--input", options.input,
                                    "read saved reports or a session JSON (- for standard input; "
                                    "at most " +
                                        ByteCountText(MAX_INPUT_BYTES) + ")")
                         ->type_name("FILE");
  raw.processors_option = app.add_option("--processors", raw.processors,
                                         "processor count of the machine that wrote saved reports")
                              ->type_name("N");
  DefineReportOptions(app, options, raw, true);
  DefineExportOptions(app, raw);
  // The manual page is made from it, so that it holds every command's options.
  app.set_help_all_flag("--help-all", "print the help of every command");
  app.set_version_flag(
      "-V,--version", [] { return "matbench-speedup " + ToolVersion(); },
      "print the version and exit");
  for (CLI::Option* measuring :
       {raw.runs_option, raw.warmup_option, raw.bench_option, raw.precision_option,
        raw.max_runs_option, raw.time_limit_option, raw.run_timeout_option, raw.bind_option}) {
    raw.input_option->excludes(measuring);
  }
  raw.processors_option->needs(raw.input_option);
  raw.max_runs_option->needs(raw.precision_option);
  raw.unsettled_option->needs(raw.precision_option);
  DefineSubcommands(app, options, raw);
}

// compare, merge and trace, after the session's own options, as --help lists them.
void DefineSubcommands(CLI::App& app, Options& options, RawOptions& raw) {
  raw.compare = app.add_subcommand("compare", "compare two saved session JSON files");
  raw.compare->add_option("BASE_AND_NEW", options.compared, "the two session files")
      ->type_name("FILE")
      ->expected(2)
      ->required();
  raw.compare
      ->add_option("--fail-if-slower", raw.slower,
                   "exit status 1 when a row is significantly slower by more than this fraction, "
                   "e.g. 5% or 0.05")
      ->type_name("FRACTION");
  DefineReportOptions(*raw.compare, options, raw, false);
  raw.compare->fallthrough();
  raw.merge =
      app.add_subcommand("merge", "merge the session JSON files of many machines into one report");
  raw.merge->add_option("SESSIONS", options.merged, "session files, one or more per machine")
      ->type_name("FILE");
  DefineReportOptions(*raw.merge, options, raw, false);
  raw.merge->fallthrough();
  raw.trace = AddTraceCommand(app, options.trace);
  DefineTraceSessionOptions(*raw.trace, options, raw);
}

// compare and merge read saved sessions: no option of a measuring session applies to them.
Status CheckSubcommand(const RawOptions& raw, Options& options) {
  if (raw.trace->parsed()) {
    options.command = Command::kTrace;
    std::vector<CLI::Option*> not_for_trace = {
        raw.precision_option, raw.max_runs_option,  raw.time_limit_option, raw.bind_option,
        raw.input_option,     raw.unsettled_option, raw.warmup_option};
    not_for_trace.insert(not_for_trace.end(), raw.export_options.begin(), raw.export_options.end());
    for (CLI::Option* option : not_for_trace) {
      if (option->count() > 0) return Usage("trace: " + option->get_name() + " does not apply");
    }
    if (raw.long_csv)
      return Usage(
          "trace prints a table, --csv or --json: a traced run's times are in its session files");
    return CheckTraceOptions(options.trace, *raw.trace);
  }
  if (!raw.compare->parsed() && !raw.merge->parsed()) return Success();
  options.command = raw.compare->parsed() ? Command::kCompare : Command::kMerge;
  const std::string what =
      raw.compare->parsed() ? "compare reads two saved sessions: " : "merge reads saved sessions: ";
  std::vector<CLI::Option*> session_only = {
      raw.runs_option,       raw.warmup_option,      raw.bench_option, raw.precision_option,
      raw.time_limit_option, raw.run_timeout_option, raw.bind_option,  raw.input_option};
  session_only.insert(session_only.end(), raw.export_options.begin(), raw.export_options.end());
  for (CLI::Option* measuring : session_only) {
    if (measuring->count() > 0) return Usage(what + measuring->get_name() + " does not apply");
  }
  if (raw.long_csv) {
    return Usage(std::string(raw.compare->parsed() ? "compare" : "merge") +
                 " has no --long-csv; use --csv or --json");
  }
  return Success();
}

// The counts, fractions and durations, each within its range.
Status ReadNumbers(const RawOptions& raw, Options& options) {
  MeasurePlan& plan = options.plan;
  if (!raw.runs.empty()) {
    const std::optional<int> value = WholeNumber<int>(raw.runs);
    if (!value || *value < 1 || *value > MAX_RUNS) {
      return Usage("--runs needs a whole number from 1 to " + std::to_string(MAX_RUNS) + ", not " +
                   Quoted(raw.runs));
    }
    plan.runs = *value;
    plan.runs_given = true;
  }
  if (!raw.warmup.empty()) {
    const std::optional<int> value = WholeNumber<int>(raw.warmup);
    if (!value || *value < 0 || *value > MAX_RUNS) {
      return Usage("--warmup needs a whole number from 0 to " + std::to_string(MAX_RUNS) +
                   ", not " + Quoted(raw.warmup));
    }
    plan.warmup = *value;
  }
  if (!raw.precision.empty()) {
    const Result<double> precision = ParseFraction("--precision", raw.precision, "2%");
    if (!precision) return precision.failure();
    plan.precision = *precision;
  }
  if (!raw.max_runs.empty()) {
    const std::optional<int> value = WholeNumber<int>(raw.max_runs);
    if (!value || *value < MIN_RUNS_FOR_95 || *value > MAX_RUNS) {
      return Usage("--max-runs needs a whole number from " + std::to_string(MIN_RUNS_FOR_95) +
                   " to " + std::to_string(MAX_RUNS) + ", not " + Quoted(raw.max_runs));
    }
    plan.max_runs = *value;
  }
  for (auto [text, target, name] :
       {std::tuple{&raw.time_limit, &plan.time_limit, "--time-limit"},
        std::tuple{&raw.run_timeout, &plan.run_timeout, "--run-timeout"}}) {
    if (text->empty()) continue;
    const Result<double> duration = ParseDuration(name, *text);
    if (!duration) return duration.failure();
    *target = *duration;
  }
  if (!raw.processors.empty()) {
    options.processors = WholeNumber<int>(raw.processors);
    if (!options.processors || *options.processors < 1 || *options.processors > 1 << 20) {
      return Usage("--processors needs a whole number of at least 1, not " +
                   Quoted(raw.processors));
    }
  }
  if (!raw.slower.empty()) {
    const Result<double> slower = ParseFraction("--fail-if-slower", raw.slower, "5%");
    if (!slower) return slower.failure();
    options.fail_if_slower = *slower;
  }
  return Success();
}

// --bind's comma-separated placements, each known and named once.
Status ReadPlacements(const std::string& bind, std::vector<std::string>& placements) {
  if (bind.empty()) return Success();
  for (std::size_t start = 0; start <= bind.size();) {
    const std::size_t comma = std::min(bind.find(',', start), bind.size());
    const std::string placement = bind.substr(start, comma - start);
    if (placement != "close" && placement != "spread" && placement != "false") {
      return Usage("--bind takes close, spread and false, separated by commas, not " +
                   Quoted(bind));
    }
    for (const std::string& earlier : placements) {
      if (earlier == placement) return Usage("--bind names " + placement + " twice");
    }
    placements.push_back(placement);
    start = comma + 1;
  }
  return Success();
}

// Values that must not be empty, the chart's file type, and the one output format.
Status CheckOutputs(const RawOptions& raw, Options& options) {
  if (options.input.empty() && raw.input_option->count() > 0) return Usage("--input needs a value");
  if (options.bench.empty() && raw.bench_option->count() > 0) return Usage("--bench needs a value");
  if (raw.bind.empty() && raw.bind_option->count() > 0) return Usage("--bind needs a value");
  if (!options.plot.empty() && !EndsWith(options.plot, ".svg") && !EndsWith(options.plot, ".png")) {
    return Usage("--plot needs a file name ending in .svg or .png, not " + Quoted(options.plot));
  }
  for (const CLI::Option* plot : raw.plot_options) {
    if (plot->count() > 0 && options.plot.empty()) return Usage("--plot needs a value");
  }
  for (const CLI::Option* html : raw.html_options) {
    if (html->count() > 0 && options.html.empty()) return Usage("--html needs a value");
  }
  const bool csv_export = !raw.export_csv.empty() || !raw.export_long_csv.empty();
  if (!options.placements.empty() && (raw.csv || raw.long_csv || csv_export)) {
    return Usage("--bind prints a table or --json; read the saved placements back for CSV");
  }
  options.format = raw.csv        ? OutputFormat::kCsv
                   : raw.long_csv ? OutputFormat::kLongCsv
                   : raw.json     ? OutputFormat::kJson
                                  : OutputFormat::kTable;
  const std::pair<OutputFormat, const std::string*> exports[] = {
      {OutputFormat::kJson, &raw.export_json},
      {OutputFormat::kCsv, &raw.export_csv},
      {OutputFormat::kLongCsv, &raw.export_long_csv},
      {OutputFormat::kMarkdown, &raw.export_markdown}};
  for (std::size_t i = 0; i < raw.export_options.size(); ++i) {
    if (raw.export_options[i]->count() == 0) continue;
    if (exports[i].second->empty())
      return Usage(raw.export_options[i]->get_name() + " needs a value");
    for (const Export& earlier : options.exports) {
      if (earlier.path == *exports[i].second) {
        return Usage(raw.export_options[i]->get_name() + " names the file " +
                     Quoted(*exports[i].second) + " that another export writes");
      }
    }
    options.exports.push_back({exports[i].first, *exports[i].second});
  }
  return Success();
}

// The edit distance of `a` and `b`, a swap of two neighbours counting as one edit.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The option or command nearest to the unknown `given` (its value after "=" left out): within
// two edits, and fewer than half its letters; empty when none is that near. An option is looked
// for among those of `app` and of the subcommand that was given, a word among the commands.
std::string Nearest(const CLI::App& app, const std::string& given) {
  const bool option = given.starts_with("--");
  const std::string word = given.substr(0, given.find('='));
  // A name is short (the table stays small); a single dash starts no long option.
  if (word.size() > 64 || (!option && word.starts_with("-"))) return "";
  std::vector<std::string> known;
  std::vector<const CLI::App*> apps = {&app};
  for (const CLI::App* command : app.get_subcommands({})) {
    if (option && command->parsed()) apps.push_back(command);
    if (!option) known.push_back(command->get_name());
  }
  for (const CLI::App* each : apps) {
    for (const CLI::Option* known_option : each->get_options()) {
      for (const std::string& name : known_option->get_lnames()) known.push_back("--" + name);
    }
  }
  std::string best;
  std::size_t best_distance = 3;
  for (const std::string& name : known) {
    const std::size_t distance = EditDistance(word, name);
    if (distance < best_distance && 2 * distance < name.size() - (option ? 2 : 0)) {
      best = name;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace

Status ParseOptions(const std::vector<std::string>& args, Options& options) {
  CLI::App app{
      "Runs the benchmark several times, or reads saved runs, and prints for every team size the "
      "median time and the speedups with " +
          Formatted("%g%%", CONFIDENCE * 100.0) + " confidence intervals.",
      "matbench-speedup"};
  RawOptions raw;
  DefineOptions(app, options, raw);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    options.help_text = app.help();
    return Success();
  } catch (const CLI::CallForAllHelp&) {
    options.help_text = app.help("", CLI::AppFormatMode::All);
    return Success();
  } catch (const CLI::CallForVersion& version) {
    options.help_text = version.what() + std::string("\n");
    return Success();
  } catch (const CLI::ExtrasError&) {
    // CLI11's own message lists them last first, as it is given the arguments reversed; its list
    // of what remains keeps them in the order given.
    const std::vector<std::string> extras = app.remaining(true);
    std::vector<std::string> shown;
    for (const std::string& extra : extras) shown.push_back(Quoted(extra));
    const std::string nearest = extras.empty() ? "" : Nearest(app, extras.front());
    return Usage((extras.size() == 1 ? "unknown argument " : "unknown arguments ") +
                 Joined(shown, " ") + (nearest.empty() ? "" : "; did you mean " + nearest + "?"));
  } catch (const CLI::ParseError& error) {
    return Usage(Explained(error));
  }
  for (const Status& checked :
       {CheckSubcommand(raw, options), ReadNumbers(raw, options),
        ReadPlacements(raw.bind, options.placements), CheckOutputs(raw, options)}) {
    if (!checked) return checked;
  }
  return Success();
}

}  // namespace speedup
