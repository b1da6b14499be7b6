// The trace tool's pure parts: bounded buffers, the thread table, the file and its checks.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "trace_buffer.h"
#include "trace_file.h"
#include "trace_format.h"

namespace {

using matbench::trace::Event;
using matbench::trace::EventBuffer;
using matbench::trace::EventKind;
using matbench::trace::FileHeader;
using matbench::trace::ThreadRegistry;
using matbench::trace::Trace;
using matbench::trace::TraceMeta;

Event MakeEvent(std::uint64_t n) {
  Event event{};
  event.time_ns = 1000 + n;
  event.value = n;
  event.region = static_cast<std::uint32_t>(n % 7);
  event.count = 1;
  event.kind = static_cast<std::uint16_t>(EventKind::kDispatch);
  event.detail = 3;
  return event;
}

TEST(EventBufferTest, KeepsTheFirstEventsAndCountsTheRest) {
  struct Case {
    std::uint32_t capacity;
    std::uint64_t appended;
  };
  for (const Case c : {Case{16, 0}, Case{16, 15}, Case{16, 16}, Case{16, 17}, Case{16, 100},
                       Case{1, 1}, Case{1, 5}, Case{1000, 999}}) {
    SCOPED_TRACE("capacity " + std::to_string(c.capacity) + ", appended " +
                 std::to_string(c.appended));
    EventBuffer buffer(3, 2, c.capacity);
    ASSERT_TRUE(buffer.ok());
    for (std::uint64_t i = 0; i < c.appended; ++i) buffer.Append(MakeEvent(i));
    const std::uint64_t kept = std::min<std::uint64_t>(c.appended, c.capacity);
    EXPECT_EQ(buffer.count(), kept);
    EXPECT_EQ(buffer.lost(), c.appended - kept);
    EXPECT_EQ(buffer.count() + buffer.lost(), c.appended);
    for (std::uint64_t i = 0; i < kept; ++i) {
      EXPECT_EQ(buffer.events()[i].value, i);
      EXPECT_EQ(buffer.events()[i].time_ns, 1000 + i);
    }
    EXPECT_EQ(buffer.slot(), 3u);
    EXPECT_EQ(buffer.thread_type(), 2u);
  }
}

TEST(ThreadRegistryTest, GivesBuffersUpToItsCapacityAndCountsTheThreadsBeyond) {
  struct Case {
    std::uint32_t max_threads;
    std::uint32_t threads;
  };
  for (const Case c : {Case{4, 0}, Case{4, 3}, Case{4, 4}, Case{4, 5}, Case{1, 9}}) {
    SCOPED_TRACE(std::to_string(c.threads) + " threads, room for " + std::to_string(c.max_threads));
    ThreadRegistry registry(c.max_threads, 16);
    std::uint32_t got = 0;
    for (std::uint32_t i = 0; i < c.threads; ++i) {
      EventBuffer* buffer = registry.Register(2);
      if (buffer == nullptr) {
        registry.CountLostEvent();
        continue;
      }
      EXPECT_EQ(buffer->slot(), got);
      EXPECT_EQ(buffer->capacity(), 16u);
      ++got;
    }
    const std::uint32_t expected = std::min(c.threads, c.max_threads);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(registry.registered(), expected);
    EXPECT_EQ(registry.lost_threads(), c.threads - expected);
    EXPECT_EQ(registry.lost_events(), c.threads - expected);
    for (std::uint32_t slot = 0; slot < expected; ++slot) {
      ASSERT_NE(registry.buffer(slot), nullptr);
      EXPECT_EQ(registry.buffer(slot)->slot(), slot);
    }
    EXPECT_EQ(registry.buffer(c.max_threads), nullptr);
  }
}

// Threads that begin at once each get a slot of their own, and write only their own buffer.
// A buffer made and touched on a thread's begin, inside a region, was counted as that thread's
// fork: the first threads' buffers are made ahead, and only later ones are made on begin.
TEST(ThreadRegistryTest, PreparedBuffersAreHandedOutWithoutBeingMade) {
  struct Case {
    std::uint32_t max_threads, prepare, threads;
    std::uint32_t expected_prepared, expected_made;
  };
  for (const Case c :
       {Case{8, 3, 5, 3, 2}, Case{8, 3, 2, 3, 0}, Case{4, 10, 6, 4, 0}, Case{8, 0, 3, 0, 3}}) {
    SCOPED_TRACE(std::to_string(c.prepare) + " prepared, " + std::to_string(c.threads) +
                 " threads");
    ThreadRegistry registry(c.max_threads, 16);
    EXPECT_EQ(registry.Prepare(c.prepare), c.expected_prepared);
    // Prepared but unclaimed buffers are no threads of the file.
    EXPECT_EQ(registry.registered(), 0u);
    std::uint32_t made_count = 0, got = 0;
    for (std::uint32_t i = 0; i < c.threads; ++i) {
      bool made = true;
      EventBuffer* buffer = registry.Register(2, &made);
      if (buffer == nullptr) continue;
      ++got;
      made_count += made ? 1 : 0;
      EXPECT_EQ(buffer->slot(), i);
      EXPECT_EQ(buffer->thread_type(), 2u);
      EXPECT_EQ(buffer->capacity(), 16u);
    }
    EXPECT_EQ(got, std::min(c.threads, c.max_threads));
    EXPECT_EQ(made_count, c.expected_made);
    EXPECT_EQ(registry.registered(), std::min(c.threads, c.max_threads));
  }
}

TEST(ThreadRegistryTest, ThreadsBeginningTogetherGetDistinctBuffers) {
  constexpr std::uint32_t kThreads = 8;
  constexpr std::uint32_t kEvents = 100;
  ThreadRegistry registry(6, kEvents);
  std::vector<std::thread> threads;
  for (std::uint32_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&registry] {
      EventBuffer* buffer = registry.Register(2);
      for (std::uint32_t i = 0; i < kEvents + 5; ++i) {
        if (buffer != nullptr) {
          buffer->Append(MakeEvent(i));
        } else {
          registry.CountLostEvent();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(registry.registered(), 6u);
  EXPECT_EQ(registry.lost_threads(), kThreads - 6);
  EXPECT_EQ(registry.lost_events(), (kThreads - 6) * (kEvents + 5));
  std::set<std::uint32_t> slots;
  for (std::uint32_t slot = 0; slot < 6; ++slot) {
    const EventBuffer* buffer = registry.buffer(slot);
    ASSERT_NE(buffer, nullptr);
    slots.insert(buffer->slot());
    EXPECT_EQ(buffer->count(), kEvents);
    EXPECT_EQ(buffer->lost(), 5u);
  }
  EXPECT_EQ(slots.size(), 6u);
}

// A registry of three threads with known events, one of them overflowing, and a lost thread.
struct Sample {
  ThreadRegistry registry{3, 20};
  TraceMeta meta;
  Sample() {
    meta.omp_version = 201611;
    meta.clock_id = 1;
    meta.clock_resolution_ns = 1;
    meta.optional_events = 7;
    meta.region_count = 4;
    meta.runtime = "LLVM OMP version: 5.0.20140926";
    meta.runtime_library = "/usr/lib/llvm-19/lib/libomp.so.5";
    const std::uint64_t appended[] = {5, 0, 27};
    for (const std::uint64_t n : appended) {
      EventBuffer* buffer = registry.Register(2);
      for (std::uint64_t i = 0; i < n; ++i) buffer->Append(MakeEvent(i));
    }
    registry.Register(2);  // beyond the table
    registry.CountLostEvent();
    registry.CountLostEvent();
  }
  std::string Bytes() const {
    std::string bytes;
    EXPECT_TRUE(
        matbench::trace::SerialiseTrace(meta, registry, [&](const void* data, std::size_t size) {
          bytes.append(static_cast<const char*>(data), size);
          return true;
        }));
    return bytes;
  }
};

TEST(TraceFileTest, ReadsBackWhatWasWritten) {
  const Sample sample;
  const std::string bytes = sample.Bytes();
  Trace trace;
  ASSERT_EQ(matbench::trace::ParseTrace(bytes, &trace), "");
  const FileHeader& h = trace.header;
  EXPECT_EQ(h.version, matbench::trace::FORMAT_VERSION);
  EXPECT_EQ(h.omp_version, 201611u);
  EXPECT_EQ(h.clock_id, 1u);
  EXPECT_EQ(h.optional_events, 7u);
  EXPECT_EQ(h.region_count, 4u);
  EXPECT_EQ(h.thread_count, 3u);
  EXPECT_EQ(h.max_threads, 3u);
  EXPECT_EQ(h.events_per_thread, 20u);
  EXPECT_EQ(h.lost_threads, 1u);
  EXPECT_EQ(h.lost_events, 2u);
  EXPECT_EQ(matbench::trace::RuntimeName(h), sample.meta.runtime);
  EXPECT_EQ(matbench::trace::RuntimeLibrary(h), sample.meta.runtime_library);
  ASSERT_EQ(trace.threads.size(), 3u);
  for (std::uint32_t slot = 0; slot < 3; ++slot) {
    SCOPED_TRACE("thread " + std::to_string(slot));
    const EventBuffer& written = *sample.registry.buffer(slot);
    const auto& read = trace.threads[slot];
    EXPECT_EQ(read.header.slot, slot);
    EXPECT_EQ(read.header.event_count, written.count());
    EXPECT_EQ(read.header.lost_events, written.lost());
    ASSERT_EQ(read.events.size(), written.count());
    for (std::size_t i = 0; i < read.events.size(); ++i) {
      EXPECT_EQ(std::memcmp(&read.events[i], &written.events()[i], sizeof(Event)), 0) << i;
    }
  }
  EXPECT_EQ(bytes.size(), sizeof(FileHeader) + 3 * sizeof(matbench::trace::ThreadHeader) +
                              (5 + 0 + 20) * sizeof(Event) + sizeof(matbench::trace::Trailer));
}

TEST(TraceFileTest, CutsARuntimeNameTooLongToFit) {
  Sample sample;
  sample.meta.runtime = std::string(500, 'r');
  Trace trace;
  ASSERT_EQ(matbench::trace::ParseTrace(sample.Bytes(), &trace), "");
  EXPECT_EQ(matbench::trace::RuntimeName(trace.header),
            std::string(matbench::trace::RUNTIME_NAME_SIZE - 1, 'r'));
}

TEST(TraceFileTest, EveryShorterFileIsRefusedAsTruncatedOrForeign) {
  const std::string bytes = Sample().Bytes();
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    Trace trace;
    const std::string problem = matbench::trace::ParseTrace(bytes.substr(0, size), &trace);
    EXPECT_TRUE(problem.find("truncated") != std::string::npos ||
                (size < 8 && problem.find("not a matbench trace") != std::string::npos))
        << size << " bytes: " << problem;
  }
}

void SetField(std::string& bytes, std::size_t offset, std::uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

TEST(TraceFileTest, DamagedFilesAreRefusedWithTheReason) {
  struct Case {
    const char* name;
    void (*damage)(std::string& bytes);
    const char* reason;
  };
  const Case cases[] = {
      {"foreign magic", [](std::string& b) { b[0] = 'X'; }, "not a matbench trace"},
      {"later version",
       [](std::string& b) {
         SetField(b, offsetof(FileHeader, version), matbench::trace::FORMAT_VERSION + 1);
       },
       "later version"},
      {"version 0", [](std::string& b) { SetField(b, offsetof(FileHeader, version), 0); },
       "version 0"},
      {"other byte order",
       [](std::string& b) { SetField(b, offsetof(FileHeader, byte_order), 0x04030201); },
       "byte order"},
      {"event size", [](std::string& b) { SetField(b, offsetof(FileHeader, event_size), 24); },
       "record sizes"},
      {"more threads than the maximum",
       [](std::string& b) { SetField(b, offsetof(FileHeader, max_threads), 2); }, "more threads"},
      // The header's own maximum was trusted: a file claiming 80,000 threads was read thread by
      // thread, each filed by a scan of those before it.
      {"more threads than the format's",
       [](std::string& b) {
         SetField(b, offsetof(FileHeader, max_threads), 100000);
         SetField(b, offsetof(FileHeader, thread_count), 80000);
       },
       "more threads than the maximum (256)"},
      {"a slot beyond the format's",
       [](std::string& b) {
         SetField(b, sizeof(FileHeader) + offsetof(matbench::trace::ThreadHeader, slot), 256);
       },
       "beyond the format's 256"},
      {"more events than a buffer",
       [](std::string& b) { SetField(b, offsetof(FileHeader, events_per_thread), 4); },
       "more events than a buffer"},
      {"unterminated runtime",
       [](std::string& b) {
         std::memset(b.data() + offsetof(FileHeader, runtime), 'x',
                     matbench::trace::RUNTIME_NAME_SIZE);
       },
       "not terminated"},
      {"unknown event kind",
       [](std::string& b) {
         const std::size_t first_event = sizeof(FileHeader) + sizeof(matbench::trace::ThreadHeader);
         const std::uint16_t kind = matbench::trace::LAST_EVENT_KIND + 1;
         std::memcpy(b.data() + first_event + offsetof(Event, kind), &kind, sizeof kind);
       },
       "unknown event kind"},
      {"bad trailer", [](std::string& b) { b[b.size() - 16] = 'X'; }, "bad trailer"},
      {"trailer total",
       [](std::string& b) {
         const std::uint64_t total = 999;
         std::memcpy(b.data() + b.size() - 8, &total, sizeof total);
       },
       "event total"},
      {"bytes after the end", [](std::string& b) { b += "more"; }, "bytes after the trailer"},
  };
  const std::string whole = Sample().Bytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = whole;
    c.damage(bytes);
    Trace trace;
    const std::string problem = matbench::trace::ParseTrace(bytes, &trace);
    EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
  }
}

// A write that fails at any point stops the file there and is reported.
TEST(TraceFileTest, AFailedWriteAtAnyPointIsReported) {
  const Sample sample;
  int writes = 0;
  ASSERT_TRUE(
      matbench::trace::SerialiseTrace(sample.meta, sample.registry, [&](const void*, std::size_t) {
        ++writes;
        return true;
      }));
  ASSERT_GT(writes, 2);
  for (int failing = 1; failing <= writes; ++failing) {
    SCOPED_TRACE("write " + std::to_string(failing) + " fails");
    int calls = 0;
    const bool written = matbench::trace::SerialiseTrace(sample.meta, sample.registry,
                                                         [&](const void*, std::size_t) {
                                                           ++calls;
                                                           return calls != failing;
                                                         });
    EXPECT_FALSE(written);
    EXPECT_EQ(calls, failing);
  }
}

std::string TempDir() {
  char pattern[] = "/tmp/trace_test.XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir != nullptr ? dir : "";
}

bool Exists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

TEST(TraceFileTest, WritesAWholeFileOrSaysWhyNot) {
  const Sample sample;
  const std::string dir = TempDir();
  ASSERT_FALSE(dir.empty());
  struct Case {
    std::string path;
    const char* reason;  // "" for success
  };
  const Case cases[] = {
      {dir + "/trace.bin", ""},
      {"/dev/full", "No space left on device"},
      {dir + "/missing/trace.bin", "No such file or directory"},
      {dir, "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string error =
        matbench::trace::WriteTraceFile(c.path.c_str(), sample.meta, sample.registry);
    if (*c.reason == '\0') {
      ASSERT_EQ(error, "");
      std::ifstream in(c.path, std::ios::binary);
      std::stringstream read;
      read << in.rdbuf();
      Trace trace;
      EXPECT_EQ(matbench::trace::ParseTrace(read.str(), &trace), "");
      EXPECT_EQ(read.str(), sample.Bytes());
    } else {
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
  }
  EXPECT_TRUE(Exists("/dev/full"));
  std::remove((dir + "/trace.bin").c_str());
  rmdir(dir.c_str());
}

// A file that fills up part way is removed rather than left half-written: a child process
// limited to a small file size writes it.
TEST(TraceFileTest, AHalfWrittenFileIsRemoved) {
  const Sample sample;
  const std::string dir = TempDir();
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/trace.bin";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{300, 300};  // more than the header, less than the file
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    const std::string error =
        matbench::trace::WriteTraceFile(path.c_str(), sample.meta, sample.registry);
    _exit(error.find("File too large") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write did not fail as too large";
  EXPECT_FALSE(Exists(path));
  std::remove(path.c_str());
  rmdir(dir.c_str());
}

}  // namespace
