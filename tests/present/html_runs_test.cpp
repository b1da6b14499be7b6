#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "present/html_reporter.h"
#include "speedup_support.h"
#include "stats/comparison.h"
#include "stats/diagnostics.h"
#include "stats/run_dots.h"

namespace speedup {
namespace {

// The element `<svg id="id"` of `page` up to its end.
std::string Svg(const std::string& page, const std::string& id) {
  const std::size_t at = page.find("<svg id=\"" + id + "\"");
  if (at == std::string::npos) return "";
  return page.substr(at, page.find("</svg>", at) - at);
}

// The page of `session` with its runs one by one (and, with no drawer, no chart).
std::string SessionPageOf(const Session& session) {
  const SessionAnalysis analysis = Analyse(session);
  const RunDots dots = SessionRunDots(session, analysis.figures);
  HtmlMaterial material;
  material.run_dots = &dots;
  return MakeHtmlReporter(material)->SessionReport(session, analysis);
}

// A plot without its axis titles or key, or an id named twice, leaves the reader guessing what
// the dots are; the dots themselves are counted in the browser test.
TEST(HtmlRunsTest, PlotsHaveAxisTitlesKeysAndIdsOfTheirOwn) {
  const Session session = SessionBuilder().Processors(2).TimedRuns(7, 1.0).Build();
  const std::string page = SessionPageOf(session);
  const std::string order = Svg(page, "runs-order");
  ASSERT_FALSE(Svg(page, "runs-strip").empty()) << "no strip of the runs";
  for (const char* title :
       {"team size (threads)", "time ÷ median of the row", "run, in the order they ran"}) {
    EXPECT_NE(page.find(std::string(">") + title + "</text>"), std::string::npos)
        << "no axis title " << title;
  }
  EXPECT_NE(order.find(">serial</text>"), std::string::npos) << "no key";
  EXPECT_NE(order.find(">2 threads</text>"), std::string::npos) << "no key for the team";
  EXPECT_EQ(Count(page, " id=\"runs-strip\""), 1u);
  EXPECT_EQ(Count(page, " id=\"runs\""), 1u);
  EXPECT_EQ(page.find("are drawn"), std::string::npos) << "thinning claimed where none was done";

  const Session added = SessionBuilder().FullContext().TimedRuns(5, 1.5).Build();
  const Comparison comparison = CompareSessions(session, added);
  const Figures base_figures = SessionFigures(session), new_figures = SessionFigures(added);
  const RunDots dots = ComparedRunDots(session, added, comparison);
  HtmlMaterial material;
  material.base = &session;
  material.added = &added;
  material.base_figures = &base_figures;
  material.new_figures = &new_figures;
  material.run_dots = &dots;
  const std::string compared =
      Svg(MakeHtmlReporter(material)->ComparisonReport(comparison, "old<b>.json", "new.json"),
          "runs-strip");
  EXPECT_NE(compared.find(">BASE old&lt;b&gt;.json</text>"), std::string::npos) << "no BASE key";
  EXPECT_NE(compared.find(">NEW new.json</text>"), std::string::npos) << "no key for NEW";
  EXPECT_NE(compared.find(">time ÷ BASE&#39;s median of the row</text>"), std::string::npos);
}

}  // namespace
}  // namespace speedup
