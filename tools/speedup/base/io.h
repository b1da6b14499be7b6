#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "base/policy.h"

// The tool's own input and output: whole files in, standard output out, one-line messages.
namespace speedup {

// Writes "matbench-speedup: MESSAGE" as one line on standard error.
void Complain(const std::string& message);

// Writes all of `text` to standard output; false, with a message, when it cannot.
bool WriteOut(const std::string& text);

// Writes all of `text` to the file `path`, created or emptied; false, with a one-line message
// naming the file, when it cannot.
bool WriteFileOut(const std::string& path, const std::string& text);

// The whole of `path` ("-": standard input), at most MAX_INPUT_BYTES; false, with a message.
bool ReadInput(const std::string& path, std::string& text);

// The whole of `path`, read quietly; empty when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes all of `data` to `fd`, retrying short writes, then closes it; false with errno set on
// any failure.
bool WriteAllAndClose(int fd, const std::string& data);

}  // namespace speedup
