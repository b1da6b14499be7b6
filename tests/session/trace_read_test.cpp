// Reading a raw trace into regions: what the tool's second version adds (its own set-up, the
// threads' CPU samples), and the faults a reader must name rather than pass on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/trace.h"
#include "trace_buffer.h"
#include "trace_file.h"
#include "trace_format.h"

namespace speedup {
namespace {

namespace format = matbench::trace;
using Kind = format::EventKind;

format::Event E(std::uint64_t time, Kind kind, std::uint32_t region, std::uint64_t value = 0,
                std::uint32_t count = 0, std::uint32_t flags = 0, std::uint16_t detail = 0) {
  format::Event event{};
  event.time_ns = time;
  event.kind = static_cast<std::uint16_t>(kind);
  event.region = region;
  event.value = value;
  event.count = count;
  event.flags = flags;
  event.detail = detail;
  return event;
}

// The bytes of a trace whose thread i recorded threads[i], in buffers of `capacity` events.
std::string Bytes(const std::vector<std::vector<format::Event>>& threads,
                  std::uint32_t capacity = 1024) {
  format::ThreadRegistry registry(8, capacity);
  for (const auto& events : threads) {
    format::EventBuffer* buffer = registry.Register(1);
    for (const format::Event& event : events) buffer->Append(event);
  }
  format::TraceMeta meta;
  meta.region_count = 1;
  std::string bytes;
  EXPECT_TRUE(format::SerialiseTrace(meta, registry, [&](const void* data, std::size_t size) {
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }));
  return bytes;
}

// A team of two in region 1, 1000..2000 ns, with the tool's set-up and the CPU samples.
std::vector<std::vector<format::Event>> TeamOfTwo() {
  return {{E(10, Kind::kToolSetup, 0, 400, 24, 0, format::kSetupPrepared),
           E(500, Kind::kToolSetup, 0, 30, 0, 0, format::kSetupOnBegin),
           E(1000, Kind::kParallelBegin, 1, 2),
           E(1000, Kind::kCpuSample, 1, 5000, format::kUnknownCpu, 0, format::kAtRegionBegin),
           E(1000, Kind::kCpuSample, 1, 7000, format::kUnknownCpu, 1, format::kAtRegionBegin),
           E(1000, Kind::kToolSetup, 1, 20, 0, 0, format::kSetupSampling),
           E(1030, Kind::kImplicitTaskBegin, 1, 0, 2),
           E(1031, Kind::kCpuSample, 1, 5030, 0, 0, format::kAtTaskBegin),
           E(1900, Kind::kCpuSample, 1, 5800, 1, 0, format::kAtTaskEnd),
           E(1901, Kind::kImplicitTaskEnd, 1, 0, 2), E(2000, Kind::kParallelEnd, 1)},
          {E(900, Kind::kToolSetup, 0, 50, 1, 0, format::kSetupOnBegin),
           E(1100, Kind::kImplicitTaskBegin, 1, 1, 2),
           E(1101, Kind::kCpuSample, 1, 7010, 1, 1, format::kAtTaskBegin),
           E(1950, Kind::kCpuSample, 1, 7500, 1, 1, format::kAtTaskEnd),
           E(1951, Kind::kImplicitTaskEnd, 1, 1, 2)}};
}

TEST(ReadRunTraceTest, TheToolsSetUpAndTheCpuSamplesAreFiledByThread) {
  const Result<RunTrace> read = ReadRunTrace(Bytes(TeamOfTwo()));
  ASSERT_TRUE(read) << read.failure().message;
  const RunTrace& run = *read;
  EXPECT_EQ(run.buffers_prepared, 24u);
  EXPECT_EQ(run.prepared_ns, 400u);
  EXPECT_EQ(run.buffers_made_on_begin, 1u);  // thread 1 made its own
  EXPECT_EQ(run.made_on_begin_ns, 50u);
  EXPECT_EQ(run.sampling_ns, 20u);
  ASSERT_EQ(run.regions.size(), 1u);
  const RegionTrace& region = run.regions[0];
  ASSERT_EQ(region.threads.size(), 2u);  // the samples of the region's begin make no thread
  const ThreadInRegion& first = region.threads[0];
  const ThreadInRegion& second = region.threads[1];
  // Each thread's sample at the region's begin is its own, though thread 0 read both.
  ASSERT_TRUE(first.cpu_at_region_begin && second.cpu_at_region_begin);
  EXPECT_EQ(first.cpu_at_region_begin->cpu_ns, 5000u);
  EXPECT_EQ(second.cpu_at_region_begin->cpu_ns, 7000u);
  EXPECT_FALSE(second.cpu_at_region_begin->cpu.has_value());
  ASSERT_TRUE(first.cpu_at_task_begin && first.cpu_at_task_end);
  EXPECT_EQ(first.cpu_at_task_begin->cpu, 0u);
  EXPECT_EQ(first.cpu_at_task_end->cpu, 1u);
  EXPECT_EQ(second.cpu_at_task_end->cpu_ns, 7500u);
  // Only the tool's work that overlaps the region is the region's: the reading of the clocks,
  // which holds up every thread of the team, not thread 1's set-up before the region.
  EXPECT_EQ(first.tool, (std::vector<ToolSpan>{{1000, 1020}}));
  EXPECT_EQ(second.tool, (std::vector<ToolSpan>{{1000, 1020}}));
}

TEST(ReadRunTraceTest, EventsOutOfTimeOrderAreRefusedNamingTheThread) {
  auto threads = TeamOfTwo();
  threads[1][2].time_ns = 2'000'000;  // a moved event: later than the one after it
  const Result<RunTrace> read = ReadRunTrace(Bytes(threads));
  ASSERT_FALSE(read);
  const std::string& error = read.failure().message;
  EXPECT_NE(error.find("thread 1 are out of time order"), std::string::npos) << error;
}

TEST(ReadRunTraceTest, ARegionCutByFullBuffersNamesTheLostEvents) {
  auto threads = TeamOfTwo();
  const Result<RunTrace> cut = ReadRunTrace(Bytes(threads, 8));  // thread 0 keeps 8 of its 11
  ASSERT_FALSE(cut);
  const std::string& error = cut.failure().message;
  EXPECT_NE(error.find("region 1 has no whole begin and end"), std::string::npos) << error;
  EXPECT_NE(error.find("3 events did not fit the buffers of 8 events (thread 0 lost 3"),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("MATBENCH_TRACE_EVENTS_PER_THREAD"), std::string::npos) << error;
  // Nothing lost, nothing said of buffers.
  threads[0].pop_back();  // no region end
  const Result<RunTrace> unended = ReadRunTrace(Bytes(threads));
  ASSERT_FALSE(unended);
  EXPECT_EQ(unended.failure().message, "region 1 has no whole begin and end");
}

}  // namespace
}  // namespace speedup
