#include "commands/output.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "base/io.h"
#include "base/text.h"

namespace speedup {

bool Deliver(const std::string& text, const PlotRequest* chart) {
  bool delivered = WriteOut(text);
  if (chart != nullptr && !chart->path.empty() && !chart->curves.empty()) {
    const PlotResult plot = WritePlot(*chart);
    if (!plot.message.empty()) Complain(plot.message);
    delivered = !plot.failed && delivered;
  }
  return delivered;
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
