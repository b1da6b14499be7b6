#include "trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace matbench::trace {

bool SerialiseTrace(const TraceMeta& meta, const ThreadRegistry& registry, const ByteSink& sink) {
  FileHeader header{};
  std::memcpy(header.magic, MAGIC, sizeof header.magic);
  header.version = FORMAT_VERSION;
  header.byte_order = BYTE_ORDER_MARK;
  header.header_size = sizeof(FileHeader);
  header.thread_header_size = sizeof(ThreadHeader);
  header.event_size = sizeof(Event);
  header.omp_version = meta.omp_version;
  header.clock_id = meta.clock_id;
  header.clock_resolution_ns = meta.clock_resolution_ns;
  header.max_threads = registry.max_threads();
  header.events_per_thread = registry.events_per_thread();
  header.lost_threads = registry.lost_threads();
  header.optional_events = meta.optional_events;
  header.lost_events = registry.lost_events();
  header.region_count = meta.region_count;
  meta.runtime.copy(header.runtime, sizeof header.runtime - 1);
  meta.runtime_library.copy(header.runtime_library, sizeof header.runtime_library - 1);
  for (std::uint32_t slot = 0; slot < registry.registered(); ++slot) {
    if (registry.buffer(slot) != nullptr) ++header.thread_count;
  }
  if (!sink(&header, sizeof header)) return false;

  Trailer trailer{};
  std::memcpy(trailer.magic, TRAILER_MAGIC, sizeof trailer.magic);
  for (std::uint32_t slot = 0; slot < registry.registered(); ++slot) {
    const EventBuffer* buffer = registry.buffer(slot);
    if (buffer == nullptr) continue;
    ThreadHeader thread{};
    thread.slot = buffer->slot();
    thread.thread_type = buffer->thread_type();
    thread.event_count = buffer->count();
    thread.lost_events = buffer->lost();
    if (!sink(&thread, sizeof thread)) return false;
    if (buffer->count() > 0 && !sink(buffer->events(), buffer->count() * sizeof(Event))) {
      return false;
    }
    trailer.total_events += buffer->count();
  }
  return sink(&trailer, sizeof trailer);
}

std::string WriteTraceFile(const char* path, const TraceMeta& meta,
                           const ThreadRegistry& registry) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::strerror(errno);
  int error = 0;
  const bool written = SerialiseTrace(meta, registry, [&](const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = write(fd, bytes, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? errno : EIO;
        return false;
      }
      bytes += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  });
  struct stat status {};
  const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  if (close(fd) != 0 && written) error = errno;
  if (written && error == 0) return "";
  // Only a file of ours: a device such as /dev/full stays.
  if (regular) unlink(path);
  return std::strerror(error != 0 ? error : EIO);
}

namespace {

template <typename T>
bool Take(std::string_view& bytes, T* out) {
  if (bytes.size() < sizeof(T)) return false;
  std::memcpy(out, bytes.data(), sizeof(T));
  bytes.remove_prefix(sizeof(T));
  return true;
}

// Reads thread i's header and events off the front of `bytes`: "" or what is wrong.
std::string ParseThread(std::string_view& bytes, std::uint32_t i, const FileHeader& header,
                        ThreadTrace& thread) {
  if (!Take(bytes, &thread.header)) return "truncated in thread " + std::to_string(i);
  if (thread.header.slot >= MAX_TRACED_THREADS) {
    return "corrupt: thread " + std::to_string(i) + " has slot " +
           std::to_string(thread.header.slot) + ", beyond the format's " +
           std::to_string(MAX_TRACED_THREADS);
  }
  if (thread.header.event_count > header.events_per_thread ||
      thread.header.event_count > MAX_EVENTS_PER_THREAD) {
    return "corrupt: thread " + std::to_string(i) + " holds more events than a buffer";
  }
  if (bytes.size() / sizeof(Event) < thread.header.event_count) {
    return "truncated in the events of thread " + std::to_string(i);
  }
  thread.events.resize(thread.header.event_count);
  if (!thread.events.empty()) {  // an empty vector's data may be null, which memcpy forbids
    std::memcpy(thread.events.data(), bytes.data(), thread.events.size() * sizeof(Event));
    bytes.remove_prefix(thread.events.size() * sizeof(Event));
  }
  for (const Event& event : thread.events) {
    if (event.kind == 0 || event.kind > LAST_EVENT_KIND) {
      return "corrupt: unknown event kind " + std::to_string(event.kind);
    }
  }
  return "";
}

}  // namespace

std::string ParseTrace(std::string_view bytes, Trace* trace) {
  FileHeader& header = trace->header;
  trace->threads.clear();
  if (bytes.size() < sizeof header.magic ||
      std::memcmp(bytes.data(), MAGIC, sizeof header.magic) != 0) {
    return "not a matbench trace (no magic)";
  }
  if (!Take(bytes, &header)) return "truncated inside the header";
  if (header.byte_order != BYTE_ORDER_MARK) return "written in another byte order";
  if (header.version == 0) return "corrupt: version 0";
  if (header.version > FORMAT_VERSION) {
    return "written by a later version (" + std::to_string(header.version) + "; this reads " +
           std::to_string(FORMAT_VERSION) + ")";
  }
  if (header.header_size != sizeof(FileHeader) ||
      header.thread_header_size != sizeof(ThreadHeader) || header.event_size != sizeof(Event)) {
    return "corrupt: record sizes differ from this version's";
  }
  // The format's own bounds, not the header's: a header may claim any capacity it likes.
  if (header.thread_count > header.max_threads || header.thread_count > MAX_TRACED_THREADS) {
    return "corrupt: more threads than the maximum (" + std::to_string(MAX_TRACED_THREADS) + ")";
  }
  if (strnlen(header.runtime, sizeof header.runtime) == sizeof header.runtime ||
      strnlen(header.runtime_library, sizeof header.runtime_library) ==
          sizeof header.runtime_library) {
    return "corrupt: runtime name not terminated";
  }
  std::uint64_t total = 0;
  for (std::uint32_t i = 0; i < header.thread_count; ++i) {
    ThreadTrace thread{};
    if (std::string failure = ParseThread(bytes, i, header, thread); !failure.empty()) {
      return failure;
    }
    total += thread.header.event_count;
    trace->threads.push_back(std::move(thread));
  }
  Trailer trailer{};
  if (!Take(bytes, &trailer)) return "truncated: no trailer";
  if (std::memcmp(trailer.magic, TRAILER_MAGIC, sizeof trailer.magic) != 0) {
    return "corrupt: bad trailer";
  }
  if (trailer.total_events != total) return "corrupt: the trailer's event total differs";
  if (!bytes.empty()) return "corrupt: bytes after the trailer";
  return "";
}

std::string RuntimeName(const FileHeader& header) {
  return std::string(header.runtime, strnlen(header.runtime, sizeof header.runtime));
}

std::string RuntimeLibrary(const FileHeader& header) {
  return std::string(header.runtime_library,
                     strnlen(header.runtime_library, sizeof header.runtime_library));
}

}  // namespace matbench::trace
