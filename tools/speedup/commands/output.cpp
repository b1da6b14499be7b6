#include "commands/output.h"

#include "base/interrupts.h"
#include "base/io.h"
#include "base/outputs.h"
#include "base/text.h"
#include "commands/complain.h"
#include "commands/drawing.h"

namespace speedup {

bool Deliver(const std::string& text, const PlotRequest* chart, bool despite_interrupt) {
  if (!despite_interrupt && PendingInterrupt() != 0) return false;
  bool delivered = true;
  // The chart before the text, which comes last of all.
  if (chart != nullptr && !chart->path.empty() && !chart->curves.empty()) {
    const PlotResult plot = WritePlot(*chart);
    if (!plot.message.empty()) Complain(plot.message);
    delivered = !plot.Failed();
    if (!despite_interrupt && PendingInterrupt() != 0) return false;
  }
  if (Status written = WriteOut(text); !written) {
    Refuse(written.failure());
    delivered = false;
  }
  return delivered;
}

bool WriteExports(const std::vector<Export>& exports,
                  const std::function<std::string(const Reporter&)>& report) {
  bool written = true;
  for (const Export& file : exports) {
    written = Written(WriteWholeFile(file.path, report(*MakeReporter(file.format)))) && written;
  }
  return written;
}

bool Written(const Status& written) {
  // An interrupt that ended the writing is named by main, once.
  if (!written && written.failure().kind != FailureKind::kInterrupted) Refuse(written.failure());
  return written.ok();
}

bool DeliverPage(const std::string& path, const std::string& page) {
  if (path.empty()) return true;
  bool delivered = Written(WriteWholeFile(path, page));
  for (const std::string& failure : TakePageChartFailures()) {
    Complain("the page " + Quoted(path) + " has no chart: " + failure);
    delivered = false;
  }
  return delivered;
}

bool Measures(const Options& options) {
  return options.command == Command::kTrace
             ? options.trace.input.empty()
             : options.command == Command::kSession && options.input.empty();
}

Status CheckOutputPaths(const Options& options) {
  std::vector<std::string> inputs = options.compared;
  inputs.insert(inputs.end(), options.merged.begin(), options.merged.end());
  if (!options.input.empty()) inputs.push_back(options.input);
  std::vector<std::string> folders;
  const bool trace = options.command == Command::kTrace;
  if (trace && !options.trace.input.empty()) folders.push_back(options.trace.input);
  std::vector<PlannedOutput> outputs;
  const char* const export_options[] = {"--export-table", "--export-csv", "--export-long-csv",
                                        "--export-json", "--export-markdown"};
  for (const Export& file : options.exports) {
    outputs.push_back({export_options[static_cast<int>(file.format)], file.path, false});
  }
  outputs.push_back({"--plot", options.plot, false});
  outputs.push_back({"--html", options.html, false});
  if (trace) {
    if (options.trace.input.empty()) outputs.push_back({"--out", options.trace.folder, true});
    outputs.push_back({"--timeline", options.trace.timeline, false});
    outputs.push_back({"--chrome", options.trace.chrome, false});
    outputs.push_back({"--otf2", options.trace.otf2, true});
  }
  return CheckOutputs(inputs, folders, outputs);
}

}  // namespace speedup
