#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "base/interrupts.h"
#include "base/io.h"
#include "base/outputs.h"
#include "base/text.h"
#include "commands/commands.h"
#include "commands/complain.h"
#include "commands/drawing.h"
#include "commands/output.h"
#include "measure/sysinfo.h"
#include "measure/trace_loop.h"
#include "present/chart.h"
#include "present/html_reporter.h"
#include "present/reporter.h"
#include "present/trace_export.h"
#include "present/trace_report.h"
#include "present/words.h"
#include "session/inputs.h"
#include "stats/diagnostics.h"
#include "stats/trace_figures.h"

namespace speedup {
namespace {

// This program's folder, with a trailing slash.
std::string ProgramFolder() {
  std::string self(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  self.resize(length > 0 ? length : 0);
  return self.substr(0, self.rfind('/') + 1);
}

bool Readable(const std::string& path) { return !path.empty() && access(path.c_str(), R_OK) == 0; }

// True when `path` begins as an ELF file does: anything else is no tool, whatever the runtime.
bool LooksLikeLibrary(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[4] = {};
  const bool elf = read(fd, magic, sizeof magic) == 4 && std::memcmp(magic,
                                                                     "\x7f"
                                                                     "ELF",
                                                                     4) == 0;
  close(fd);
  return elf;
}

// The trace tool: as given, else from MATBENCH_TRACE_TOOL, else built or installed beside us.
std::string FindTool(const TraceOptions& trace) {
  if (!trace.tool.empty()) return trace.tool;
  if (const char* named = std::getenv("MATBENCH_TRACE_TOOL"); named != nullptr && *named) {
    return named;
  }
  const std::string folder = ProgramFolder();
  // libexec/ since 0.5 (a plugin, not a library of the system's); lib/ where older builds put it.
  for (const std::string& candidate : {folder + "tools/trace/libmatbench-trace.so",
                                       folder + "../libexec/matbench/libmatbench-trace.so",
                                       folder + "../lib/matbench/libmatbench-trace.so"}) {
    if (Readable(candidate)) return candidate;
  }
  return "";
}

// The OpenMP runtime a traced run uses, in words, and the one to preload, if any.
struct TracedRuntime {
  std::optional<std::string> preload;
  std::string words;
};

// LLVM's runtime to preload, when the benchmark beside us runs on libgomp, which has no tools
// interface; a kUsage failure when one is needed and none is known.
Result<TracedRuntime> Preload(const Options& options) {
  if (!options.trace.runtime.empty()) {
    return TracedRuntime{options.trace.runtime,
                         "LLVM's OpenMP runtime " + options.trace.runtime + ", preloaded"};
  }
  Context build;
  AddBuildInfo(build);
  if (!options.bench.empty() || build.openmp_runtime != "libgomp") {
    return TracedRuntime{std::nullopt, "the benchmark's own OpenMP runtime"};
  }
#ifdef MATBENCH_LLVM_OMP_RUNTIME
  if (Readable(MATBENCH_LLVM_OMP_RUNTIME)) {
    // Appended, not chained: GCC 12 at -O2 warns falsely of bounds in the chained operator+.
    std::string words = "a GCC build on LLVM's ";
    words += MATBENCH_LLVM_OMP_RUNTIME;
    words += ", preloaded (libgomp has no tools interface)";
    return TracedRuntime{std::string(MATBENCH_LLVM_OMP_RUNTIME), words};
  }
#endif
  return Fail(FailureKind::kUsage,
              "the benchmark runs on GCC's libgomp, which has no OpenMP tools interface, and "
              "LLVM's runtime was not found: give it with --runtime (Debian: libomp-19-dev)");
}

// The names a trace folder of ours holds, so that an earlier one may be replaced whole.
bool TraceFolderName(std::string_view name) {
  return name == TRACE_INDEX_FILE || name == TRACED_SESSION_FILE || name == UNTRACED_SESSION_FILE ||
         (name.starts_with("run-") && name.ends_with(".trace")) ||
         (name.starts_with(".") && name.find(".partial-") != name.npos);
}

// The names of an OTF2 archive named "matbench".
bool Otf2ArchiveName(std::string_view name) {
  return name == "matbench" || name == "matbench.otf2" || name == "matbench.def";
}

// A staged folder's commit; false, with a message.
bool Committed(StagedFolder& folder) {
  const Status committed = folder.Commit();
  if (!committed) Complain(committed.failure().message);
  return committed.ok();
}

// The session files and the index with its figures, in the trace folder.
bool SaveTraceSession(const std::string& folder, const TraceSession& session,
                      const TraceFigures& figures) {
  const std::unique_ptr<Reporter> json = MakeReporter(OutputFormat::kJson);
  bool saved = true;
  for (const auto& [name, part] : {std::pair{TRACED_SESSION_FILE, &session.traced},
                                   std::pair{UNTRACED_SESSION_FILE, &session.untraced}}) {
    if (!HasPassedRun(*part)) continue;  // no figures to save beside the runs
    saved =
        Written(WriteWholeFile(folder + "/" + name, json->SessionReport(*part, Analyse(*part)))) &&
        saved;
  }
  return Written(WriteWholeFile(folder + "/" + TRACE_INDEX_FILE,
                                json->TraceReport(session, figures))) &&
         saved;
}

// Reads every raw trace that the index names into session.traces.
bool ReadRunTraces(const std::string& folder, TraceSession& session) {
  // Each file is read once, however many runs name it: memory as the files', not the runs'.
  std::map<std::string, std::shared_ptr<const RunTrace>> by_file;
  for (std::size_t i = 0; i < session.trace_files.size(); ++i) {
    if (session.trace_files[i].empty()) continue;
    if (PendingInterrupt() != 0) return false;
    std::shared_ptr<const RunTrace>& trace = by_file[session.trace_files[i]];
    if (trace == nullptr) {
      const std::string path = folder + "/" + session.trace_files[i];
      const Result<std::string> bytes = ReadInput(path);
      if (!bytes) {
        Refuse(bytes.failure());
        return false;
      }
      Result<RunTrace> parsed = ReadRunTrace(*bytes);
      if (!parsed) {
        if (parsed.failure().kind != FailureKind::kInterrupted) {
          Complain(Quoted(path) + ": " + parsed.failure().message);
        }
        return false;
      }
      trace = std::make_shared<const RunTrace>(std::move(parsed).value());
    }
    session.traces[i] = trace;
  }
  return PendingInterrupt() == 0;
}

// Reads a trace folder back: the index, both sessions and every raw trace it names.
bool ReadTraceFolder(const std::string& folder, TraceSession& session) {
  Result<std::string> text = ReadInput(folder + "/" + TRACE_INDEX_FILE);
  if (!text) {
    Refuse(text.failure());
    return false;
  }
  Result<TraceSession> read = ReadTraceIndexText(*text);
  *text = std::string();
  if (!read && read.failure().kind == FailureKind::kInterrupted) return false;  // main names it
  if (!read) {
    Complain(Quoted(folder + "/" + TRACE_INDEX_FILE) +
             (read.failure().kind == FailureKind::kNotJson ? " is " : ": ") +
             read.failure().message);
    return false;
  }
  session = std::move(read).value();
  if (session.trace_files.size() > static_cast<std::size_t>(MAX_TRACE_RUNS)) {
    Complain(Quoted(folder + "/" + TRACE_INDEX_FILE) + " names " +
             std::to_string(session.trace_files.size()) + " traced runs; at most " +
             std::to_string(MAX_TRACE_RUNS) + " are read (each holds its whole trace)");
    return false;
  }
  Result<SessionFile> traced = ReadSessionFile(folder + "/" + TRACED_SESSION_FILE);
  if (!traced) {
    Refuse(traced.failure());
    return false;
  }
  Result<SessionFile> untraced = ReadSessionFile(folder + "/" + UNTRACED_SESSION_FILE);
  if (!untraced) {
    Refuse(untraced.failure());
    return false;
  }
  session.traced = std::move(traced->session);
  session.untraced = std::move(untraced->session);
  if (session.trace_files.size() != session.traced.runs.size()) {
    Complain(Quoted(folder) + ": the index names " + std::to_string(session.trace_files.size()) +
             " traced runs, the session holds " + std::to_string(session.traced.runs.size()));
    return false;
  }
  return ReadRunTraces(folder, session);
}

// The timeline chart and the exports of the median run at the chosen team size.
bool WriteOneRun(const Options& options, const TraceSession& session) {
  const TraceOptions& trace = options.trace;
  if (trace.timeline.empty() && trace.chrome.empty() && trace.otf2.empty()) return true;
  const int team = trace.team.value_or(
      std::clamp(session.traced.context.processors.value_or(2), 1, MAX_THREADS));
  const std::optional<std::size_t> run = MedianRun(session, team);
  if (!run) {
    Complain("no trace holds a team of " + std::to_string(team) + ": no timeline or export");
    return false;
  }
  const RunTrace& chosen = *session.traces[*run];
  const std::string name = MedianRunName(*run);
  bool written = true;
  if (!trace.timeline.empty()) {
    const PlotResult plot = DrawChart(
        trace.timeline, TimelineScript(chosen, team, name, ChartFileName(trace.timeline)));
    if (!plot.message.empty()) Complain(plot.message);
    written = !plot.Failed() && written;
  }
  if (!trace.chrome.empty())
    written = Written(WriteWholeFile(trace.chrome, ChromeTraceJson(chosen))) && written;
  if (!trace.otf2.empty()) {
    Result<StagedFolder> archive = StagedFolder::Begin(trace.otf2, Otf2ArchiveName);
    if (!archive) {
      Complain(archive.failure().message);
      written = false;
    } else if (const std::string error = WriteOtf2(chosen, archive->where(), "matbench");
               !error.empty()) {
      Complain("cannot write the OTF2 archive " + Quoted(trace.otf2) + ": " + error);
      written = false;
    } else {
      written = Committed(*archive) && written;
    }
  }
  return written;
}

// The page's timelines: the median run at one thread, at the chosen team size and at twice it,
// each team size once and where some trace holds it.
std::vector<TraceTimeline> PageTimelines(const Options& options, const TraceSession& session) {
  const int team = options.trace.team.value_or(
      std::clamp(session.traced.context.processors.value_or(2), 1, MAX_THREADS));
  std::vector<TraceTimeline> timelines;
  for (const int size : {1, team, std::min(2 * team, MAX_THREADS)}) {
    if (!timelines.empty() && timelines.back().team == size) continue;
    const std::optional<std::size_t> run = MedianRun(session, size);
    if (!run) continue;
    timelines.push_back({size, MedianRunName(*run), &*session.traces[*run]});
  }
  return timelines;
}

// Names each run that failed and each traced run that has no trace; true when there was none.
// Lost events are the figures' to say.
bool NameUntracedRuns(const TraceSession& session, const TraceFigures& figures) {
  bool whole = true;
  for (const TraceWarning& warning : TraceWarnings(session, figures)) {
    if (warning.kind == TraceWarning::Kind::kLostEvents) continue;
    Complain(TraceWarningText(warning));
    whole = false;
  }
  return whole;
}

// Runs the traced session into the plan's folder; false, with a message, when it cannot start.
bool MeasureTrace(const Options& options, TraceSession& session,
                  std::optional<StagedFolder>& staged) {
  const std::string tool = FindTool(options.trace);
  if (!Readable(tool)) {
    Complain(tool.empty() ? std::string("the trace tool libmatbench-trace.so was not found; "
                                        "give it with --tool (it is built with LLVM 19's "
                                        "OpenMP headers, Debian libomp-19-dev)")
                          : "cannot read the trace tool " + Quoted(tool));
    return false;
  }
  if (!LooksLikeLibrary(tool)) {
    Complain("the trace tool " + Quoted(tool) + " is not a shared library (no ELF header)");
    return false;
  }
  const Result<TracedRuntime> runtime = Preload(options);
  if (!runtime) {
    Complain(runtime.failure().message);
    return false;
  }
  TracePlan plan;
  plan.preload = runtime->preload;
  session.runtime = runtime->words;
  // The folder appears whole when the session is over, or not at all.
  Result<StagedFolder> folder = StagedFolder::Begin(options.trace.folder, TraceFolderName);
  if (!folder) {
    Complain(folder.failure().message);
    return false;
  }
  staged.emplace(std::move(*folder));
  plan.runs = options.plan.runs;
  plan.tool = tool;
  plan.folder = staged->where();
  plan.progress = isatty(STDERR_FILENO) != 0 ? Progress::kTerminal : Progress::kLines;
  const std::string bench = options.bench.empty() ? BenchBesideTool() : options.bench;
  session.traced.context = ReadMachineContext();
  if (options.bench.empty()) AddBuildInfo(session.traced.context);
  ProcessExecutor executor(bench);
  if (Status measured = MeasureTraceSession(plan, executor, bench, session); !measured) {
    Refuse(measured.failure());
    return false;
  }
  session.traced.context.load_after = ReadLoadAverage();
  // Both sessions were read on the clock the benchmark's file names, where it names one.
  if (const std::optional<double> tick = BenchClockTick(bench)) {
    session.traced.context.clock_tick_seconds = tick;
  }
  session.untraced.context = session.traced.context;
  return true;
}

}  // namespace

int TraceCommand(const Options& options) {
  TraceSession session;
  std::optional<StagedFolder> staged;
  const bool reading = !options.trace.input.empty();
  if (reading ? !ReadTraceFolder(options.trace.input, session)
              : !MeasureTrace(options, session, staged)) {
    return 2;
  }
  ObeyInterruptsAtOnce();  // the runs are over: nothing is left to finish
  const TraceFigures figures = ComputeTraceFigures(session);
  bool failed = !NameUntracedRuns(session, figures);
  if (figures.traced_runs == 0) {
    Complain("no traced run passed with a usable trace: no figures");
    failed = true;
  }
  if (!reading) {
    failed = !SaveTraceSession(staged->where(), session, figures) || failed;
    failed = !Committed(*staged) || failed;
  }
  if (figures.traced_runs > 0) {
    if (Status written = WriteOut(MakeReporter(options.format)->TraceReport(session, figures));
        !written) {
      Refuse(written.failure());
      failed = true;
    }
    if (!options.plot.empty()) {
      const PlotResult plot =
          DrawChart(options.plot, SplitChartScript(session, figures, ChartFileName(options.plot)));
      if (!plot.message.empty()) Complain(plot.message);
      failed = plot.Failed() || failed;
    }
    failed = !WriteOneRun(options, session) || failed;
    if (!options.html.empty()) {
      HtmlMaterial material;
      material.timelines = PageTimelines(options, session);
      material.draw = DrawPageChart;
      failed =
          !DeliverPage(options.html, MakeHtmlReporter(material)->TraceReport(session, figures)) ||
          failed;
    }
  }
  // A folder read back says its session's interruption in the table; only a session interrupted
  // now ends as an interrupt does.
  if (!reading && session.traced.interrupted) {
    Complain("interrupted by " + InterruptName(*session.traced.interrupted) + " after " +
             std::to_string(session.traced.runs.size()) + " traced runs");
    return 128 + PendingInterrupt();
  }
  return failed ? 1 : 0;
}

}  // namespace speedup
