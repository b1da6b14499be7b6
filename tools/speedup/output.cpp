#include "output.h"

#include <charconv>
#include <cstdio>
#include <optional>

namespace {

// A ratio right-aligned in `width` columns, or a dash where it is undefined.
std::string RatioCell(const std::optional<double>& ratio, int width) {
  if (!ratio) return std::string(width - 1, ' ') + "—";
  char text[64];
  std::snprintf(text, sizeof text, "%*.2f", width, *ratio);
  return text;
}

// Team size (or "serial") and the three times of one table row.
std::string TimeCells(const std::string& label, const Summary& seconds) {
  char text[128];
  std::snprintf(text, sizeof text, "%7s%11.3f%10.3f%10.3f", label.c_str(), seconds.median,
                seconds.min, seconds.max);
  return text;
}

std::string OptionalNumber(const std::optional<double>& value, const char* absent) {
  return value ? NumberText(*value) : absent;
}

const char* Bool(bool value) { return value ? "true" : "false"; }

std::string SummaryJson(const Summary& seconds) {
  return "\"median_s\": " + NumberText(seconds.median) + ", \"min_s\": " + NumberText(seconds.min) +
         ", \"max_s\": " + NumberText(seconds.max) + ", \"too_short\": " + Bool(seconds.too_short);
}

}  // namespace

std::string NumberText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
          quoted += escape;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

std::string FormatTable(const Figures& figures, const RunContext& context) {
  std::string table = "matbench speedup over " + std::to_string(context.runs_passed) + " of " +
                      std::to_string(context.runs) + " runs, " +
                      std::to_string(context.processors) + " processors\n\n";
  table += "threads   median s     min s     max s   S vs serial  S vs 1 thread   efficiency\n";
  table += TimeCells("serial", figures.serial) + (figures.serial.too_short ? " ~" : "") + "\n";
  bool any_short = figures.serial.too_short;
  bool any_oversubscribed = false;
  for (const TeamFigures& team : figures.teams) {
    table += TimeCells(std::to_string(team.threads), team.seconds) +
             RatioCell(team.speedup_vs_serial, 14) + RatioCell(team.speedup_vs_one_thread, 15) +
             RatioCell(team.efficiency, 13) + (team.oversubscribed ? " *" : "") +
             (team.seconds.too_short ? " ~" : "") + "\n";
    any_short = any_short || team.seconds.too_short;
    any_oversubscribed = any_oversubscribed || team.oversubscribed;
  }
  table +=
      "\nS: the serial or one-thread median divided by the row's median; efficiency: S vs serial / "
      "threads.\n";
  if (any_oversubscribed) {
    table +=
        "* more threads than the " + std::to_string(context.processors) + " processors available\n";
  }
  if (any_short) {
    table += "~ a time below 20 ms: too short for the millisecond clock to measure well\n";
  }
  return table;
}

std::string FormatCsv(const Figures& figures) {
  std::string csv =
      "threads,median_s,min_s,max_s,speedup_vs_serial,speedup_vs_one_thread,efficiency,"
      "oversubscribed,too_short\n";
  const Summary& serial = figures.serial;
  csv += "serial," + NumberText(serial.median) + "," + NumberText(serial.min) + "," +
         NumberText(serial.max) + ",,,,false," + Bool(serial.too_short) + "\n";
  for (const TeamFigures& team : figures.teams) {
    csv += std::to_string(team.threads) + "," + NumberText(team.seconds.median) + "," +
           NumberText(team.seconds.min) + "," + NumberText(team.seconds.max) + "," +
           OptionalNumber(team.speedup_vs_serial, "") + "," +
           OptionalNumber(team.speedup_vs_one_thread, "") + "," +
           OptionalNumber(team.efficiency, "") + "," + Bool(team.oversubscribed) + "," +
           Bool(team.seconds.too_short) + "\n";
  }
  return csv;
}

std::string FormatJson(const Figures& figures, const RunContext& context) {
  std::string json = "{\n";
  json += "  \"processors\": " + std::to_string(context.processors) + ",\n";
  json += "  \"runs\": " + std::to_string(context.runs) + ",\n";
  json += "  \"runs_passed\": " + std::to_string(context.runs_passed) + ",\n";
  json += "  \"compiler\": " + JsonString(context.compiler) + ",\n";
  json += "  \"omp_environment\": {";
  for (std::size_t i = 0; i < context.omp_settings.size(); ++i) {
    json += (i == 0 ? "" : ", ") + JsonString(context.omp_settings[i].first) + ": " +
            JsonString(context.omp_settings[i].second);
  }
  json += "},\n";
  json += "  \"serial\": {" + SummaryJson(figures.serial) + "},\n";
  json += "  \"team_sizes\": [\n";
  for (std::size_t i = 0; i < figures.teams.size(); ++i) {
    const TeamFigures& team = figures.teams[i];
    json += "    {\"threads\": " + std::to_string(team.threads) + ", " + SummaryJson(team.seconds) +
            ", \"speedup_vs_serial\": " + OptionalNumber(team.speedup_vs_serial, "null") +
            ", \"speedup_vs_one_thread\": " + OptionalNumber(team.speedup_vs_one_thread, "null") +
            ", \"efficiency\": " + OptionalNumber(team.efficiency, "null") +
            ", \"oversubscribed\": " + Bool(team.oversubscribed) + "}" +
            (i + 1 < figures.teams.size() ? ",\n" : "\n");
  }
  json += "  ]\n}\n";
  return json;
}
