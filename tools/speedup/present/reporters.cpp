#include "present/reporter.h"
#include "present/table_reporter.h"
#include "present/trace_report.h"

namespace speedup {

// Defined beside their formats.
std::unique_ptr<Reporter> MakeCsvReporter(bool every_run);
std::unique_ptr<Reporter> MakeJsonReporter();
std::unique_ptr<Reporter> MakeMarkdownReporter();

namespace {

class TableReporter : public Reporter {
 public:
  std::string SessionReport(const Session& session,
                            const SessionAnalysis& analysis) const override {
    return SessionTable(session, analysis);
  }
  std::string ComparisonReport(const Comparison& comparison, const std::string& base_name,
                               const std::string& new_name) const override {
    return ComparisonTable(comparison, base_name, new_name);
  }
  std::string FleetReport(const Fleet& fleet) const override { return FleetTable(fleet); }
  std::string StudyReport(const std::vector<NamedSession>& sessions,
                          const std::vector<Comparison>& comparisons) const override {
    return StudyTable(sessions, comparisons);
  }
  std::string TraceReport(const TraceSession& session, const TraceFigures& figures) const override {
    return TraceTable(session, figures);
  }
};

}  // namespace

std::unique_ptr<Reporter> MakeReporter(OutputFormat format) {
  switch (format) {
    case OutputFormat::kCsv:
      return MakeCsvReporter(false);
    case OutputFormat::kLongCsv:
      return MakeCsvReporter(true);
    case OutputFormat::kJson:
      return MakeJsonReporter();
    case OutputFormat::kMarkdown:
      return MakeMarkdownReporter();
    case OutputFormat::kTable:
      break;
  }
  return std::make_unique<TableReporter>();
}

}  // namespace speedup
