#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "session/session.h"

// The session file: what a session saves of itself and reads back. Figures and warnings are
// written beside it for a reader's convenience, and ignored on reading.
namespace speedup {

// Version of the session JSON this tool writes and reads.
inline constexpr int SESSION_FORMAT_VERSION = 1;

// The saved part of a session: format, version, how it ran, context and every run, in that order.
nlohmann::ordered_json SessionRecord(const Session& session);

// What is wrong with a session file, by kind; the message names it for the user.
struct ReadError {
  enum class Kind {
    kNone,
    kNotASession,  // another format altogether, or no format version
    kVersion,      // a format version this tool does not read
    kMalformed,    // a session of this version with a missing, mistyped or impossible value
    kNotJson,      // not JSON at all: cut off while writing, or another kind of file
    kInterrupted,  // an interrupt came while it was read
  };
  Kind kind = Kind::kNone;
  std::string message;

  explicit operator bool() const { return kind != Kind::kNone; }
};

// Reads a session back from `json`; the figures in it are ignored. `session` is left alone on
// an error.
ReadError ReadSession(const nlohmann::json& json, Session& session);

// Reads a session back from the bytes of a session file (a UTF-8 byte-order mark allowed) as
// ReadSession does, converting each run as soon as it is parsed, so that no run is ever held
// twice: the memory it takes is that of the runs, not of a parsed document. A number beyond a
// double's range is named as such (kMalformed); more than MAX_INPUT_RUNS runs are refused. An
// interrupt ends the reading (kInterrupted).
ReadError ReadSessionText(std::string_view text, Session& session);

}  // namespace speedup
