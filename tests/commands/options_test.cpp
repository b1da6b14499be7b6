#include "commands/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "speedup_support.h"

namespace speedup {
namespace {

struct OptionsCase {
  std::vector<std::string> args;
  const char* error;  // expected in the message; empty when the arguments are good
};

TEST(OptionsTest, RefusesBadArgumentsWithAMessageNamingThem) {
  const OptionsCase cases[] = {
      {{"--runs", "3", "--json", "--plot=chart.svg"}, ""},
      {{"--input", "-", "--csv"}, ""},
      {{"--frobnicate"}, "--frobnicate"},
      {{"--runs"}, "--runs needs a value"},
      {{"--runs", "0"}, "\"0\""},
      {{"--runs", "abc"}, "\"abc\""},
      {{"--runs", "5x"}, "\"5x\""},
      {{"--runs", "99999999999"}, "99999999999"},
      {{"--csv", "--json"}, "excludes"},
      {{"--runs", "3", "--runs", "4"}, "--runs given more than once"},
      {{"--input", "a", "--input", "b"}, "--input given more than once"},
      {{"--precision", "2%", "--max-runs=50", "--time-limit", "5m"}, ""},
      {{"--precision", "150%"}, "\"150%\""},
      {{"--precision", "2"}, "\"2\""},
      {{"--max-runs", "50"}, "--precision"},
      {{"--time-limit", "-3"}, "\"-3\""},
      {{"--run-timeout", "soon"}, "\"soon\""},
      {{"--bind", "close,spread"}, ""},
      {{"--bind", "close,nearby"}, "\"close,nearby\""},
      {{"--bind", "close,close"}, "twice"},
      // Ignored silently: the session ran without the placement study asked for.
      {{"--bind", ""}, "--bind needs a value"},
      // Named in reverse order, as CLI11 is given the arguments reversed.
      {{"first", "second"}, "unknown arguments \"first\" \"second\""},
      {{"merge", "a.json", "--x1", "--x2"}, "unknown arguments \"--x1\" \"--x2\""},
      {{"--processors", "4"}, "--input"},
      {{"--input", "x.txt", "--processors", "0"}, "\"0\""},
      {{"compare", "a.json", "b.json", "--json", "--fail-if-slower", "5%"}, ""},
      {{"compare", "a.json"}, "BASE_AND_NEW"},
      {{"compare", "a.json", "b.json", "--runs", "3"}, "does not apply"},
      {{"--runs", "\x1b[2J"}, "\\x1B[2J"},
      {{"--input", "saved.txt", "--runs", "2"}, "--input"},
      {{"--plot", "chart.pdf"}, ".svg or .png"},
      {{"extra"}, "\"extra\""},
      {{"--export-json"}, "--export-json needs a value"},
      {{"--export-csv", "a.csv", "--export-markdown", "a.csv"}, "another export writes"},
      {{"compare", "a.json", "b.json", "--export-json", "c.json"}, "does not apply"},
      {{"merge", "a.json", "--export-markdown", "c.md"}, "does not apply"},
      {{"--bind", "close,spread", "--export-csv", "c.csv"}, "--bind"},
      {{"--fail-if-unsettled"}, "--precision"},
      {{"--precision", "2%", "--fail-if-unsettled"}, ""},
      {{"compare", "a.json", "b.json", "--plot", "c.svg", "--csv"}, ""},
      {{"merge", "a.json", "b.json", "--json", "--plot=f.png"}, ""},
      {{"merge", "a.json", "--csv", "--json"}, "excludes"},
      {{"compare", "a.json", "b.json", "--plot", "c.pdf"}, ".svg or .png"},
      {{"merge", "a.json", "--long-csv"}, "no --long-csv"},
      {{"--html"}, "--html needs a value"},
      {{"--html="}, "--html needs a value"},
  };
  for (const OptionsCase& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += (shown.empty() ? "" : " ") + arg;
    SCOPED_TRACE(shown);
    Options options;
    const std::string error = MessageOf(ParseOptions(c.args, options));
    if (*c.error == '\0') {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}

// Short forms, the warm-up and a near miss: what a user of hyperfine types.
TEST(OptionsTest, ShortFormsWarmUpAndNearMissesAreUnderstood) {
  const struct {
    std::vector<std::string> args;
    int runs, warmup;
    const char* error;  // expected in the message; empty when the arguments are good
  } cases[] = {
      {{"-r", "4", "-w", "2"}, 4, 2, ""},
      {{"--runs=5", "--warmup=0"}, 5, 0, ""},
      {{"trace", "-r", "3"}, 3, 0, ""},
      {{"--warmup", "-1"}, 0, 0, "--warmup needs a whole number from 0"},
      {{"--warmup", "x"}, 0, 0, "\"x\""},
      // A warm-up belongs to a measured session.
      {{"--input", "s.json", "-w", "1"}, 0, 0, "--input"},
      {{"compare", "a.json", "b.json", "--warmup", "1"}, 0, 0, "does not apply"},
      {{"trace", "--warmup", "1"}, 0, 0, "does not apply"},
      // The nearest option within two edits, a swap of neighbours being one.
      {{"--rusn", "3"}, 0, 0, "did you mean --runs?"},
      {{"--warm", "3"}, 0, 0, "did you mean --warmup?"},
      {{"--export-jsno=x.json"}, 0, 0, "did you mean --export-json?"},
      {{"compre", "a.json", "b.json"}, 0, 0, "did you mean compare?"},
      {{"trace", "--timline", "t.svg"}, 0, 0, "did you mean --timeline?"},
      // Nothing near: no guess.
      {{"--frobnicate"}, 0, 0, "unknown argument \"--frobnicate\" (end)"},
      {{"--x"}, 0, 0, "unknown argument \"--x\" (end)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    Options options;
    const std::string error = MessageOf(ParseOptions(c.args, options));
    if (*c.error == '\0') {
      ASSERT_EQ(error, "");
      EXPECT_EQ(options.plan.runs, c.runs);
      EXPECT_EQ(options.plan.warmup, c.warmup);
    } else {
      EXPECT_NE((error + " (end)").find(c.error), std::string::npos) << error;
    }
  }
}

// trace's help once left out the session options it takes; the manual page is made from
// --help-all, which must hold every command's options.
TEST(OptionsTest, TraceHelpAndHelpAllListEveryOptionTaken) {
  Options trace;
  ASSERT_EQ(MessageOf(ParseOptions({"trace", "--help"}, trace)), "");
  for (const char* option : {"--runs N", "--bench FILE", "--json", "--plot FILE", "--html FILE",
                             "--out FOLDER", "--timeline FILE"}) {
    EXPECT_NE(trace.help_text.find(option), std::string::npos) << option;
  }
  Options all;
  ASSERT_EQ(MessageOf(ParseOptions({"--help-all"}, all)), "");
  for (const char* option : {"--warmup N", "--fail-if-slower FRACTION", "--team N", "--chrome FILE",
                             "--otf2 FOLDER", "BASE_AND_NEW"}) {
    EXPECT_NE(all.help_text.find(option), std::string::npos) << option;
  }
}

// Each export lands in Options with its format, in the order of the formats: the session command
// writes exactly these files.
TEST(OptionsTest, EveryExportOptionNamesItsFormatAndFile) {
  Options options;
  ASSERT_EQ(MessageOf(ParseOptions({"--export-markdown", "m.md", "--export-long-csv", "l.csv",
                                    "--json", "--export-csv", "c.csv", "--export-json", "j.json"},
                                   options)),
            "");
  EXPECT_EQ(options.format, OutputFormat::kJson);  // standard output keeps its own format
  const std::pair<OutputFormat, const char*> expected[] = {{OutputFormat::kJson, "j.json"},
                                                           {OutputFormat::kCsv, "c.csv"},
                                                           {OutputFormat::kLongCsv, "l.csv"},
                                                           {OutputFormat::kMarkdown, "m.md"}};
  ASSERT_EQ(options.exports.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].second);
    EXPECT_EQ(options.exports[i].format, expected[i].first);
    EXPECT_EQ(options.exports[i].path, expected[i].second);
  }
}

// compare and merge take the report options into the same values as a session does.
TEST(OptionsTest, CompareAndMergeTakeTheReportFormatsAndThePlot) {
  const std::pair<std::vector<std::string>, OutputFormat> cases[] = {
      {{"compare", "a.json", "b.json", "--csv", "--plot", "c.svg"}, OutputFormat::kCsv},
      {{"merge", "a.json", "--json", "--plot", "c.svg"}, OutputFormat::kJson},
      {{"--json", "merge", "a.json", "--plot", "c.svg"}, OutputFormat::kJson},
  };
  for (const auto& [args, format] : cases) {
    SCOPED_TRACE(args[0] + " " + args[2]);
    Options options;
    EXPECT_EQ(MessageOf(ParseOptions(args, options)), "");
    EXPECT_EQ(options.format, format);
    EXPECT_EQ(options.plot, "c.svg");
  }
}

TEST(OptionsTest, VersionNamesTheToolAndItsVersion) {
  Options options;
  ASSERT_EQ(MessageOf(ParseOptions({"--version"}, options)), "");
  EXPECT_EQ(options.help_text.rfind("matbench-speedup ", 0), 0u) << options.help_text;
  EXPECT_EQ(options.help_text.back(), '\n');
}

// A value shown as TEXT says nothing of what it takes; compare and merge list their formats.
TEST(OptionsTest, HelpNamesWhatEveryValueTakesAndEveryFormatThatWorks) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"compare", "--help"}, {"merge", "--help"}}) {
    SCOPED_TRACE(args.front());
    Options options;
    ASSERT_EQ(MessageOf(ParseOptions(args, options)), "");
    EXPECT_EQ(options.help_text.find(" TEXT"), std::string::npos) << options.help_text;
    for (const char* format : {"--csv", "--json", "--plot FILE"}) {
      EXPECT_NE(options.help_text.find(format), std::string::npos) << format;
    }
  }
  Options options;
  ASSERT_EQ(MessageOf(ParseOptions({"--help"}, options)), "");
  // The first run's limit as the session loop applies it.
  const std::string first_timeout = "(default " +
                                    std::to_string(static_cast<int>(FIRST_RUN_TIMEOUT_SECONDS)) +
                                    " s for the first";
  for (const std::string& named :
       {std::string("--runs N"), std::string("--precision FRACTION"),
        std::string("--time-limit DURATION"), std::string("--run-timeout DURATION"),
        std::string("--input FILE"), std::string("--export-markdown FILE"), first_timeout}) {
    EXPECT_NE(options.help_text.find(named), std::string::npos) << named;
  }
}

// The page is one option of the top-level command, so it applies to every command, wherever it
// stands on the line.
TEST(OptionsTest, HtmlPageAppliesToEveryCommand) {
  const struct {
    std::vector<std::string> args;
    Command command;
  } cases[] = {
      {{"--html", "page.html", "--input", "s.json"}, Command::kSession},
      {{"compare", "a.json", "b.json", "--html", "page.html"}, Command::kCompare},
      {{"--html=page.html", "merge", "a.json", "b.json"}, Command::kMerge},
      {{"trace", "--input", "folder", "--html", "page.html"}, Command::kTrace},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    Options options;
    EXPECT_EQ(MessageOf(ParseOptions(c.args, options)), "");
    EXPECT_EQ(options.command, c.command);
    EXPECT_EQ(options.html, "page.html");
  }
}

}  // namespace
}  // namespace speedup
