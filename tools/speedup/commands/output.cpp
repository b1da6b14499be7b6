#include "commands/output.h"

#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "commands/complain.h"
#include "commands/drawing.h"

namespace speedup {

bool Deliver(const std::string& text, const PlotRequest* chart, bool despite_interrupt) {
  if (!despite_interrupt && PendingInterrupt() != 0) return false;
  bool delivered = true;
  if (Status written = WriteOut(text); !written) {
    Refuse(written.failure());
    delivered = false;
  }
  if (chart != nullptr && !chart->path.empty() && !chart->curves.empty()) {
    const PlotResult plot = WritePlot(*chart);
    if (!plot.message.empty()) Complain(plot.message);
    delivered = !plot.failed && delivered;
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
  if (!written) Refuse(written.failure());
  return written.ok();
}

bool DeliverPage(const std::string& path, const std::string& page) {
  return path.empty() || Written(WriteWholeFile(path, page));
}

}  // namespace speedup
