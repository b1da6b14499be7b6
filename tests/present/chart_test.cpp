#include "present/chart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/interrupts.h"
#include "commands/drawing.h"
#include "present/charts.h"
#include "present/words.h"
#include "speedup_support.h"
#include "stats/comparison.h"
#include "stats/fleet.h"

namespace speedup {
namespace {

namespace fs = std::filesystem;

// Speedup 0.9 t with a 2 % interval, for team sizes 1..teams.
Figures SomeFigures(int teams = 20) {
  Figures figures;
  for (int t = 1; t <= teams; ++t) {
    TeamFigures team;
    team.threads = t;
    team.speedup_vs_serial = {0.9 * t, 0.88 * t, 0.92 * t};
    team.efficiency = {0.9, 0.88, 0.92};
    figures.teams.push_back(team);
  }
  return figures;
}

PlotRequest Request(const Figures& figures, const std::string& name = "speedup vs serial") {
  PlotRequest request;
  request.path = "/nowhere/chart.svg";
  request.processors = 8;
  request.runs = 7;
  request.curves = {{name, &figures, std::nullopt}};
  return request;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// Where each byte of `line` stands: inside a single-quoted string ('' kept inside) or not.
std::vector<bool> InsideQuotes(const std::string& line) {
  std::vector<bool> inside(line.size() + 1, false);
  bool in = false;
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (line[at] == '\'' && !(in && at + 1 < line.size() && line[at + 1] == '\'')) {
      in = !in;
    } else if (line[at] == '\'') {
      inside[at++] = true;
    }
    inside[at] = in;
  }
  inside[line.size()] = in;
  return inside;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool GnuplotInstalled() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

TEST(PlotScriptTest, HostileTextCannotLeaveItsQuotesOrBreakItsLine) {
  EXPECT_EQ(GnuplotText("a'b\nc\x7Fд\xFF"), "'a''b\\x0Ac\\x7Fд\\xFF' noenhanced");
  const std::string hostile = "x\nsystem \"touch PWNED\"\n`touch PWNED`'\"\r\t@x -e";
  const Figures figures = SomeFigures();
  PlotRequest request = Request(figures, hostile);
  request.title = hostile;
  request.path = "/home/PATHMARK\n-e.svg";
  const std::string script = PlotScript(request, "chart.svg");
  EXPECT_FALSE(Contains(script, "PATHMARK"));
  EXPECT_TRUE(Contains(script,
                       "title 'x\\x0Asystem \"touch PWNED\"\\x0A`touch PWNED`''\"\\x0D\\x09@x "
                       "-e' noenhanced"));
  for (const std::string& line : Lines(script)) {
    SCOPED_TRACE(line);
    const std::vector<bool> inside = InsideQuotes(line);
    EXPECT_FALSE(inside.back()) << "unclosed quote: " << line;
    for (std::size_t at = 0; at < line.size(); ++at) {
      EXPECT_TRUE(static_cast<unsigned char>(line[at]) >= 0x20 && line[at] != 0x7F) << line;
      // gnuplot substitutes `command` and @macro everywhere outside single quotes.
      EXPECT_TRUE(inside[at] || (line[at] != '`' && line[at] != '@')) << line;
      const std::string before = line.substr(0, at);
      const bool opens = line[at] == '\'' && inside[at] && (at == 0 || !inside[at - 1]);
      if (opens && (before.ends_with("title ") || before.ends_with("label ") ||
                    before.ends_with("label 1 "))) {
        const auto end = std::find(inside.begin() + at, inside.end(), false) - inside.begin();
        EXPECT_EQ(line.compare(end + 1, 11, " noenhanced"), 0) << "markup read in: " << line;
      }
    }
  }
}

TEST(PlotScriptTest, MissingMedianIsAMissingPointNotZero) {
  Figures figures = SomeFigures();
  figures.teams[2].speedup_vs_serial = {};
  figures.teams[2].efficiency = {};
  figures.teams[4].speedup_vs_serial.median = std::nan("");
  figures.teams[5].speedup_vs_serial = {6, std::nullopt, std::nullopt};
  const std::string script = PlotScript(Request(figures), "chart.svg");
  EXPECT_TRUE(Contains(script, "set datafile missing '?'\n"));
  EXPECT_TRUE(Contains(script, "\n3 ? ? ? ? ? ?\n"));
  EXPECT_TRUE(Contains(script, "\n5 ? ? ? 0.9 "));
  EXPECT_TRUE(Contains(script, "\n6 6 6 6 0.9 ")) << "a median without interval, lost";
}

TEST(PlotScriptTest, IdealLineStopsRisingAtTheProcessorCountWhereOneIsRecorded) {
  const Figures figures = SomeFigures();
  PlotRequest request = Request(figures);
  std::string script = PlotScript(request, "chart.svg");
  EXPECT_TRUE(Contains(script, "\n7 7\n8 8\n9 8\n"));
  EXPECT_TRUE(Contains(script, "set arrow 1 from 8, graph 0 to 8, graph 1 nohead dashtype 2"));
  EXPECT_TRUE(Contains(script, "median of 7 runs with 95% intervals, 8 processors' noenhanced"));
  for (const std::optional<int> processors : {std::optional<int>(), std::optional<int>(0)}) {
    SCOPED_TRACE(processors ? "0 processors" : "processors not recorded");
    request.processors = processors;
    script = PlotScript(request, "chart.svg");
    EXPECT_TRUE(Contains(script, "\n19 19\n20 20\nEOD\n"));
    EXPECT_FALSE(Contains(script, "set arrow"));
    EXPECT_TRUE(Contains(script, "95% intervals, processors not recorded'"));
  }
  request.processors = 1;
  script = PlotScript(request, "chart.svg");
  EXPECT_TRUE(Contains(script, "intervals, 1 processor'")) << "\"1 processors\"";
  EXPECT_TRUE(Contains(script, "'ideal on 1 processor'"));
}

TEST(PlotScriptTest, EachCurveHasItsOwnDataColourAndFit) {
  const Figures a = SomeFigures(), b = SomeFigures(), c = SomeFigures(4);
  PlotRequest request = Request(a, "before");
  request.curves[0].serial_fraction = 0.012;
  EXPECT_TRUE(Contains(PlotScript(request, "chart.svg"), "title 'Amdahl fit, f = 0.012'"));
  request.curves.push_back({"after", &b, std::nullopt});
  request.curves.push_back({"spread", &c, 0.25});
  const std::string script = PlotScript(request, "chart.png");
  EXPECT_TRUE(Contains(script, "set terminal pngcairo"));
  EXPECT_TRUE(Contains(script, "\nEOD\n$curve3 << EOD\n# threads"));
  EXPECT_TRUE(Contains(script, "$curve2 using 1:2:3:4 with yerrorlines linecolor rgb '#d62728'"));
  EXPECT_TRUE(Contains(script, "\namdahl_f3 = 0.25\n"));
  EXPECT_TRUE(Contains(script,
                       "amdahl_s3 / (amdahl_f3 + (1 - amdahl_f3) / (x < 8 ? x : 8))) with lines "
                       "linecolor "
                       "rgb '#2ca02c' linewidth 0.75 title 'spread, Amdahl fit, f = 0.25'"))
      << "the fit must stay flat past the 8 processors";
  EXPECT_FALSE(Contains(script, "amdahl_f2")) << "a fit for a curve without f";
  EXPECT_TRUE(Contains(script, "\namdahl_s3 = 1\n")) << "no fit's T(1): drawn as it is";
}

TEST(PlotScriptTest, KeyNamesAreCutBetweenCharactersAndCannotReverseTheKey) {
  const std::string long_name = std::string(39, 'x') + "ж-rack-17";
  EXPECT_EQ(ShortName(long_name), std::string(39, 'x') + "…") << "a UTF-8 character cut in two";
  EXPECT_EQ(ShortName("node-1"), "node-1");
  EXPECT_EQ(GnuplotString("a\u202Eb"), "'a\\u202Eb'") << "a raw override reverses the key";
}

TEST(PlotScriptTest, AmdahlCurveStartsWhereTheSpeedupsAgainstTheSerialTimeDo) {
  // T(1) = a + b = 0.05 s, serial 0.059 s: the fit's speedup at one thread is 1.18, not 1.
  Figures figures = SomeFigures();
  figures.serial.median = 0.059;
  figures.amdahl.a = 0.01;
  figures.amdahl.b = 0.04;
  PlotRequest request = Request(figures);
  request.curves[0].serial_fraction = 0.2;
  const std::string script = PlotScript(request, "chart.svg");
  EXPECT_TRUE(Contains(script, "\namdahl_s1 = 1.18\n")) << script;
  EXPECT_TRUE(Contains(script, "amdahl_s1 / (amdahl_f1 + (1 - amdahl_f1)"));
}

TEST(PlotScriptTest, KeyBelowThePlotsHasRoomForEightCurves) {
  const Figures figures = SomeFigures();
  PlotRequest request = Request(figures);
  request.curves[0].serial_fraction = 0.01;
  for (int i = 1; i < 8; ++i) request.curves.push_back({"node", &figures, 0.01});
  const std::string script = PlotScript(request, "chart.svg");
  const int rows = std::stoi(script.substr(script.find("maxrows ") + 8));
  EXPECT_GE(rows * 3, 17) << "16 curve entries and the ideal line in three columns";
  EXPECT_GE(std::stoi(script.substr(script.find("set bmargin ") + 12)), rows + 3);
  EXPECT_FALSE(Contains(script, "opaque"));
}

// A private folder per test with TMPDIR inside it, and a fake gnuplot alone on PATH.
class WritePlotTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "plot_test-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    root_ = name;
    for (const char* folder : {"tmp", "out", "bin"}) fs::create_directory(root_ / folder);
    setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
    request_.path = (root_ / "out" / "chart.svg").string();
  }
  void TearDown() override {
    setenv("PATH", path_.c_str(), 1);
    unsetenv("TMPDIR");
    fs::remove_all(root_);
  }
  void FakeGnuplot(const std::string& body = "printf '<svg>new</svg>' > chart.svg\n") {
    std::ofstream(root_ / "bin" / "gnuplot") << "#!/bin/sh\n" << body;
    fs::permissions(root_ / "bin" / "gnuplot", fs::perms::owner_all);
    setenv("PATH", (root_ / "bin").c_str(), 1);
  }

