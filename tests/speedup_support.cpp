#include "speedup_support.h"

#include <algorithm>
#include <cstdio>

#include "bench/report_texts.h"
#include "present/words.h"
#include "test_support.h"

namespace speedup {

std::string ReportText(const std::string& line_end) {
  std::string utf8 = "SerialMulti =  0.060000 " + line_end + " " + line_end;
  for (int t = 1; t <= MAX_THREADS; ++t) {
    utf8 += "ParallelMulti ( " + std::to_string(t) + " потоков ) = 0.0" + std::to_string(30 + t) +
            "000  Тест 1 " + line_end;
  }
  return Cp1251(utf8 + line_end + " Завершено");
}

RunReport ReportWith(double serial, double parallel) {
  return ReportWith(serial, [parallel](int) { return parallel; });
}

RunReport ReportWith(double serial, const std::function<double(int)>& parallel) {
  RunReport report;
  report.serial_seconds = serial;
  for (int t = 1; t <= MAX_THREADS; ++t) report.parallel_seconds[t - 1] = parallel(t);
  return report;
}

std::string ReportBytes(const RunReport& report) {
  char line[256];
  std::snprintf(line, sizeof line, SERIAL_LINE.bytes, report.serial_seconds);
  std::string text = line;
  for (int t = 1; t <= MAX_THREADS; ++t) {
    std::snprintf(line, sizeof line, PARALLEL_LINE.bytes, t, report.parallel_seconds[t - 1], 1);
    text += line;
  }
  return text + CLOSING_TEXT.bytes;
}

SessionBuilder& SessionBuilder::Host(const std::string& host) {
  session_.context.host = host;
  return *this;
}

SessionBuilder& SessionBuilder::Processors(int processors) {
  session_.context.processors = processors;
  return *this;
}

SessionBuilder& SessionBuilder::Cores(int cores) {
  session_.context.cores = cores;
  return *this;
}

SessionBuilder& SessionBuilder::Setting(const std::string& name, const std::string& value) {
  if (!session_.context.omp_settings) session_.context.omp_settings.emplace();
  (*session_.context.omp_settings)[name] = value;
  return *this;
}

SessionBuilder& SessionBuilder::CpuModel(const std::string& model) {
  session_.context.cpu_model = model;
  return *this;
}

SessionBuilder& SessionBuilder::FullContext() {
  Context& context = session_.context;
  context.host = "runner-7";
  context.cpu_model = "AMD EPYC 9B14";
  context.packages = 1;
  context.cores = 2;
  context.hardware_threads = 2;
  context.caches = Caches{{"L1d", 32768, 2}, {"L2", 1048576, 2}, {"L3", 1572864, 1}};
  context.affinity = "0-1";
  context.processors = 2;
  context.load_before = 0.1;
  context.load_after = 1.95;
  context.transparent_hugepages = "madvise";
  context.kernel = "6.1.0-18-amd64";
  context.compiler = "GCC 12.2.0";
  context.build_type = "Release";
  context.build_flags = "-O3 -DNDEBUG -Wall -Wextra -ffp-contract=off -fno-fast-math";
  context.openmp_runtime = "libgomp";
  context.version = "v0.3-2-gabc1234";
  context.clock_tick_seconds = 0.001;
  context.omp_settings = Settings{};
  context.date_utc = "2026-12-09T10:40:00Z";
  return *this;
}

SessionBuilder& SessionBuilder::Slurm(const std::string& job, const std::string& node,
                                      const std::optional<std::string>& nodelist,
                                      std::optional<int> cpus_on_node) {
  session_.context.slurm_job_id = job;
  session_.context.slurm_node = node;
  session_.context.slurm_nodelist = nodelist;
  session_.context.slurm_cpus_on_node = cpus_on_node;
  return *this;
}

SessionBuilder& SessionBuilder::Tick(double seconds) {
  session_.context.clock_tick_seconds = seconds;
  return *this;
}

SessionBuilder& SessionBuilder::Requested(int runs) {
  session_.requested_runs = runs;
  return *this;
}

SessionBuilder& SessionBuilder::Run(const RunReport& report, std::optional<double> cpu_seconds,
                                    std::optional<double> wall_seconds) {
  session_.runs.push_back({report, cpu_seconds, wall_seconds});
  return *this;
}

SessionBuilder& SessionBuilder::Runs(int count, const std::function<RunReport(int)>& make) {
  for (int i = 0; i < count; ++i) Run(make(i));
  return *this;
}

SessionBuilder& SessionBuilder::TimedRuns(int count, double scale) {
  return Runs(count, [scale](int run) {
    const double serial = 0.060 * scale * (1.0 + 0.01 * ((run * 7) % 5));
    return ReportWith(serial, [serial](int t) { return serial / std::min(t, 2); });
  });
}

SessionBuilder& SessionBuilder::FailedRun(const std::string& failure) {
  RunReport report = ReportWith(0.06, 0.03);
  report.failure = RunFailureFromText(failure);
  return Run(report);
}

SessionBuilder& SessionBuilder::Interrupted(const std::string& signal) {
  session_.interrupted = InterruptFromName(signal);
  return *this;
}

SessionBuilder& SessionBuilder::Stopped(const StopReason& reason) {
  session_.stopped = reason;
  return *this;
}

NodeInput NodeOf(const std::string& name, const Session& session) {
  NodeInput node;
  node.node = name;
  node.file = name + ".json";
  node.session = session;
  node.merged = HasPassedRun(session);
  return node;
}

void PrintTo(const Warning& warning, std::ostream* out) { *out << WarningText(warning); }

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

std::string FailureWords(const std::optional<RunFailure>& failure) {
  return failure ? RunFailureText(*failure) : "";
}

void PrintTo(const RunFailure& failure, std::ostream* out) { *out << RunFailureText(failure); }

void PrintTo(const Interrupt& interrupt, std::ostream* out) {
  *out << InterruptName(interrupt) << " (" << interrupt.signal_number << ")";
}

}  // namespace speedup
