#include <utility>

#include "present/html_parts.h"
#include "present/html_reporter.h"
#include "present/words.h"

namespace speedup::html {

std::string StudyPage(const std::vector<NamedSession>& sessions,
                      const std::vector<Comparison>& comparisons, const HtmlMaterial& material) {
  // The verdicts answer the study: they come first, each placement's detail after.
  std::string body = "<h1>matbench placement study</h1>\n" + StudyHeadline(sessions, comparisons);
  for (std::size_t i = 0; i < comparisons.size(); ++i) {
    body += Section("comparison-" + std::to_string(i + 1),
                    sessions[i + 1].name + " against " + sessions[0].name,
                    WarningList(ComparisonWarnings(comparisons[i])) +
                        ComparisonRows(comparisons[i], "ratios-" + std::to_string(i + 1)) +
                        ComparisonLegend(comparisons[i]));
  }
  body += Section("chart", "Chart of every placement", SessionsChartFigure(sessions, material));
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    body += Section("placement-" + std::to_string(i + 1), sessions[i].name,
                    SessionBody(*sessions[i].session, *sessions[i].analysis,
                                "figures-" + std::to_string(i + 1), ""));
  }
  body +=
      Section("raw", "Raw data",
              RawSection("study-json", "placement study JSON",
                         MakeReporter(OutputFormat::kJson)->StudyReport(sessions, comparisons)));
  return Page("matbench placement study", std::move(body));
}

}  // namespace speedup::html
