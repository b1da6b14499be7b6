#include "present/html_reporter.h"

#include "present/html_parts.h"

namespace speedup {
namespace {

// Each report is a page of its own kind, made in its own file.
class HtmlReporter : public Reporter {
 public:
  explicit HtmlReporter(const HtmlMaterial& material) : material_(material) {}

  std::string SessionReport(const Session& session,
                            const SessionAnalysis& analysis) const override {
    return html::SessionPage(session, analysis, material_);
  }
  std::string ComparisonReport(const Comparison& comparison, const std::string& base_name,
                               const std::string& new_name) const override {
    return html::ComparisonPage(comparison, base_name, new_name, material_);
  }
  std::string FleetReport(const Fleet& fleet) const override {
    return html::FleetPage(fleet, material_);
  }
  std::string StudyReport(const std::vector<NamedSession>& sessions,
                          const std::vector<Comparison>& comparisons) const override {
    return html::StudyPage(sessions, comparisons, material_);
  }
  std::string TraceReport(const TraceSession& session, const TraceFigures& figures) const override {
    return html::TracePage(session, figures, material_);
  }

 private:
  HtmlMaterial material_;
};

}  // namespace

std::unique_ptr<Reporter> MakeHtmlReporter(const HtmlMaterial& material) {
  return std::make_unique<HtmlReporter>(material);
}

}  // namespace speedup