  fs::path root_;
  const std::string path_ = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  const Figures figures_ = SomeFigures();
  PlotRequest request_ = Request(figures_);
};

TEST_F(WritePlotTest, HostilePathGetsTheChartAndHostileTextRunsNothing) {
  if (!GnuplotInstalled()) GTEST_SKIP() << "gnuplot not installed";
  const std::string marker = (root_ / "PWNED").string();
  const std::string hostile = "x\nsystem \"touch " + marker + "\"\n`touch " + marker + "`'\"";
  const fs::path folder = root_ / "out" / (hostile + " -e ü");
  fs::create_directories(folder);
  request_.curves[0].name = request_.title = hostile;
  request_.path = (folder / "-e `x` $'y'.svg").string();
  EXPECT_EQ(WritePlot(request_).message, "");
  EXPECT_TRUE(Contains(ReadFile(request_.path), "ideal on 8 processors"));
  EXPECT_FALSE(fs::exists(marker)) << "gnuplot ran a command from the chart's texts or path";
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"-e `x` $'y'.svg"});
  EXPECT_TRUE(Entries(root_ / "tmp").empty()) << "temporary folder left behind";
}

TEST_F(WritePlotTest, GnuplotGetsOnlyTheScriptNameInAPrivateFolder) {
  const fs::path seen = root_ / "seen";
  FakeGnuplot("echo $# \"$@\" \"$PWD\" > '" + seen.string() +
              "'; printf '<svg></svg>' > chart.svg\n");
  request_.path = (root_ / "out" / "-e.svg").string();
  ASSERT_EQ(WritePlot(request_).message, "");
  const std::string prefix = "1 chart.gp " + (root_ / "tmp" / "matbench-plot-").string();
  EXPECT_EQ(ReadFile(seen).rfind(prefix, 0), 0u) << ReadFile(seen);
  EXPECT_TRUE(Entries(root_ / "tmp").empty()) << "temporary folder left behind";
}

