#pragma once

#include <cstddef>
#include <string>

#include "base/policy.h"
#include "base/result.h"

// The tool's own input and output: whole files in, standard output out (files out are written
// whole by base/outputs.h).
namespace speedup {

// Writes all of `text` to standard output; a kOutput failure when it cannot.
Status WriteOut(const std::string& text);

// Writes all of `text` to the file `path` whole or not at all: into a new file beside it (its
// permissions those of a new file under the umask; TemporaryBeside in base/outputs.h), flushed to
// the disk, then renamed onto it, so that `path` holds either the whole text or what it held
// before. A link is followed and the file it names replaced; a device or a pipe (/dev/stdout) is
// written in place. The file beside it is registered for the interrupt handler while it exists
// and removed on any failure, which names `path` and the reason (kOutput).
Status WriteWholeFile(const std::string& path, const std::string& text);

// The whole of `path` ("-": standard input), at most MAX_INPUT_BYTES; a kInput failure naming
// the file when it cannot be read or is larger.
Result<std::string> ReadInput(const std::string& path);

// The whole of `path`, however large (for the kernel's small files); a kInput failure naming
// the file when it cannot be read.
Result<std::string> ReadWholeFile(const std::string& path);

// Writes all of `data` to `fd`, retrying short writes, then closes it; false with errno set on
// any failure.
bool WriteAllAndClose(int fd, const std::string& data);

}  // namespace speedup
