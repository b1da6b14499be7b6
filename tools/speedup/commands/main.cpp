#include "base/interrupts.h"
#include "base/io.h"
#include "commands/commands.h"
#include "commands/complain.h"
#include "commands/options.h"
#include "commands/output.h"

int main(int argc, char** argv) {
  using namespace speedup;
  if (!InstallInterruptHandlers()) Complain("warning: interrupts will not end the runs cleanly");
  Options options;
  if (const Status parsed = ParseOptions({argv + 1, argv + argc}, options); !parsed) {
    Complain(parsed.failure().message + " (see --help)");
    return ExitStatus(parsed.failure().kind);
  }
  if (!options.help_text.empty()) {
    const Status written = WriteOut(options.help_text);
    return written ? 0 : Refuse(written.failure());
  }
  if (const Status checked = CheckOutputPaths(options); !checked) return Refuse(checked.failure());
  // A command that only reads files has nothing to finish: an interrupt ends it at once, its
  // outputs still temporaries. One that runs the benchmark obeys once its runs are over.
  if (!Measures(options)) ObeyInterruptsAtOnce();
  const int status = options.command == Command::kCompare ? CompareCommand(options)
                     : options.command == Command::kMerge ? MergeCommand(options)
                     : options.command == Command::kTrace ? TraceCommand(options)
                                                          : SessionCommand(options);
  // Its outputs are final; until now an interrupt would have put their paths back.
  KeepPlacedOutputs();
  // However far a command got, an interrupt it saw ends the tool as the signal would have.
  if (const int signal_number = PendingInterrupt(); signal_number != 0) {
    if (status != 128 + signal_number) Complain("interrupted by " + SignalName(signal_number));
    return 128 + signal_number;
  }
  return status;
}
