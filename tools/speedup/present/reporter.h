#pragma once

#include <memory>
#include <string>
#include <vector>

#include "session/session.h"
#include "stats/comparison.h"
#include "stats/diagnostics.h"
#include "stats/fleet.h"
#include "stats/trace_figures.h"

// One reporter per output format behind one interface. Every report reads finished data and
// computes nothing, so a session read back from its JSON prints exactly what it printed when it
// ran.
namespace speedup {

enum class OutputFormat { kTable, kCsv, kLongCsv, kJson, kMarkdown };

// One session of a placement study, with the name it is shown under.
struct NamedSession {
  std::string name;
  const Session* session = nullptr;           // not owned
  const SessionAnalysis* analysis = nullptr;  // not owned
};

class Reporter {
 public:
  virtual ~Reporter() = default;

  // One session and its analysis.
  virtual std::string SessionReport(const Session& session,
                                    const SessionAnalysis& analysis) const = 0;

  // NEW against BASE, named by their files.
  virtual std::string ComparisonReport(const Comparison& comparison, const std::string& base_name,
                                       const std::string& new_name) const = 0;

  // A fleet of nodes.
  virtual std::string FleetReport(const Fleet& fleet) const = 0;

  // A placement study: every session, then `comparisons[i]` of session i + 1 against the first.
  virtual std::string StudyReport(const std::vector<NamedSession>& sessions,
                                  const std::vector<Comparison>& comparisons) const = 0;

  // A traced session: where each team's time went, the speedups from both clocks, the tool's
  // cost and the trace's warnings.
  virtual std::string TraceReport(const TraceSession& session,
                                  const TraceFigures& figures) const = 0;
};

// The reporter of `format`; the long CSV reports sessions alone, as every run's times, and
// gives the plain CSV of a comparison, a fleet or a trace. Markdown gives the figures' tables.
std::unique_ptr<Reporter> MakeReporter(OutputFormat format);

}  // namespace speedup
