#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "base/result.h"
#include "session/session.h"

// The session file: what a session saves of itself and reads back. Figures and warnings are
// written beside it for a reader's convenience, and ignored on reading.
namespace speedup {

// Version of the session JSON this tool writes and reads.
inline constexpr int SESSION_FORMAT_VERSION = 1;

// The saved part of a session: format, version, how it ran, context and every run, in that order.
nlohmann::ordered_json SessionRecord(const Session& session);

// Reads a session back from the bytes of a session file (a UTF-8 byte-order mark allowed),
// converting each run as soon as it is parsed, so that no run is ever held twice: the memory it
// takes is that of the runs, not of a parsed document. The figures in it are ignored. Fails with
// kNotJson when the bytes are not JSON (cut off while written), kInput for another format or
// version, kMalformed for a missing, mistyped or impossible value (a number beyond a double's
// range, more than MAX_INPUT_RUNS runs), kInterrupted when an interrupt ends the reading.
Result<Session> ReadSessionText(std::string_view text);

}  // namespace speedup
