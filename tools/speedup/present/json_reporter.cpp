#include "present/json_reporter.h"

#include <nlohmann/json.hpp>

#include "present/reporter.h"
#include "present/trace_report.h"
#include "present/words.h"
#include "session/session_json.h"

namespace speedup {
namespace {

// JSON has no "missing number": an undefined figure is null.
nlohmann::ordered_json JsonNumber(const std::optional<double>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json EstimateJson(const Estimate& estimate) {
  return {{"median", JsonNumber(estimate.median)},
          {"low", JsonNumber(estimate.low)},
          {"high", JsonNumber(estimate.high)},
          {"confidence", estimate.confidence},
          {"iqr", estimate.iqr},
          {"outliers", estimate.outliers}};
}

nlohmann::ordered_json FiguresJson(const Figures& figures) {
  nlohmann::ordered_json teams = nlohmann::ordered_json::array();
  for (const TeamFigures& team : figures.teams) {
    teams.push_back({{"threads", team.threads},
                     {"seconds", EstimateJson(team.seconds)},
                     {"speedup_vs_serial", EstimateJson(team.speedup_vs_serial)},
                     {"speedup_vs_one_thread", EstimateJson(team.speedup_vs_one_thread)},
                     {"efficiency", EstimateJson(team.efficiency)},
                     {"median_serial_over_median_time", JsonNumber(team.ratio_of_medians)},
                     {"karp_flatt",
                      {{"median", JsonNumber(team.karp_flatt)},
                       {"low", JsonNumber(team.karp_flatt_low)},
                       {"high", JsonNumber(team.karp_flatt_high)}}},
                     {"oversubscribed", team.oversubscribed},
                     {"too_short", team.too_short},
                     {"noisy", team.noisy}});
  }
  return {{"runs", figures.runs},
          {"clock_tick_s", figures.tick.seconds},
          {"clock_tick_found", figures.tick.found},
          {"serial_seconds", EstimateJson(figures.serial)},
          {"serial_too_short", figures.serial_too_short},
          {"drift",
           {{"rho", JsonNumber(figures.drift.rho)},
            {"p_value", JsonNumber(figures.drift.p_value)},
            {"warn", figures.drift.warn},
            {"judged", figures.drift.judged}}},
          {"amdahl_fit",
           {{"team_sizes", figures.amdahl.team_sizes},
            {"describes_runs", figures.amdahl.shape == AmdahlFit::Shape::kFraction},
            {"a_s", JsonNumber(figures.amdahl.a)},
            {"b_s", JsonNumber(figures.amdahl.b)},
            {"serial_fraction", JsonNumber(figures.amdahl.serial_fraction)},
            {"low", JsonNumber(figures.amdahl.low)},
            {"high", JsonNumber(figures.amdahl.high)},
            {"speedup_limit", JsonNumber(figures.amdahl.limit)},
            {"seed", figures.amdahl.seed},
            {"resamples", figures.amdahl.resamples}}},
          {"team_sizes", teams}};
}

}  // namespace

std::string JsonText(const nlohmann::ordered_json& json, int indent, JsonEnd end) {
  return json.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace) +
         (end == JsonEnd::kLineFeed ? "\n" : "");
}

nlohmann::ordered_json SessionJson(const Session& session, const Figures& figures,
                                   const std::vector<Warning>& warnings) {
  nlohmann::ordered_json json = SessionRecord(session);
  std::vector<std::string> texts;
  for (const Warning& warning : warnings) texts.push_back(WarningText(warning));
  json["warnings"] = texts;
  json["figures"] = FiguresJson(figures);
  return json;
}

nlohmann::ordered_json ComparisonJson(const Comparison& comparison, const std::string& base_name,
                                      const std::string& new_name) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const RowComparison& row : comparison.rows) {
    rows.push_back({{"threads", RowLabel(row.threads)},
                    {"base_median_s", row.base_median},
                    {"new_median_s", row.new_median},
                    {"ratio", row.ratio},
                    {"ratio_low", row.ratio_low},
                    {"ratio_high", row.ratio_high},
                    {"confidence", row.confidence},
                    {"p_value", row.p_value},
                    {"p_holm", row.p_holm},
                    {"verdict", VerdictText(row.verdict)}});
  }
  return {{"base", base_name},
          {"new", new_name},
          {"base_runs", comparison.base_runs},
          {"new_runs", comparison.new_runs},
          {"verdict_possible", comparison.verdict_possible},
          {"smallest_holm_p", comparison.smallest_holm_p},
          {"runs_for_verdict", comparison.runs_for_verdict},
          {"base_clock_tick_s", comparison.base_tick.seconds},
          {"new_clock_tick_s", comparison.new_tick.seconds},
          {"smallest_change", comparison.smallest_change},
          {"warnings", ComparisonWarnings(comparison)},
          {"rows", rows}};
}

