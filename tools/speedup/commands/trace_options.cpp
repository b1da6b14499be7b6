#include <CLI/CLI.hpp>

#include "base/text.h"
#include "bench/sweep.h"
#include "commands/options.h"

namespace speedup {

CLI::App* AddTraceCommand(CLI::App& app, TraceOptions& trace) {
  CLI::App* command = app.add_subcommand(
      "trace",
      "run the benchmark under the OpenMP trace tool (each traced run beside an untraced one on "
      "the same runtime) and show where each team's time went");
  command
      ->add_option("--out", trace.folder,
                   "folder for the sessions and every raw trace (default matbench-trace)")
      ->type_name("FOLDER");
  command->add_option("--input", trace.input, "read a trace folder back instead of running")
      ->type_name("FOLDER");
  command
      ->add_option("--tool", trace.tool,
                   "the trace tool (default: libmatbench-trace.so "
                   "built or installed beside this program)")
      ->type_name("FILE");
  command
      ->add_option("--runtime", trace.runtime,
                   "LLVM's OpenMP runtime to preload under a libgomp build (default: the "
                   "one found at build time)")
      ->type_name("FILE");
  command
      ->add_option("--team", trace.team,
                   "team size of the timeline and the exports (default: the processors)")
      ->type_name("N");
  command->add_option("--timeline", trace.timeline, "draw one run's timeline into this .svg/.png")
      ->type_name("FILE");
  command
      ->add_option("--chrome", trace.chrome,
                   "write one run as Chrome trace-event JSON (Perfetto, chrome://tracing)")
      ->type_name("FILE");
  command->add_option("--otf2", trace.otf2, "write one run as an OTF2 archive in this new folder")
      ->type_name("FOLDER");
  command->fallthrough();
  return command;
}

Status CheckTraceOptions(const TraceOptions& trace, const CLI::App& command) {
  if (trace.folder.empty()) return Usage("trace --out needs a folder");
  if (trace.team && (*trace.team < 1 || *trace.team > MAX_THREADS)) {
    return Usage("trace --team needs a team size from 1 to " + std::to_string(MAX_THREADS));
  }
  if (!trace.timeline.empty() && !trace.timeline.ends_with(".svg") &&
      !trace.timeline.ends_with(".png")) {
    return Usage("--timeline needs a file name ending in .svg or .png, not " +
                 Quoted(trace.timeline));
  }
  if (!trace.input.empty() && (command.count("--tool") > 0 || command.count("--runtime") > 0 ||
                               command.count("--out") > 0)) {
    return Usage("trace --input reads a folder back: --tool, --runtime and --out do not apply");
  }
  return Success();
}

}  // namespace speedup
