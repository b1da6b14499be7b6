// The trace tool's cost per event, measured as EPCC's microbenchmarks measure a construct: a
// fixed work (a delay loop) EVENTS times is the reference, and the test is the same work with one
// of the tool's callbacks after each step. The tool is loaded here as the runtime would load it
// and its callbacks are called directly, so the difference is the tool's own work and nothing of
// the runtime's. Reference and test alternate (ABBA) over many short rounds, each timed on the
// calling thread's CPU clock so that time off a core is not counted; the cost is the median of
// the rounds' (test - reference) / EVENTS with its distribution-free 95% interval. Every thread
// that records begins on a fresh std::thread, as a worker would, until its buffer is nearly full,
// so that no event falls on a full buffer. The tool's set-up (its buffers prepared at start, a
// thread's begin) is timed apart and never in a round.
//   trace-cost TOOL ROUNDS EVENTS DELAY
// MATBENCH_TRACE_FILE names where the tool writes its trace, as for any traced program.
#include <dlfcn.h>
#include <omp-tools.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "stats/quantiles.h"
#include "trace_format.h"

namespace {

ompt_callback_t callbacks[64] = {};

int SetCallback(ompt_callbacks_t event, ompt_callback_t callback) {
  const auto index = static_cast<unsigned>(event);
  if (index >= std::size(callbacks)) return ompt_set_never;
  callbacks[index] = callback;
  return ompt_set_always;
}

ompt_interface_fn_t Lookup(const char* name) {
  return std::string_view(name) == "ompt_set_callback"
             ? reinterpret_cast<ompt_interface_fn_t>(SetCallback)
             : nullptr;
}

template <typename Callback>
Callback Get(ompt_callbacks_t event) {
  return reinterpret_cast<Callback>(callbacks[event]);
}

// About DELAY dependent additions: work that neither the compiler nor the cache can remove.
[[gnu::noinline]] void Delay(int length) {
  volatile double sum = 0.0;
  for (int i = 0; i < length; ++i) sum = sum + 1.0;
}

double CpuNow() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double WallSeconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One callback as the runtime calls it, `call` the step's number; what it records counts
// `events` events (0: no callback of the tool's, for scale).
struct Kind {
  const char* name;
  unsigned events;
  void (*call)(long step);
};

ompt_data_t parallel{.value = 1}, task{.value = 1};
ompt_dispatch_chunk_t chunk{0, 1};

const Kind KINDS[] = {
    // Not the tool's: the clock reading that each event holds, for scale.
    {"one CLOCK_MONOTONIC reading", 0,
     [](long) {
       timespec now{};
       clock_gettime(CLOCK_MONOTONIC, &now);
     }},
    {"row claim (dispatch)", 1,
     [](long step) {
       chunk.start = static_cast<std::uint64_t>(step);
       ompt_data_t instance{};
       instance.ptr = &chunk;
       Get<ompt_callback_dispatch_t>(ompt_callback_dispatch)(&parallel, &task,
                                                             ompt_dispatch_ws_loop_chunk, instance);
     }},
    {"barrier wait begin or end", 1,
     [](long step) {
       Get<ompt_callback_sync_region_t>(ompt_callback_sync_region_wait)(
           ompt_sync_region_barrier_implicit_parallel,
           step % 2 == 0 ? ompt_scope_begin : ompt_scope_end, &parallel, &task, nullptr);
     }},
    {"implicit task begin or end", 2,
     [](long step) {
       Get<ompt_callback_implicit_task_t>(ompt_callback_implicit_task)(
           step % 2 == 0 ? ompt_scope_begin : ompt_scope_end, &parallel, &task, 2, 1,
           ompt_task_implicit);
     }},
};

// A thread's begin as the runtime reports it; returns its wall seconds.
double BeginThread(ompt_thread_t type) {
  static ompt_data_t thread_data{};
  const auto start = std::chrono::steady_clock::now();
  Get<ompt_callback_thread_begin_t>(ompt_callback_thread_begin)(type, &thread_data);
  return WallSeconds(start);
}

void EndThread() {
  static ompt_data_t thread_data{};
  Get<ompt_callback_thread_end_t>(ompt_callback_thread_end)(&thread_data);
}

// `rounds` rounds of `events` steps each way on the calling thread; appends each round's cost
// per callback, seconds.
void Rounds(const Kind& kind, int first_round, int rounds, long events, int delay,
            std::vector<double>* costs) {
  for (int round = first_round; round < first_round + rounds; ++round) {
    double reference = 0.0, test = 0.0;
    for (int half = 0; half < 2; ++half) {
      const bool testing = (half == 0) == (round % 2 == 1);  // ABBA
      const double start = CpuNow();
      if (testing) {
        for (long i = 0; i < events; ++i) {
          Delay(delay);
          kind.call(i);
        }
      } else {
        for (long i = 0; i < events; ++i) Delay(delay);
      }
      (testing ? test : reference) = CpuNow() - start;
    }
    costs->push_back((test - reference) / static_cast<double>(events));
  }
}

// "WHAT: MEDIAN, 95% interval [LOW, HIGH] UNIT (COUNT)", the values scaled to UNIT.
void PrintMedianLine(const std::string& what, std::span<const double> values, double scale,
                     const char* unit, const std::string& count) {
  const auto interval = speedup::stats::MedianConfidenceInterval(values);
  if (!interval) return;
  std::printf("%s: %.1f %s, 95%% interval [%.1f, %.1f] %s (%s)\n", what.c_str(),
              speedup::stats::Median(values) * scale, unit, interval->low * scale,
              interval->high * scale, unit, count.c_str());
}

// Times each kind of callback over `rounds` rounds of `events`, on workers whose begins join
// `begins`, and prints each median line; false when EVENTS leaves no round room in a buffer.
bool MeasureKinds(int rounds, long events, int delay, std::vector<double>& begins) {
  // A worker's buffer takes the default capacity; its begin records two events.
  const long budget = matbench::trace::DEFAULT_EVENTS_PER_THREAD - 4;
  for (const Kind& kind : KINDS) {
    const long recorded = std::max(1u, kind.events);
    const int per_thread = static_cast<int>(budget / (events * recorded));
    if (per_thread < 1) {
      std::fprintf(stderr, "trace-cost: EVENTS must be at most %ld\n", budget / recorded);
      return false;
    }
    std::vector<double> costs;
    for (int done = 0; done < rounds; done += per_thread) {
      std::thread worker([&] {
        begins.push_back(BeginThread(ompt_thread_worker));
        Rounds(kind, done, std::min(per_thread, rounds - done), events, delay, &costs);
        EndThread();
      });
      worker.join();
    }
    const std::string events_text = kind.events == 0   ? "no event"
                                    : kind.events == 1 ? "1 event"
                                                       : std::to_string(kind.events) + " events";
    PrintMedianLine(std::string(kind.name) + ", " + events_text, costs, 1e9, "ns",
                    std::to_string(rounds) + " rounds of " + std::to_string(events));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: trace-cost TOOL ROUNDS EVENTS DELAY\n");
    return 2;
  }
  const int rounds = std::atoi(argv[2]);
  const long events = std::atol(argv[3]);
  const int delay = std::atoi(argv[4]);
  if (rounds < 2 || events < 1 || delay < 1) {
    std::fprintf(stderr, "trace-cost: ROUNDS must be 2 or more, EVENTS and DELAY positive\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "trace-cost: cannot load the tool: %s\n", dlerror());
    return 1;
  }
  const auto start_tool = reinterpret_cast<ompt_start_tool_result_t* (*)(unsigned, const char*)>(
      dlsym(library, "ompt_start_tool"));
  if (start_tool == nullptr) {
    std::fprintf(stderr, "trace-cost: %s has no ompt_start_tool\n", argv[1]);
    return 1;
  }
  const auto started = std::chrono::steady_clock::now();
  ompt_start_tool_result_t* result = start_tool(201611, "trace-cost");
  const double start_seconds = WallSeconds(started);
  if (result == nullptr || result->initialize(Lookup, 0, &result->tool_data) == 0) return 1;

  std::vector<double> begins;  // each thread's begin, seconds
  begins.push_back(BeginThread(ompt_thread_initial));
  if (!MeasureKinds(rounds, events, delay, begins)) return 2;
  std::printf("set-up at start: %.2f ms (the buffers of %u threads made and touched)\n",
              start_seconds * 1e3, matbench::trace::PREPARED_THREADS);
  const std::size_t prepared =
      std::min<std::size_t>(begins.size(), matbench::trace::PREPARED_THREADS);
  PrintMedianLine("thread begin, its buffer prepared", std::span(begins).first(prepared), 1e6, "us",
                  std::to_string(prepared) + " threads");
  if (begins.size() > prepared + 1) {
    PrintMedianLine("thread begin, its buffer made then", std::span(begins).subspan(prepared), 1e6,
                    "us", std::to_string(begins.size() - prepared) + " threads");
  }
  EndThread();
  result->finalize(&result->tool_data);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
