#include "base/interrupts.h"
#include "base/io.h"
#include "commands/commands.h"
#include "commands/options.h"

int main(int argc, char** argv) {
  using namespace speedup;
  if (!InstallInterruptHandlers()) Complain("warning: interrupts will not end the runs cleanly");
  Options options;
  if (const std::string error = ParseOptions({argv + 1, argv + argc}, options); !error.empty()) {
    Complain(error + " (see --help)");
    return 2;
  }
  if (!options.help_text.empty()) return WriteOut(options.help_text) ? 0 : 1;
  if (options.command == Command::kCompare) return CompareCommand(options);
  if (options.command == Command::kMerge) return MergeCommand(options);
  if (options.command == Command::kTrace) return TraceCommand(options);
  return SessionCommand(options);
}