namespace {

// One node of a fleet: its verdict against the others and its session.
nlohmann::ordered_json NodeJson(const NodeRow& node, bool node_figures) {
  const auto ratio = [](const RowComparison& row) {
    return nlohmann::ordered_json{{"ratio", row.ratio},
                                  {"low", row.ratio_low},
                                  {"high", row.ratio_high},
                                  {"p_value", row.p_value},
                                  {"p_holm", row.p_holm}};
  };
  nlohmann::ordered_json entry = {
      {"node", node.input.node},
      {"job",
       node.input.job ? nlohmann::ordered_json(*node.input.job) : nlohmann::ordered_json(nullptr)},
      {"file", node.input.file},
      {"merged", node.input.merged},
      {"problem", node.input.problem ? nlohmann::ordered_json(ProblemText(*node.input.problem))
                                     : nlohmann::ordered_json(nullptr)}};
  if (node.input.merged && node.figures.runs > 0) {
    entry["runs"] = node.figures.runs;
    entry["team"] = node.team;
    entry["serial_vs_others"] = ratio(node.serial);
    entry["speedup_vs_others"] = ratio(node.speedup);
    entry["verdict"] = NodeVerdictText(node);
    entry["session"] = SessionJson(node.input.session, node.figures, node.warnings);
    if (!node_figures) entry["session"].erase("figures");
  }
  return entry;
}

// The fleet's own figures and warnings, its nodes left to the caller (last, as "nodes").
nlohmann::ordered_json FleetHead(const Fleet& fleet) {
  const auto number = [](const std::optional<double>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
  };
  return {{"fleet",
           {{"serial_median_s", number(fleet.serial_median)},
            {"serial_min_s", number(fleet.serial_min)},
            {"serial_max_s", number(fleet.serial_max)},
            {"speedup_median", number(fleet.speedup_median)},
            {"speedup_min", number(fleet.speedup_min)},
            {"speedup_max", number(fleet.speedup_max)},
            {"clock_tick_s", fleet.tick.seconds},
            {"smallest_change", fleet.smallest_change}}},
          {"warnings", FleetWarnings(fleet)}};
}

}  // namespace

nlohmann::ordered_json FleetJson(const Fleet& fleet, bool node_figures) {
  nlohmann::ordered_json json = FleetHead(fleet);
  json["nodes"] = nlohmann::ordered_json::array();
  for (const NodeRow& node : fleet.nodes) json["nodes"].push_back(NodeJson(node, node_figures));
  return json;
}

std::string FleetJsonLine(const Fleet& fleet, bool node_figures) {
  nlohmann::ordered_json head = FleetHead(fleet);
  head["nodes"] = nlohmann::ordered_json::array();
  std::string text = JsonText(head, -1, JsonEnd::kNone);
  text.resize(text.size() - 2);  // the nodes' "]}"
  for (std::size_t i = 0; i < fleet.nodes.size(); ++i) {
    if (i > 0) text += ',';
    text += JsonText(NodeJson(fleet.nodes[i], node_figures), -1, JsonEnd::kNone);
  }
  return text + "]}\n";
}

namespace {

class JsonReporter : public Reporter {
 public:
  std::string SessionReport(const Session& session,
                            const SessionAnalysis& analysis) const override {
    return JsonText(SessionJson(session, analysis.figures, analysis.warnings));
  }
  std::string ComparisonReport(const Comparison& comparison, const std::string& base_name,
                               const std::string& new_name) const override {
    return JsonText(ComparisonJson(comparison, base_name, new_name));
  }
  std::string FleetReport(const Fleet& fleet) const override { return JsonText(FleetJson(fleet)); }
  std::string StudyReport(const std::vector<NamedSession>& sessions,
                          const std::vector<Comparison>& comparisons) const override {
    nlohmann::ordered_json json = {{"placements", nlohmann::ordered_json::array()},
                                   {"comparisons", nlohmann::ordered_json::array()}};
    for (const NamedSession& named : sessions) {
      json["placements"].push_back(
          SessionJson(*named.session, named.analysis->figures, named.analysis->warnings));
    }
    for (std::size_t i = 0; i < comparisons.size(); ++i) {
      json["comparisons"].push_back(
          ComparisonJson(comparisons[i], sessions[0].name, sessions[i + 1].name));
    }
    return JsonText(json);
  }
  std::string TraceReport(const TraceSession& session, const TraceFigures& figures) const override {
    return JsonText(TraceFiguresJson(session, figures));
  }
};

}  // namespace

std::unique_ptr<Reporter> MakeJsonReporter() { return std::make_unique<JsonReporter>(); }

}  // namespace speedup
