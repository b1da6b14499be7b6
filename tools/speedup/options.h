#pragma once

#include <string>
#include <vector>

enum class OutputFormat { kTable, kCsv, kJson };

struct Options {
  std::string bench;  // benchmark to run; empty: the matbench beside this tool
  int runs = 5;
  std::string input;  // saved reports to read instead of running; "-": standard input
  OutputFormat format = OutputFormat::kTable;
  std::string plot;  // chart to draw, .svg or .png; empty: none
  bool help = false;
};

// Upper bound on --runs, so a typo cannot start a run of days.
inline constexpr int MAX_RUNS = 1000;

// Reads the arguments after the program name into `options`. Returns a message naming what
// was wrong, or an empty string.
std::string ParseOptions(const std::vector<std::string>& args, Options& options);

// How to call the tool.
extern const char* const USAGE;