TEST_F(WritePlotTest, ChartIntoAnExistingFolderReplacesOnlyTheChart) {
  FakeGnuplot();
  std::ofstream(root_ / "out" / "chart.gp") << "mine";
  std::ofstream(root_ / "out" / "chart.svg") << std::string(1000, 'o');
  ASSERT_EQ(WritePlot(request_).message, "");
  EXPECT_EQ(Entries(root_ / "out"), (std::vector<std::string>{"chart.gp", "chart.svg"}));
  EXPECT_EQ(ReadFile(root_ / "out" / "chart.gp"), "mine");
  EXPECT_EQ(ReadFile(request_.path), "<svg>new</svg>") << "old chart's tail left in place";
  fs::remove(request_.path);
  const mode_t saved = umask(027);
  const PlotResult result = WritePlot(request_);
  umask(saved);
  ASSERT_EQ(result.message, "");
  struct stat status;
  ASSERT_EQ(stat(request_.path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u) << "umask not honoured";
}

TEST_F(WritePlotTest, UnwritablePathGivesOneMessageNamingIt) {
  FakeGnuplot();
  request_.path = (root_ / "out" / "no\nfolder" / "chart.svg").string();
  const PlotResult result = WritePlot(request_);
  EXPECT_TRUE(result.Failed());
  EXPECT_TRUE(Contains(result.message, (root_ / "out").string() + "/no\\x0Afolder/chart.svg\""))
      << result.message;
  EXPECT_FALSE(Contains(result.message, "\n"));
  EXPECT_TRUE(Entries(root_ / "tmp").empty()) << "temporary folder left behind";
}

TEST_F(WritePlotTest, GnuplotFailureGivesItsFirstErrorLineEscaped) {
  FakeGnuplot("printf ' plot x\\n   ^\\n\"chart.gp\" line 3: bad \\001 x\\nmore\\n' >&2; exit 1\n");
  const PlotResult result = WritePlot(request_);
  EXPECT_TRUE(result.Failed());
  EXPECT_EQ(result.message, "gnuplot failed (exit status 1): \"chart.gp\" line 3: bad \\x01 x");
  EXPECT_TRUE(Entries(root_ / "out").empty()) << "a chart written after a failure";
  EXPECT_TRUE(Entries(root_ / "tmp").empty()) << "temporary folder left behind";
}

TEST_F(WritePlotTest, MissingGnuplotKeepsASelfContainedScriptAndSaysHowToDrawIt) {
  setenv("PATH", (root_ / "bin").c_str(), 1);
  const PlotResult result = WritePlot(request_);
  setenv("PATH", path_.c_str(), 1);
  // Catches a missing gnuplot reported as a failure, or as a chart drawn.
  EXPECT_EQ(result.outcome, PlotResult::Outcome::kGnuplotMissing);
  EXPECT_FALSE(result.Failed());
  EXPECT_TRUE(Contains(result.message, "gnuplot is not installed")) << result.message;
  EXPECT_TRUE(Entries(root_ / "out").empty()) << "something written beside the chart";
  const std::vector<std::string> kept = Entries(root_ / "tmp");
  ASSERT_EQ(kept.size(), 1u);
  const fs::path folder = root_ / "tmp" / kept[0];
  EXPECT_TRUE(Contains(result.message, "cd " + folder.string() + " && gnuplot chart.gp"));
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"chart.gp"});
  if (!GnuplotInstalled()) return;
  ASSERT_EQ(std::system(("cd '" + folder.string() + "' && gnuplot chart.gp").c_str()), 0);
  EXPECT_EQ(ReadFile(folder / "chart.svg").rfind("<?xml", 0), 0u);
}

