#include "present/html_reporter.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/policy.h"
#include "base/text.h"
#include "commands/drawing.h"
#include "present/json_reporter.h"
#include "present/words.h"
#include "speedup_support.h"
#include "stats/comparison.h"
#include "stats/diagnostics.h"
#include "stats/fleet.h"

namespace speedup {
namespace {

TEST(HtmlEscapedTest, NoByteOfSessionTextCanBecomeMarkup) {
  const struct {
    const char* fault;
    std::string text;
    std::string escaped;
  } cases[] = {
      {"a tag opens", "<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"an attribute's double quote closes", "x\" onerror=\"y", "x&quot; onerror=&quot;y"},
      {"an attribute's single quote closes", "x' onload='y", "x&#39; onload=&#39;y"},
      {"a reference is read as its character", "&lt;&amp;", "&amp;lt;&amp;amp;"},
      {"a comment opens", "<!-- x -->", "&lt;!-- x --&gt;"},
      {"a NUL hides what follows", std::string("a\0b", 3), "a\\x00b"},
      {"a control character moves the cursor", "a\x1b[2Jb", "a\\x1B[2Jb"},
      {"a byte outside UTF-8 breaks the page's encoding", "a\xff<b", "a\\xFF&lt;b"},
      {"a cut UTF-8 sequence eats the next character", "\xd0<", "\\xD0&lt;"},
      {"well-formed UTF-8 is mangled", "потоков ×1.3 —", "потоков ×1.3 —"},
      {"plain text is changed", "node-17.cluster", "node-17.cluster"},
      {"a right-to-left override reverses what follows", "evil\u202Elive", "evil\\u202Elive"},
      {"an isolate reorders what follows", "a\u2067b\u2069", "a\\u2067b\\u2069"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.fault);
    EXPECT_EQ(HtmlEscaped(test.text), test.escaped);
  }
}

TEST(ScriptJsonTest, NothingEndsTheScriptElementAndTheValuesReadBack) {
  const nlohmann::json json = {{"host", "</script><script>alert(1)</script><!--"}, {"cpu", "a<b"}};
  const std::string safe = ScriptJson(json.dump());
  EXPECT_EQ(safe.find('<'), std::string::npos) << safe;
  EXPECT_EQ(nlohmann::json::parse(safe), json);
}

Session HostileSession() {
  return SessionBuilder()
      .FullContext()
      .Host("<script>document.title='pwned'</script>")
      .CpuModel("\"><img src=x onerror=alert(1)>")
      .TimedRuns(8, 1.0)
      .FailedRun("Тест 0 <b>bold</b>")
      .Build();
}

TEST(HtmlReporterTest, SessionTextFromAFileIsEscapedEverywhere) {
  const WithoutGnuplot no_gnuplot;
  const Session session = HostileSession();
  const std::string page = MakeHtmlReporter({})->SessionReport(session, Analyse(session));
  EXPECT_EQ(page.find("<script>document"), std::string::npos) << "host name as markup";
  EXPECT_EQ(page.find("<img"), std::string::npos) << "CPU model as markup";
  EXPECT_EQ(page.find("<b>bold"), std::string::npos) << "failure as markup";
  EXPECT_NE(page.find("&lt;script&gt;document.title=&#39;pwned&#39;"), std::string::npos)
      << "the host name is not shown";
  // Every script element is the page's own, under its nonce, or an inert JSON block.
  EXPECT_EQ(Count(page, "<script"),
            Count(page, "<script nonce=\"") + Count(page, "<script type=\"application/json\""));
  EXPECT_EQ(Count(page, "<script nonce=\""), 1u);
}

TEST(HtmlReporterTest, PageNeedsNoNetworkAndNoOtherFile) {
  const WithoutGnuplot no_gnuplot;
  const Session session = SessionBuilder().FullContext().TimedRuns(8, 1.0).Build();
  const std::string page = MakeHtmlReporter({})->SessionReport(session, Analyse(session));
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos) << "no content policy";
  for (const char* reference : {" src=", " href=", "url(", "@import", "http://", "https://"}) {
    SCOPED_TRACE(reference);
    EXPECT_EQ(page.find(reference), std::string::npos);
  }
}

TEST(HtmlReporterTest, SessionTableHoldsTheFiguresWithTheirIntervals) {
  const WithoutGnuplot no_gnuplot;
  const Session session = SessionBuilder().FullContext().TimedRuns(8, 1.0).Build();
  const SessionAnalysis analysis = Analyse(session);
  const std::string page = MakeHtmlReporter({})->SessionReport(session, analysis);
  for (const TeamFigures& team : analysis.figures.teams) {
    SCOPED_TRACE(team.threads);
    const Estimate& s = team.speedup_vs_serial;
    ASSERT_TRUE(s.median && s.low && s.high);
    EXPECT_NE(page.find("data-k=\"speedup_vs_serial.median\" data-v=\"" + NumberText(*s.median) +
                        "\">" + FixedText(s.median, 2) + "<"),
              std::string::npos)
        << "the median is not the figure's";
    EXPECT_NE(page.find("data-k=\"speedup_vs_serial.low\" data-v=\"" + NumberText(*s.low) + "\""),
              std::string::npos)
        << "the interval is missing";
  }
  EXPECT_NE(page.find("<details>"), std::string::npos) << "the raw runs are not kept";
  EXPECT_NE(page.find("id=\"session-json\""), std::string::npos);
  EXPECT_NE(page.find("<pre data-json=\"session-json\"></pre>"), std::string::npos)
      << "the raw JSON has no place to be shown";
  EXPECT_NE(page.find("\"session-json\">{\n  \"format\""), std::string::npos)
      << "the raw JSON is not kept line by line";
  EXPECT_EQ(Count(page, "\"format_version\""), 1u) << "the session JSON is stored twice";
}

TEST(HtmlReporterTest, EveryWarningAndFailedRunIsSaidInWords) {
  const WithoutGnuplot no_gnuplot;
  const Session session = SessionBuilder()
                              .FullContext()
                              .Setting("OMP_DYNAMIC", "true")
                              .TimedRuns(8, 1.0)
                              .FailedRun("the product differs")
                              .Build();
  const SessionAnalysis analysis = Analyse(session);
  ASSERT_FALSE(analysis.warnings.empty());
  const std::string page = MakeHtmlReporter({})->SessionReport(session, analysis);
  for (const Warning& warning : analysis.warnings) {
    SCOPED_TRACE(WarningText(warning));
    EXPECT_NE(page.find(HtmlEscaped(WarningText(warning))), std::string::npos);
  }
  EXPECT_NE(page.find("run 9 failed and is left out of the figures: the product differs"),
            std::string::npos);
  // The headline sends the reader to as many warnings as the list below it holds.
  const std::size_t listed = Count(page, "<li><strong>warning:</strong>");
  EXPECT_NE(page.find("Read the " + std::to_string(listed) + " warnings below"), std::string::npos)
      << listed << " warnings listed";
}

TEST(HtmlReporterTest, MissingGnuplotIsSaidWhereTheChartWouldBe) {
  const WithoutGnuplot no_gnuplot;
  const Session session = SessionBuilder().FullContext().TimedRuns(8, 1.0).Build();
  HtmlMaterial material;
  material.draw = DrawPageChart;
  const std::string page = MakeHtmlReporter(material)->SessionReport(session, Analyse(session));
  EXPECT_NE(page.find("gnuplot is not installed here"), std::string::npos);
  EXPECT_NE(page.find("<figcaption>"), std::string::npos) << "the chart's caption is gone";
}

TEST(HtmlReporterTest, ChartsAreTheDrawersAndAnSvgHoldingAScriptIsLeftOut) {
  const Session session = SessionBuilder().FullContext().TimedRuns(8, 1.0).Build();
  const SessionAnalysis analysis = Analyse(session);
  const struct {
    const char* fault;
    std::string svg;
    bool embedded;
  } cases[] = {
      {"a drawn chart is not embedded", "<?xml?>\n<svg width=\"9\"><g/></svg>", true},
      {"a script in the chart reaches the page", "<svg><script>alert(1)</script></svg>", false},
      {"a foreign object in the chart reaches the page", "<svg><foreignObject/></svg>", false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.fault);
    std::vector<std::string> scripts;
    HtmlMaterial material;
    material.draw = [&](const std::string& script) {
      scripts.push_back(script);
      DrawnChart drawn;
      drawn.bytes = test.svg;
      return drawn;
    };
    const std::string page = MakeHtmlReporter(material)->SessionReport(session, analysis);
    ASSERT_EQ(scripts.size(), 1u) << "the page asks for its one chart a number of times";
    EXPECT_NE(scripts[0].find("set output 'chart.svg'"), std::string::npos) << scripts[0];
    EXPECT_EQ(page.find("<g/></svg>") != std::string::npos, test.embedded);
    EXPECT_EQ(page.find("alert(1)"), std::string::npos);
  }
  const std::string undrawn = MakeHtmlReporter({})->SessionReport(session, analysis);
  EXPECT_NE(undrawn.find("no chart: none was drawn for this page"), std::string::npos)
      << "a page without a drawer does not say why it has no chart";
}

TEST(HtmlReporterTest, ComparisonHighlightsTheFieldsThatDiffer) {
  const WithoutGnuplot no_gnuplot;
  const Session base = SessionBuilder().FullContext().TimedRuns(9, 1.0).Build();
  const Session added =
      SessionBuilder().FullContext().CpuModel("Other CPU <2>").TimedRuns(9, 1.5).Build();
  const Figures base_figures = Analyse(base).figures;
  const Figures new_figures = Analyse(added).figures;
  const Comparison comparison = CompareSessions(base, added);
  HtmlMaterial material;
  material.base = &base;
  material.added = &added;
  material.base_figures = &base_figures;
  material.new_figures = &new_figures;
  const std::string page =
      MakeHtmlReporter(material)->ComparisonReport(comparison, "base.json", "new.json");
  EXPECT_NE(page.find("<tr class=\"differs\"><th scope=\"row\" class=\"text\">cpu model</th>"),
            std::string::npos)
      << "the differing CPU model is not highlighted";
  EXPECT_NE(page.find("<tr><th scope=\"row\" class=\"text\">host</th>"), std::string::npos)
      << "the equal host is highlighted";
  EXPECT_NE(page.find("Other CPU &lt;2&gt;"), std::string::npos);
  for (const RowComparison& row : comparison.rows) {
    SCOPED_TRACE(row.threads);
    EXPECT_NE(page.find("data-k=\"ratio\" data-v=\"" + NumberText(row.ratio) + "\""),
              std::string::npos);
  }
  EXPECT_NE(page.find("id=\"base-json\""), std::string::npos) << "BASE's runs are not kept";
}

TEST(HtmlReporterTest, FleetRowsCarryTheirVerdictsAndFailedNodesTheirReasons) {
  const WithoutGnuplot no_gnuplot;
  std::vector<NodeInput> inputs;
  for (int i = 0; i < 4; ++i) {
    std::string name = "n";
    name += std::to_string(i);
    inputs.push_back(
        NodeOf(name, SessionBuilder().Processors(2).TimedRuns(10, i == 2 ? 1.5 : 1.0).Build()));
  }
  inputs.push_back(NodeOf("<i>n9</i>", SessionBuilder().FailedRun("lost <power>").Build()));
  inputs.back().problem = NodeProblem{NodeProblem::Kind::kRunFailed, "lost <power>", 1};
  const Fleet fleet = BuildFleet(std::move(inputs));
  const Figures band = FleetBand(fleet);
  HtmlMaterial material;
  material.fleet_band = &band;
  const std::string page = MakeHtmlReporter(material)->FleetReport(fleet);
  // The rows are data for the page's script, the slower node first.
  const std::string opening = "id=\"fleet-rows\">";
  const std::size_t rows = page.find(opening);
  ASSERT_NE(rows, std::string::npos) << "no rows";
  EXPECT_EQ(page.find("<tr data-verdict="), std::string::npos) << "rows as elements up front";
  const nlohmann::json data = nlohmann::json::parse(
      page.substr(rows + opening.size(), page.find("</script>", rows) - rows - opening.size()));
  ASSERT_EQ(data["rows"].size(), 4u) << "one row per merged node";
  EXPECT_EQ(data["rows"][0]["v"], "slower") << "the slow node is not first or not filterable";
  EXPECT_EQ(data["rows"][0]["c"][0], "n2");
  EXPECT_EQ(data["rows"][0]["c"].size(), data["columns"].size()) << "a cell without its column";
  EXPECT_NE(page.find("<option value=\"slower\">slower (1)</option>"), std::string::npos);
  EXPECT_NE(page.find("&lt;i&gt;n9&lt;/i&gt;"), std::string::npos) << "the failed node is unnamed";
  EXPECT_NE(page.find("a run failed: lost &lt;power&gt;"), std::string::npos)
      << "its reason is missing";
  EXPECT_EQ(page.find("<i>n9"), std::string::npos);
  // The page's fleet JSON, made node by node, is what merge --json writes, to the byte.
  for (const bool figures : {true, false}) {
    EXPECT_EQ(FleetJsonLine(fleet, figures), JsonText(FleetJson(fleet, figures), -1))
        << "with the nodes' figures: " << figures;
  }
}

TEST(HtmlReporterTest, FleetBandIsCalledWhatItSpansNotTheRange) {
  const WithoutGnuplot no_gnuplot;
  std::vector<NodeInput> inputs;
  for (std::size_t i = 0; i <= MAX_NODE_CURVES; ++i) {
    std::string name = "n";
    name += std::to_string(i);
    inputs.push_back(NodeOf(name, SessionBuilder().Processors(2).TimedRuns(10, 1.0).Build()));
  }
  const Fleet fleet = BuildFleet(std::move(inputs));
  const Figures band = FleetBand(fleet);
  HtmlMaterial material;
  material.fleet_band = &band;
  const std::string page = MakeHtmlReporter(material)->FleetReport(fleet);
  // The band spans the nodes' 10% to 90% quantiles; "their range" says it holds every node.
  EXPECT_NE(page.find("between their " + FleetBandText() + " quantiles"), std::string::npos);
  EXPECT_EQ(page.find("range shaded"), std::string::npos) << "the caption calls the band a range";
}

TEST(HtmlReporterTest, PlacementStudyPageNamesEveryElementOnce) {
  const WithoutGnuplot no_gnuplot;
  Session close = SessionBuilder().FullContext().TimedRuns(8, 1.0).Build();
  Session spread = SessionBuilder().FullContext().TimedRuns(8, 1.2).Build();
  close.placement = "close";
  spread.placement = "spread";
  const SessionAnalysis close_analysis = Analyse(close);
  const SessionAnalysis spread_analysis = Analyse(spread);
  const std::string page =
      MakeHtmlReporter({})->StudyReport({{"OMP_PROC_BIND=close", &close, &close_analysis},
                                         {"OMP_PROC_BIND=spread", &spread, &spread_analysis}},
                                        {CompareSessions(close, spread)});
  std::vector<std::string> ids;
  for (std::size_t at = page.find(" id=\""); at != std::string::npos;
       at = page.find(" id=\"", at + 1)) {
    ids.push_back(page.substr(at + 5, page.find('"', at + 5) - at - 5));
  }
  EXPECT_EQ(Count(page, "<table class=\"figures\""), 2u) << "a placement's table is missing";
  EXPECT_EQ(Count(page, "<table class=\"comparison\""), 1u) << "the comparison is missing";
  for (const std::string& id : ids) {
    SCOPED_TRACE(id);
    EXPECT_EQ(Count(page, " id=\"" + id + "\""), 1u) << "an id named twice";
  }
}

TEST(HtmlReporterTest, LongPagesListTheirSectionsUnderTheHeadline) {
  const WithoutGnuplot no_gnuplot;
  Session close = SessionBuilder().FullContext().TimedRuns(8, 1.0).Build();
  Session spread = SessionBuilder().FullContext().TimedRuns(8, 1.2).Build();
  const SessionAnalysis close_analysis = Analyse(close);
  const SessionAnalysis spread_analysis = Analyse(spread);
  const std::string page = MakeHtmlReporter({})->StudyReport(
      {{"close", &close, &close_analysis}, {"spread <b>", &spread, &spread_analysis}},
      {CompareSessions(close, spread)});
  const std::size_t nav = page.find("<nav class=\"contents\"");
  ASSERT_NE(nav, std::string::npos) << "a page of five sections lists none";
  EXPECT_LT(page.find("id=\"headline\""), nav) << "the list pushes the headline down";
  const std::string list = page.substr(nav, page.find("</nav>", nav) - nav);
  std::size_t sections = 0;
  for (std::size_t at = page.find("<section id=\""); at != std::string::npos;
       at = page.find("<section id=\"", at + 1), ++sections) {
    const std::string id = page.substr(at + 13, page.find('"', at + 13) - at - 13);
    EXPECT_NE(list.find("<a href=\"#" + id + "\">"), std::string::npos) << id << " not listed";
  }
  EXPECT_EQ(Count(list, "<a href="), sections) << "a link to no section";
  EXPECT_NE(list.find("spread &lt;b&gt;"), std::string::npos) << "a heading unescaped: " << list;
  const Session one = SessionBuilder().FullContext().TimedRuns(8, 1.0).Build();
  EXPECT_EQ(MakeHtmlReporter({})->SessionReport(one, Analyse(one)).find("<nav"), std::string::npos)
      << "a page of one section lists it";
}

TEST(HtmlReporterTest, HeadsSayTheConfidenceTheRunsReachedNotTheOneSought) {
  const WithoutGnuplot no_gnuplot;
  // Three runs reach 75%: a head saying 95% overstates them, in the page and in Markdown.
  const Session few = SessionBuilder().FullContext().TimedRuns(3, 1.0).Build();
  const SessionAnalysis analysis = Analyse(few);
  ASSERT_LT(analysis.figures.serial.confidence, CONFIDENCE);
  const std::string reached = ConfidenceLabel(analysis.figures.serial.confidence);
  for (const auto& [format, report] :
       {std::pair{"html", MakeHtmlReporter({})->SessionReport(few, analysis)},
        std::pair{"markdown",
                  MakeReporter(OutputFormat::kMarkdown)->SessionReport(few, analysis)}}) {
    SCOPED_TRACE(format);
    EXPECT_NE(report.find("[" + reached), std::string::npos) << "the reached confidence is unsaid";
    EXPECT_EQ(report.find("[95%"), std::string::npos) << "a head says 95%";
  }
  const std::string page = MakeHtmlReporter({})->SessionReport(few, analysis);
  EXPECT_EQ(page.find("[—, —] from"), std::string::npos) << "an Amdahl interval that is none";
  EXPECT_NE(page.find("(no interval: resampling 3 runs cannot reach"), std::string::npos);

  const Session other = SessionBuilder().FullContext().TimedRuns(3, 1.2).Build();
  const Comparison comparison = CompareSessions(few, other);
  ASSERT_LT(comparison.confidence, CONFIDENCE);
  for (const auto& [format, report] :
       {std::pair{"html", MakeHtmlReporter({})->ComparisonReport(comparison, "a", "b")},
        std::pair{"markdown",
                  MakeReporter(OutputFormat::kMarkdown)->ComparisonReport(comparison, "a", "b")}}) {
    SCOPED_TRACE(format);
    EXPECT_NE(report.find("[" + ConfidenceLabel(comparison.confidence)), std::string::npos);
    EXPECT_EQ(report.find("[95%"), std::string::npos) << "a head says 95%";
  }
}

TEST(HtmlReporterTest, ComparisonPageSaysWhatTheTerminalSaysUnderItsTable) {
  const WithoutGnuplot no_gnuplot;
  // BASE's runs used about one processor of two: every team row is marked, as in the terminal.
  SessionBuilder serial;
  serial.FullContext().Processors(2);
  for (int run = 0; run < 9; ++run) serial.Run(ReportWith(0.060, 0.031), 1.02, 1.0);
  const Session base = serial.Build();
  const Session added = SessionBuilder().FullContext().Processors(2).TimedRuns(9, 1.0).Build();
  const Comparison comparison = CompareSessions(base, added);
  ASSERT_TRUE(comparison.base_not_parallel);
  const std::string page =
      MakeHtmlReporter({})->ComparisonReport(comparison, "base.json", "new.json");
  std::size_t team_rows = 0;
  for (const RowComparison& row : comparison.rows) team_rows += row.threads > 0 ? 1 : 0;
  EXPECT_EQ(Count(page, " #</td>"), team_rows) << "the # marks are dropped";
  EXPECT_NE(page.find(HtmlEscaped(NotParallelSideText("BASE"))), std::string::npos);
  EXPECT_EQ(page.find(HtmlEscaped(NotParallelSideText("NEW"))), std::string::npos);
  EXPECT_NE(page.find(HtmlEscaped(
                ClockIntervalText(comparison.base_tick.seconds, comparison.new_tick.seconds))),
            std::string::npos)
      << "the clock sentence is dropped";
  EXPECT_NE(page.find(HtmlEscaped(SmallestChangeText(
                comparison.smallest_change,
                std::max(comparison.base_tick.seconds, comparison.new_tick.seconds)))),
            std::string::npos)
      << "the smallest change that can be called is dropped";
}

}  // namespace
}  // namespace speedup
