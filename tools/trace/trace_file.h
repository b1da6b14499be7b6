// Writing a trace file from the registry's buffers, and reading one back with every check a
// reader needs (see trace_format.h for the layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "trace_buffer.h"
#include "trace_format.h"

namespace matbench::trace {

// What the file says besides the events.
struct TraceMeta {
  std::uint32_t omp_version = 0;
  std::uint32_t clock_id = 0;
  std::uint32_t clock_resolution_ns = 0;
  std::uint32_t optional_events = 0;  // OptionalEvents bits
  std::uint64_t region_count = 0;
  std::string runtime;          // cut to RUNTIME_NAME_SIZE - 1 bytes in the file
  std::string runtime_library;  // cut to RUNTIME_LIBRARY_SIZE - 1 bytes in the file
};

// Receives the file's bytes in order; false when they could not be written.
using ByteSink = std::function<bool(const void* data, std::size_t size)>;

// Writes the whole file through `sink`: header, each registered thread with a buffer, trailer.
// Returns false at the first write that fails. Call once no thread records any more.
bool SerialiseTrace(const TraceMeta& meta, const ThreadRegistry& registry, const ByteSink& sink);

// Writes the file at `path` (created or truncated). Returns "" on success, else why not, in a
// few words; a regular file left half-written is removed, so no partial trace remains.
std::string WriteTraceFile(const char* path, const TraceMeta& meta, const ThreadRegistry& registry);

struct ThreadTrace {
  ThreadHeader header;
  std::vector<Event> events;
};

struct Trace {
  FileHeader header;
  std::vector<ThreadTrace> threads;
};

// Reads a whole file's bytes into `trace`. Returns "" when the file is whole and of this
// version, else what is wrong with it (truncated, foreign, a later version, inconsistent).
std::string ParseTrace(std::string_view bytes, Trace* trace);

// The runtime's name and library file as the header holds them.
std::string RuntimeName(const FileHeader& header);
std::string RuntimeLibrary(const FileHeader& header);

}  // namespace matbench::trace
