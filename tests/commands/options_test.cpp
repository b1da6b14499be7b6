#include "commands/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
      {{"--processors", "4"}, "--input"},
      {{"--input", "x.txt", "--processors", "0"}, "\"0\""},
      {{"compare", "a.json", "b.json", "--json", "--fail-if-slower", "5%"}, ""},
      {{"compare", "a.json"}, "BASE_AND_NEW"},
      {{"compare", "a.json", "b.json", "--runs", "3"}, "does not apply"},
      {{"--runs", "\x1b[2J"}, "\\x1B[2J"},
      {{"--input", "saved.txt", "--runs", "2"}, "--input"},
      {{"--plot", "chart.pdf"}, ".svg or .png"},
      {{"extra"}, "\"extra\""},
      {{"--html"}, "--html needs a value"},
      {{"--html="}, "--html needs a value"},
  };
  for (const OptionsCase& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += (shown.empty() ? "" : " ") + arg;
    SCOPED_TRACE(shown);
    Options options;
    const std::string error = ParseOptions(c.args, options);
    if (*c.error == '\0') {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
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
    EXPECT_EQ(ParseOptions(c.args, options), "");
    EXPECT_EQ(options.command, c.command);
    EXPECT_EQ(options.html, "page.html");
  }
}

}  // namespace
}  // namespace speedup
