#include "speedup_support.h"

#include <cstdio>

#include "bench/report_texts.h"

namespace speedup {

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

SessionBuilder& SessionBuilder::Slurm(const std::string& job, const std::string& node) {
  session_.context.slurm_job_id = job;
  session_.context.slurm_node = node;
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

SessionBuilder& SessionBuilder::FailedRun(const std::string& failure) {
  RunReport report = ReportWith(0.06, 0.03);
  report.failure = failure;
  return Run(report);
}

SessionBuilder& SessionBuilder::Interrupted(const std::string& signal) {
  session_.interrupted = signal;
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
  node.merged = !PassedReports(session).empty();
  return node;
}

}  // namespace speedup
