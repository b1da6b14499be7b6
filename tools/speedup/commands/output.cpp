#include "commands/output.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "commands/complain.h"

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
    if (Status out = WriteFileOut(file.path, report(*MakeReporter(file.format))); !out) {
      Refuse(out.failure());
      written = false;
    }
  }
  return written;
}

bool DeliverPage(const std::string& path, const std::string& page) {
  if (path.empty()) return true;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0 || !WriteAllAndClose(fd, page)) {
    Complain("cannot write the page " + Quoted(path) + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace speedup
