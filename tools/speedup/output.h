#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "figures.h"

// What the figures were measured under, for the reader and for the JSON.
struct RunContext {
  int processors = 0;                                             // as OpenMP counts them
  int runs = 0;                                                   // reports read or runs made
  int runs_passed = 0;                                            // the ones the figures are over
  std::string compiler;                                           // that built this tool
  std::vector<std::pair<std::string, std::string>> omp_settings;  // OMP_* variables set
};

// The figures as an aligned UTF-8 table with a legend for its marks.
std::string FormatTable(const Figures& figures, const RunContext& context);

// The figures as CSV with a header line; the serial row has "serial" as its team size and
// empty ratio fields, as has any ratio that is undefined.
std::string FormatCsv(const Figures& figures);

// The figures and the context as one JSON object; undefined ratios are null.
std::string FormatJson(const Figures& figures, const RunContext& context);

// `text` as a quoted JSON string, every character that needs it escaped.
std::string JsonString(std::string_view text);

// Shortest decimal text that reads back as exactly `value`.
std::string NumberText(double value);
