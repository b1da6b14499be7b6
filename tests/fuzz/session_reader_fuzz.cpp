// Any bytes as a session file, read as --input, compare and merge read one: no crash, no
// undefined behaviour, and a session read back holds only what its reader promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/policy.h"
#include "session/inputs.h"
#include "session/session_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace speedup;
  const std::string text(reinterpret_cast<const char*>(data), size);
  Session session;
  if (!ReadSessionText(text, session)) {
    if (session.runs.empty() || session.runs.size() > MAX_INPUT_RUNS) std::abort();
    for (const Run& run : session.runs) {
      if (!IsTime(run.report.serial_seconds)) std::abort();
    }
    if (session.context.processors && *session.context.processors < 1) std::abort();
    if (session.precision && !(*session.precision > 0.0 && *session.precision < 1.0)) std::abort();
  } else if (!session.runs.empty()) {
    std::abort();  // a refused session is left alone
  }
  std::string refusal;
  const NodeInput node = ReadNode("fuzz.json", text, refusal);
  if (node.merged && !refusal.empty()) std::abort();
  return 0;
}