TEST(ChartTest, OnlyAWholeChartCountsAsDrawn) {
  // A chart cut short in a full temporary folder was copied and reported as drawn.
  const std::string png_end = std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
  const std::string png_start = "\x89PNG\r\n\x1A\n";
  const struct {
    const char* name;
    std::string chart;
    bool svg;
    bool whole;
  } cases[] = {
      {"whole SVG", "<svg>\n<g/>\n</svg>\n", true, true},
      {"SVG cut short", "<svg>\n<g/>\n</sv", true, false},
      {"SVG cut at a tag's end", "<svg>\n<g/>\n", true, false},
      {"whole PNG", png_start + "IHDR....IDAT...." + png_end, false, true},
      {"PNG cut before IEND", png_start + "IHDR....IDAT....", false, false},
      {"PNG cut inside IEND", png_start + "IHDR...." + png_end.substr(0, 9), false, false},
      {"no PNG at all", "IHDR" + png_end, false, false},
      {"empty", "", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ChartIsWhole(c.chart, c.svg), c.whole);
  }
}

TEST_F(WritePlotTest, InterruptWhileDrawingLeavesNoChart) {
  // An interrupt while gnuplot drew was recorded and ignored: the chart was copied all the same.
  ASSERT_TRUE(InstallInterruptHandlers());
  const struct {
    const char* name;
    std::string gnuplot;
  } cases[] = {
      {"during the drawing", "printf '<svg></svg>' > chart.svg; kill -TERM $PPID; sleep 10\n"},
      {"after the drawing, before the copy",
       "printf '<svg></svg>' > chart.svg; kill -TERM $PPID\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeGnuplot(c.gnuplot);
    const auto start = std::chrono::steady_clock::now();
    const PlotResult result = WritePlot(request_);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ResetInterruptForTesting();
    EXPECT_TRUE(result.Failed());
    EXPECT_TRUE(Contains(result.message, "interrupted by SIGTERM")) << result.message;
    EXPECT_LT(seconds, 5);
    EXPECT_FALSE(fs::exists(request_.path)) << "a chart was written after the interrupt";
    EXPECT_TRUE(Entries(root_ / "out").empty()) << "something was left beside the chart";
  }
}

}  // namespace
}  // namespace speedup
