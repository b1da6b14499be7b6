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
  const Result<Session> read = ReadSessionText(text);
  if (read) {
    const Session& session = *read;
    if (session.runs.empty() || session.runs.size() > MAX_INPUT_RUNS) std::abort();
    for (const Run& run : session.runs) {
      if (!IsTime(run.report.serial_seconds)) std::abort();
    }
    if (session.context.processors && *session.context.processors < 1) std::abort();
    if (session.precision && !(*session.precision > 0.0 && *session.precision < 1.0)) std::abort();
  } else if (read.failure().message.empty()) {
    std::abort();  // a refusal always says why
  }
  const Result<NodeInput> node = ReadNode("fuzz.json", text);
  if (node && node->merged && !HasPassedRun(node->session)) std::abort();
  return 0;
}
