#pragma once

#include <optional>
#include <string>

#include "session.h"

// Cap on what one input holds: a saved report is about 1 KB, a session JSON about 1 KB a run.
inline constexpr std::size_t MAX_INPUT_BYTES = std::size_t{64} << 20;

// Writes "matbench-speedup: MESSAGE" as one line on standard error.
void Complain(const std::string& message);

// Writes all of `text` to standard output; false, with a message, when it cannot.
bool WriteOut(const std::string& text);

// The whole of `path` ("-": standard input), at most MAX_INPUT_BYTES; false, with a message.
bool ReadInput(const std::string& path, std::string& text);

// A session from `path` ("-": standard input): a session JSON, or saved raw reports whose
// processor count is `processors` (empty: not recorded); `is_json` tells which it was. False,
// with a message naming the file.
bool ReadSessionFile(const std::string& path, const std::optional<int>& processors,
                     Session& session, bool* is_json = nullptr);
