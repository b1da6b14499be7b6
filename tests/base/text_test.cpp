#include "base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace speedup {
namespace {

using namespace std::string_literals;

struct TextCase {
  std::string input;
  std::string printable;  // what a terminal may be shown
  std::string valid;      // what a JSON writer may be given
};

// Each row is a way hostile bytes could move a cursor, hide text or break a UTF-8 writer.
TEST(TextTest, HostileBytesAreShownEscapedAndUtf8IsRepaired) {
  const std::vector<TextCase> cases = {
      {"plain n1", "plain n1", "plain n1"},
      {"\x1b]0;title\x07", "\\x1B]0;title\\x07", "\x1b]0;title\x07"},  // terminal title escape
      {"\x1b[2J", "\\x1B[2J", "\x1b[2J"},                              // clear screen
      {"a\0b"s, "a\\x00b", "a\0b"s},                                   // NUL hiding the rest
      {"del\x7f", "del\\x7F", "del\x7f"},
      {"\xc2\x9b"
       "31m",
       "\\x9B31m",
       "\xc2\x9b"
       "31m"},                                                 // C1 CSI, encoded as UTF-8
      {"\xff\xfe", "\\xFF\\xFE", "\\xFF\\xFE"},                // bytes outside UTF-8
      {"\xc0\xaf", "\\xC0\\xAF", "\\xC0\\xAF"},                // overlong '/'
      {"\xed\xa0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},  // a surrogate
      {"\xe2\x82", "\\xE2\\x82", "\\xE2\\x82"},                // a sequence cut short
      {"узел ×2", "узел ×2", "узел ×2"},                       // well-formed text stays as it is
      // Bidirectional controls reorder what follows ("exe.txt" shown for "txt.exe"), and the
      // line and paragraph separators break a line where none is seen.
      {"a\u202Etxt.exe", "a\\u202Etxt.exe", "a\u202Etxt.exe"},
      {"\u2066x\u2069\u200F\u061C", "\\u2066x\\u2069\\u200F\\u061C", "\u2066x\u2069\u200F\u061C"},
      {"one\u2028two\u2029", "one\\u2028two\\u2029", "one\u2028two\u2029"},
      {"\u202A\u202B\u202C\u202D\u200E", "\\u202A\\u202B\\u202C\\u202D\\u200E",
       "\u202A\u202B\u202C\u202D\u200E"},
      {"\u2027\u202F\u2065", "\u2027\u202F\u2065", "\u2027\u202F\u2065"},  // neighbours stay
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(Printable(c.input));
    EXPECT_EQ(Printable(c.input), c.printable);
    EXPECT_EQ(ValidUtf8(c.input), c.valid);
    EXPECT_EQ(Quoted(c.input), "\"" + c.printable + "\"");
  }
}

TEST(TextTest, CutsByCodePointsNeverInsideACharacter) {
  struct CutCase {
    std::string text;
    std::size_t columns;
    std::string cut;
  };
  const std::vector<CutCase> cases = {
      {"abcdef", 6, "abcdef"},   {"abcdef", 4, "abc…"},
      {"ábcdéf", 4, "ábc…"},     {"ab  cdef", 4, "ab…"},  // no space before the ellipsis
      {"узел-узел", 5, "узел…"},
  };
  for (const CutCase& c : cases) {
    SCOPED_TRACE(c.text + " to " + std::to_string(c.columns));
    const std::string cut = Cut(c.text, c.columns);
    EXPECT_EQ(cut, c.cut);
    EXPECT_LE(Columns(cut), c.columns);
    EXPECT_EQ(ValidUtf8(cut), cut);
  }
}

TEST(TextTest, TableColumnsAndQuotedExcerptsNeverSplitACharacter) {
  // printf's "%-16.16s" counts bytes: it cut "узел-…" inside a letter and padded it short.
  const struct {
    std::string text;
    std::size_t columns;
    std::string padded;
  } columns[] = {
      {"n1", 4, "n1  "},     {"abcdef", 4, "abcd"}, {"узел-узел", 6, "узел-у"},
      {"узел", 6, "узел  "}, {"", 2, "  "},
  };
  for (const auto& c : columns) {
    SCOPED_TRACE(c.text + " in " + std::to_string(c.columns));
    EXPECT_EQ(Padded(c.text, c.columns), c.padded);
    EXPECT_EQ(Columns(Padded(c.text, c.columns)), c.columns);
  }
  const struct {
    std::string text;
    std::size_t bytes;
    std::string excerpt;
  } excerpts[] = {
      {"abcdef", 6, "abcdef"}, {"abcdef", 3, "abc…"},
      {"аб", 3, "а…"},  // the second letter's first byte left out with it
      {"аб", 2, "а…"},         {std::string(1'000'000, 'x'), 5, "xxxxx…"},
  };
  for (const auto& c : excerpts) {
    SCOPED_TRACE(c.text.substr(0, 20) + " to " + std::to_string(c.bytes));
    EXPECT_EQ(Excerpt(c.text, c.bytes), c.excerpt);
  }
}

TEST(TextTest, FittedLinesStayWithinTheirWidthAndCutTheLongestPartFirst) {
  const std::string line = FitLine({"host n1", std::string(80, 'x'), "kernel 6.1"}, "; ", 40);
  EXPECT_EQ(Columns(line), 40u);
  EXPECT_EQ(line.rfind("host n1; x", 0), 0u) << line;
  EXPECT_NE(line.find("…; kernel 6.1"), std::string::npos) << line;
  // Many short parts from a hostile file: the whole line is cut.
  const std::vector<std::string> parts(60, "part");
  EXPECT_LE(Columns(FitLine(parts, ", ", 100)), 100u);
}

TEST(TextTest, CountsAndSizesReadAsWords) {
  EXPECT_EQ(CountText(1, "run", "runs"), "1 run");
  EXPECT_EQ(CountText(0, "run", "runs"), "0 runs");
  EXPECT_EQ(ByteCountText(1), "1 byte");
  EXPECT_EQ(ByteCountText(1000), "1000 bytes");
  EXPECT_EQ(ByteCountText(std::size_t{1} << 20), "1 MiB");
  EXPECT_EQ(ByteCountText(1310720), "1280 KiB");
  EXPECT_EQ(FixedText(std::nullopt, 3), "—");
  EXPECT_EQ(FixedText(0.0625, 3), "0.062");  // round half to even, as printf does
  EXPECT_EQ(NumberText(0.1), "0.1");
  EXPECT_EQ(std::stod(NumberText(1.0 / 3.0)), 1.0 / 3.0);  // reads back exactly
  EXPECT_EQ(PercentText(0.02), "2.0%");
}

TEST(TextTest, SplitsLinesWithAnUnfinishedLastOne) {
  EXPECT_EQ(SplitLines("a\nb\n"), (std::vector<std::string_view>{"a", "b"}));
  EXPECT_EQ(SplitLines("a\n\nb"), (std::vector<std::string_view>{"a", "", "b"}));
  EXPECT_TRUE(SplitLines("").empty());
}

}  // namespace
}  // namespace speedup

