#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/policy.h"
#include "base/result.h"
#include "measure/session_loop.h"
#include "present/reporter.h"

// CLI11 is read by the two files that define the options alone: it costs seconds a unit.
namespace CLI {
class App;
}

// The command line: which command, and every option's value, checked.
namespace speedup {

enum class Command {
  kSession,  // run the benchmark, or read saved runs, and report the figures
  kCompare,  // compare two saved sessions
  kMerge,    // merge the sessions of many machines into one fleet report
  kTrace,    // run the benchmark under the OpenMP trace tool, or read a traced session back
};

// The trace command's own options.
struct TraceOptions {
  std::string folder = "matbench-trace";  // where the sessions and raw traces are kept
  std::string input;                      // a trace folder to read back instead of running
  std::string tool;     // the trace tool's library; empty: the one built or installed beside
  std::string runtime;  // LLVM's OpenMP runtime to preload; empty: as the benchmark's build needs
  std::optional<int> team;  // team size of the timeline and the exports; empty: processors
  std::string timeline;     // timeline chart, .svg or .png
  std::string chrome;       // Chrome trace-event JSON of one run
  std::string otf2;         // OTF2 archive folder of one run
};

// A report written to a file while another goes to standard output.
struct Export {
  OutputFormat format = OutputFormat::kTable;
  std::string path;
};

struct Options {
  Command command = Command::kSession;
  std::string bench;  // benchmark to run; empty: the matbench beside this tool
  MeasurePlan plan;   // runs, precision and limits of a session that runs the benchmark
  std::vector<std::string> placements;  // OMP_PROC_BIND values of a placement study
  std::string input;  // saved reports or session JSON to read instead of running; "-": stdin
  std::optional<int> processors;         // stated processor count of saved raw reports
  std::vector<std::string> compared;     // BASE and NEW session files
  std::vector<std::string> merged;       // session files of a fleet
  std::optional<double> fail_if_slower;  // a fraction
  bool fail_if_unsettled = false;        // a --precision session that did not settle fails
  OutputFormat format = OutputFormat::kTable;
  std::vector<Export> exports;  // reports to files, in the order JSON, CSV, long CSV, Markdown
  std::string plot;             // chart to draw, .svg or .png; empty: none
  std::string html;             // the report as one self-contained HTML page; empty: none
  TraceOptions trace;
  std::string help_text;  // set when help or the version was asked for; then nothing else is done
};

// A kUsage failure saying what on the command line was wrong.
inline Failure Usage(std::string message) { return Fail(FailureKind::kUsage, std::move(message)); }

// Reads the arguments after the program name into `options`; a kUsage failure naming what was
// wrong.
Status ParseOptions(const std::vector<std::string>& args, Options& options);

// Adds the trace subcommand and its options to `app`, reading into `trace`.
CLI::App* AddTraceCommand(CLI::App& app, TraceOptions& trace);

// The trace options' own checks, once parsed; a kUsage failure naming what was wrong.
Status CheckTraceOptions(const TraceOptions& trace, const CLI::App& command);

// `option`'s "2%" or "0.02" as the fraction 0.02; a kUsage failure naming the option, the text
// and an `example` unless strictly between 0 and 1.
Result<double> ParseFraction(const std::string& option, const std::string& text,
                             const std::string& example);

// `option`'s "90", "90s", "1.5m" or "2h" as seconds; a kUsage failure naming the option and the
// text unless positive and finite.
Result<double> ParseDuration(const std::string& option, const std::string& text);

}  // namespace speedup
