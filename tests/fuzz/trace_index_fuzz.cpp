// Any bytes as a trace folder's index, read as `trace --input` reads it: no crash, no undefined
// behaviour, and an index read back names only files inside its folder, at most MAX_INPUT_RUNS
// of them, each run with a trace or a reason; a refused one says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/policy.h"
#include "session/trace_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace speedup;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Result<TraceSession> read = ReadTraceIndexText(text);
  if (!read) {
    if (read.failure().message.empty()) std::abort();  // a refusal says why
    return 0;
  }
  const TraceSession& session = *read;
  const std::size_t runs = session.trace_files.size();
  if (runs > MAX_INPUT_RUNS || session.untraced_reasons.size() != runs ||
      session.traces.size() != runs) {
    std::abort();
  }
  for (std::size_t i = 0; i < runs; ++i) {
    const std::string& file = session.trace_files[i];
    if (file.find('/') != file.npos || file == "." || file == "..") std::abort();
    if (file.empty() && session.untraced_reasons[i].empty()) std::abort();
  }
  return 0;
}