namespace speedup {
namespace {

TEST(TextTest, CsvFieldsNeverStartAFormula) {
  // merge --csv wrote node, job and file cells beginning "=", "+" or "-", which a spreadsheet
  // runs as formulas (OWASP's CSV injection); a tab or CR first does so in some of them.
  const struct {
    std::string text, field;
  } cases[] = {
      {"node01", "\"node01\""},
      {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+1+cmd|' /C calc'!A0", "\"'+1+cmd|' /C calc'!A0\""},
      {"-2+3", "\"'-2+3\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\tx", "\"'\\x09x\""},
      {"\rx", "\"'\\x0Dx\""},
      {"a=b", "\"a=b\""},  // only the first character makes a formula
      {"", "\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CsvField(c.text), c.field);
  }
}

TEST(TextTest, MarkdownTextPassesNoHtmlAndNoMarkup) {
  // --export-markdown passed "<img src=x onerror=...>" and "<!--", which hides the rest of the
  // page where Markdown is shown, through as they were.
  const struct {
    std::string text, markdown;
  } cases[] = {
      {"node01", "node01"},
      {"<img src=x onerror=alert(1)>", "&lt;img src=x onerror=alert(1)&gt;"},
      {"<!-- hidden", "&lt;\\!-- hidden"},
      {"a & b", "a &amp; b"},
      {"[link](http://x) ![i](y)", "\\[link\\](http://x) \\!\\[i\\](y)"},
      {"*bold* _it_ `code` ~x~ a|b \\", "\\*bold\\* \\_it\\_ \\`code\\` \\~x\\~ a\\|b \\\\"},
      {"\x1b[2J", "\\\\x1B\\[2J"},  // shown as \x1B[2J
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MarkdownText(c.text), c.markdown);
  }
}

}  // namespace
}  // namespace speedup
