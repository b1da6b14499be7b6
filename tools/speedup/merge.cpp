#include "merge.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "io.h"
#include "output.h"
#include "plot.h"
#include "stats.h"
#include "text.h"

namespace {

// Log of each run's own speedup at `team` threads; runs without one are left out.
std::vector<double> LogSpeedups(const std::vector<RunReport>& reports, int team) {
  std::vector<double> logs;
  for (const RunReport& report : reports) {
    if (const auto speedup = Ratio(report.serial_seconds, report.parallel_seconds[team - 1])) {
      logs.push_back(std::log(*speedup));
    }
  }
  return logs;
}

std::string RatioText(const RowComparison& row) {
  char text[96];
  std::snprintf(text, sizeof text, "×%.3f [%.3f, %.3f]", row.ratio, row.ratio_low, row.ratio_high);
  return text;
}

void Spread(const std::vector<double>& values, std::optional<double>& median,
            std::optional<double>& low, std::optional<double>& high) {
  if (values.empty()) return;
  median = stats::Median(values);
  low = *std::min_element(values.begin(), values.end());
  high = *std::max_element(values.begin(), values.end());
}

}  // namespace

void JudgeFleet(Fleet& fleet) {
  std::vector<NodeRow*> judged;
  for (NodeRow& node : fleet.nodes) {
    if (node.merged && node.figures.runs > 0) judged.push_back(&node);
  }
  // The whole fleet is pooled and sorted once (once per team size judged, for the speedups);
  // each node is then set against the pool less its own runs, not against a fresh pool of the
  // others, which made a fleet's judging quadratic.
  std::vector<std::vector<RunReport>> passed;
  for (NodeRow* node : judged) passed.push_back(PassedReports(node->session));
  const auto pooled = [&](auto values_of) {
    std::vector<double> all;
    for (const std::vector<RunReport>& reports : passed) {
      const std::vector<double> values = values_of(reports);
      all.insert(all.end(), values.begin(), values.end());
    }
    return stats::MakePool(all);
  };
  const stats::Pool serial_pool =
      pooled([](const std::vector<RunReport>& reports) { return LogTimes(reports, 0); });
  std::map<int, stats::Pool> speedup_pools;
  for (NodeRow* node : judged) {
    if (speedup_pools.count(node->team) > 0) continue;
    speedup_pools[node->team] = pooled(
        [&](const std::vector<RunReport>& reports) { return LogSpeedups(reports, node->team); });
  }
  std::vector<double> serial_medians, speedup_medians, serial_p, speedup_p;
  for (std::size_t i = 0; i < judged.size(); ++i) {
    NodeRow* node = judged[i];
    node->serial = CompareLogsAgainstRest(serial_pool, LogTimes(passed[i], 0));
    node->speedup =
        CompareLogsAgainstRest(speedup_pools.at(node->team), LogSpeedups(passed[i], node->team));
    serial_p.push_back(node->serial.p_value);
    speedup_p.push_back(node->speedup.p_value);
    serial_medians.push_back(*node->figures.serial.median);
    if (const auto& s = node->figures.teams[node->team - 1].speedup_vs_serial.median) {
      speedup_medians.push_back(*s);
    }
  }
  const std::vector<double> serial_holm = stats::HolmAdjust(serial_p);
  const std::vector<double> speedup_holm = stats::HolmAdjust(speedup_p);
  for (std::size_t i = 0; i < judged.size(); ++i) {
    NodeRow& node = *judged[i];
    node.serial.p_holm = serial_holm[i];
    node.speedup.p_holm = speedup_holm[i];
    node.serial.verdict = Judge(node.serial.p_holm, node.serial.ratio_low, node.serial.ratio_high);
    // A higher speedup is the better one, so its verdict reads the other way round.
    node.speedup.verdict =
        Judge(node.speedup.p_holm, 1.0 / node.speedup.ratio_high, 1.0 / node.speedup.ratio_low);
    if (judged.size() < 2) {
      node.verdict = "alone: nothing to judge it against";
    } else if (node.serial.verdict == Verdict::kSlower ||
               node.speedup.verdict == Verdict::kSlower) {
      node.verdict = node.serial.verdict == Verdict::kSlower
                         ? "slower: serial " + RatioText(node.serial)
                         : "slower: speedup " + RatioText(node.speedup);
    } else if (node.serial.verdict == Verdict::kFaster ||
               node.speedup.verdict == Verdict::kFaster) {
      node.verdict = node.serial.verdict == Verdict::kFaster
                         ? "faster: serial " + RatioText(node.serial)
                         : "faster: speedup " + RatioText(node.speedup);
    } else {
      node.verdict = "like the fleet";
    }
  }
  Spread(serial_medians, fleet.serial_median, fleet.serial_min, fleet.serial_max);
  Spread(speedup_medians, fleet.speedup_median, fleet.speedup_min, fleet.speedup_max);
  for (NodeRow* node : judged) {
    if (node == judged.front()) continue;
    for (const std::string& difference :
         ContextDifferences(judged.front()->session.context, node->session.context)) {
      fleet.warnings.push_back("the fleet is not alike: " + Printable(node->node) + " against " +
                               Printable(judged.front()->node) + ": " + difference);
    }
  }
}

std::string FormatFleetTable(const Fleet& fleet) {
  int merged = 0;
  for (const NodeRow& node : fleet.nodes) merged += node.merged ? 1 : 0;
  std::string table = "matbench fleet: " + std::to_string(merged) + " of " +
                      std::to_string(fleet.nodes.size()) + " sessions merged\n\n";
  table +=
      "node             CPU             procs runs  serial s [95%]        S@p [95%]"
      "            eff.\n";
  for (const NodeRow& node : fleet.nodes) {
    if (!node.merged) continue;
    const Context& context = node.session.context;
    const TeamFigures& team = node.figures.teams[node.team - 1];
    const Estimate& s = team.speedup_vs_serial;
    char line[256];
    std::snprintf(line, sizeof line,
                  "%-16.16s %-15.15s %5s %4d  %s [%s, %s]  %2d: %s [%s, %s]  %s\n",
                  Printable(node.node).c_str(),
                  context.cpu_model ? Printable(*context.cpu_model).c_str() : "not recorded",
                  context.processors ? std::to_string(*context.processors).c_str() : "—",
                  node.figures.runs, FixedText(node.figures.serial.median, 3).c_str(),
                  FixedText(node.figures.serial.low, 3).c_str(),
                  FixedText(node.figures.serial.high, 3).c_str(), node.team,
                  FixedText(s.median, 2).c_str(), FixedText(s.low, 2).c_str(),
                  FixedText(s.high, 2).c_str(), FixedText(team.efficiency.median, 2).c_str());
    table += line;
    table += "                 " + (node.job ? "Slurm job " + Printable(*node.job) + ": " : "") +
             node.verdict + "\n";
  }
  table += "\nfleet: serial median " + FixedText(fleet.serial_median, 3) + " s (nodes " +
           FixedText(fleet.serial_min, 3) + " to " + FixedText(fleet.serial_max, 3) +
           "), speedup median " + FixedText(fleet.speedup_median, 2) + " (" +
           FixedText(fleet.speedup_min, 2) + " to " + FixedText(fleet.speedup_max, 2) + ")\n";
  for (const NodeRow& node : fleet.nodes) {
    if (node.problem) {
      const std::string where = node.node == node.file ? "" : " (" + Printable(node.file) + ")";
      table += (node.merged ? "cut short: " : "failed: ") + Printable(node.node) + where + ": " +
               Printable(*node.problem) + "\n";
    }
  }
  table +=
      "\nS@p: speedup vs serial at the node's core count. A node is slower or faster when its runs "
      "differ\nfrom the pooled runs of the others with Holm p < 0.05 (Mann-Whitney U, over the "
      "nodes) and\nthe ratio's 95% interval lies wholly outside ±2%.\n";
  return table;
}

std::string FormatFleetCsv(const Fleet& fleet) {
  std::string csv =
      "node,job,file,merged,problem,runs,team,serial_median_s,serial_low_s,serial_high_s,"
      "speedup_median,speedup_low,speedup_high,serial_ratio,serial_p_holm,speedup_ratio,"
      "speedup_p_holm,verdict\n";
  const auto field = [](const std::string& text) {
    std::string quoted = "\"";
    for (const char c : Printable(text))
      quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
  };
  const auto number = [](const std::optional<double>& value) {
    return value ? NumberText(*value) : std::string();
  };
  for (const NodeRow& node : fleet.nodes) {
    csv += field(node.node) + "," + field(node.job.value_or("")) + "," + field(node.file) + "," +
           (node.merged ? "true" : "false") + "," + field(node.problem.value_or("")) + "," +
           std::to_string(node.figures.runs) + ",";
    if (node.merged && node.figures.runs > 0) {
      const Estimate& s = node.figures.teams[node.team - 1].speedup_vs_serial;
      csv += std::to_string(node.team) + "," + number(node.figures.serial.median) + "," +
             number(node.figures.serial.low) + "," + number(node.figures.serial.high) + "," +
             number(s.median) + "," + number(s.low) + "," + number(s.high) + "," +
             NumberText(node.serial.ratio) + "," + NumberText(node.serial.p_holm) + "," +
             NumberText(node.speedup.ratio) + "," + NumberText(node.speedup.p_holm) + "," +
             field(node.verdict) + "\n";
    } else {
      csv += ",,,,,,,,,,,\n";
    }
  }
  return csv;
}

std::string FormatFleetJson(const Fleet& fleet) {
  nlohmann::ordered_json nodes = nlohmann::ordered_json::array();
  const auto ratio = [](const RowComparison& row) {
    return nlohmann::ordered_json{{"ratio", row.ratio},
                                  {"low", row.ratio_low},
                                  {"high", row.ratio_high},
                                  {"p_value", row.p_value},
                                  {"p_holm", row.p_holm}};
  };
  for (const NodeRow& node : fleet.nodes) {
    nlohmann::ordered_json entry = {
        {"node", node.node},
        {"job", node.job ? nlohmann::ordered_json(*node.job) : nlohmann::ordered_json(nullptr)},
        {"file", node.file},
        {"merged", node.merged},
        {"problem",
         node.problem ? nlohmann::ordered_json(*node.problem) : nlohmann::ordered_json(nullptr)}};
    if (node.merged && node.figures.runs > 0) {
      entry["runs"] = node.figures.runs;
      entry["team"] = node.team;
      entry["serial_vs_others"] = ratio(node.serial);
      entry["speedup_vs_others"] = ratio(node.speedup);
      entry["verdict"] = node.verdict;
      entry["session"] = SessionJson(node.session, node.figures);
    }
    nodes.push_back(entry);
  }
  const auto number = [](const std::optional<double>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
  };
  const nlohmann::ordered_json json = {{"fleet",
                                        {{"serial_median_s", number(fleet.serial_median)},
                                         {"serial_min_s", number(fleet.serial_min)},
                                         {"serial_max_s", number(fleet.serial_max)},
                                         {"speedup_median", number(fleet.speedup_median)},
                                         {"speedup_min", number(fleet.speedup_min)},
                                         {"speedup_max", number(fleet.speedup_max)}}},
                                       {"warnings", fleet.warnings},
                                       {"nodes", nodes}};
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

NodeRow NodeFromText(const std::string& file, const std::optional<std::string>& text,
                     std::string& refusal) {
  NodeRow node;
  node.file = file;
  node.node = file;
  if (!text) {
    node.problem = "could not be read";
    return node;
  }
  const std::size_t first = text->find_first_not_of(" \t\r\n");
  if (first == text->npos) {
    // What a session killed before its end leaves behind, e.g. under Slurm's own output file.
    node.problem = "empty: the session ended before writing anything";
    return node;
  }
  if ((*text)[first] != '{') {
    refusal = Printable(file) + " is not a session JSON";
    return node;
  }
  const nlohmann::json json = nlohmann::json::parse(*text, nullptr, false);
  if (json.is_discarded()) {
    node.problem = "not valid JSON: the session was cut off while writing";
    return node;
  }
  if (const std::string error = ReadSession(json, node.session); !error.empty()) {
    if (error.rfind("format version", 0) == 0 || error.rfind("not a matbench", 0) == 0 ||
        error == "no format version") {
      refusal = Printable(file) + ": " + error;
    } else {
      node.problem = error;
    }
    return node;
  }
  const Context& context = node.session.context;
  if (context.slurm_node) {
    node.node = *context.slurm_node;
  } else if (context.host) {
    node.node = *context.host;
  }
  node.job = context.slurm_job_id;
  if (node.session.interrupted) {
    node.problem = "interrupted by " + *node.session.interrupted + " after " +
                   std::to_string(node.session.runs.size()) + " runs";
  } else if (node.session.stopped && !node.session.stopped->starts_with("--")) {
    // A limit the user set is no fault; a benchmark that would not start again is.
    node.problem = *node.session.stopped;
  }
  if (PassedReports(node.session).empty()) {
    node.problem = node.problem.value_or("no run passed");
  } else {
    node.merged = true;
    node.figures = SessionFigures(node.session);
    const std::optional<int> cores = context.cores ? context.cores : context.processors;
    node.team = std::clamp(cores.value_or(1), 1, MAX_THREADS);
  }
  for (const Run& run : node.session.runs) {
    if (!run.report.failure.empty() && !node.problem) {
      node.problem = "a run failed: " + run.report.failure;
    }
  }
  return node;
}

namespace {

bool Named(const NodeRow& node) {
  return node.verdict.rfind("slower", 0) == 0 || node.verdict.rfind("faster", 0) == 0;
}

// The merged nodes like the fleet, or every merged node when none is.
std::vector<const NodeRow*> BandNodes(const Fleet& fleet) {
  std::vector<const NodeRow*> alike, merged;
  for (const NodeRow& node : fleet.nodes) {
    if (!node.merged) continue;
    merged.push_back(&node);
    if (!Named(node)) alike.push_back(&node);
  }
  return alike.empty() ? merged : alike;
}

}  // namespace

Figures FleetBand(const Fleet& fleet) {
  const std::vector<const NodeRow*> nodes = BandNodes(fleet);
  Figures band;
  for (int threads = 1; threads <= MAX_THREADS; ++threads) {
    std::vector<double> speedups, efficiencies;
    for (const NodeRow* node : nodes) {
      const TeamFigures& team = node->figures.teams[threads - 1];
      if (team.speedup_vs_serial.median) speedups.push_back(*team.speedup_vs_serial.median);
      if (team.efficiency.median) efficiencies.push_back(*team.efficiency.median);
    }
    TeamFigures team;
    team.threads = threads;
    Spread(speedups, team.speedup_vs_serial.median, team.speedup_vs_serial.low,
           team.speedup_vs_serial.high);
    Spread(efficiencies, team.efficiency.median, team.efficiency.low, team.efficiency.high);
    band.teams.push_back(team);
  }
  return band;
}

std::vector<PlotCurve> FleetCurves(const Fleet& fleet, const Figures& band) {
  std::vector<const NodeRow*> merged;
  for (const NodeRow& node : fleet.nodes) {
    if (node.merged) merged.push_back(&node);
  }
  std::vector<PlotCurve> curves;
  if (merged.size() <= MAX_NODE_CURVES) {
    for (const NodeRow* node : merged) curves.push_back({node->node, &node->figures, {}, false});
    return curves;
  }
  // Short, as the key sets three entries in a row.
  curves.push_back(
      {"median of " + std::to_string(BandNodes(fleet).size()) + " nodes, shaded: their range",
       &band,
       {},
       true});
  for (const NodeRow* node : merged) {
    if (Named(*node) && curves.size() < MAX_NODE_CURVES) {
      curves.push_back({node->node + ", " + node->verdict.substr(0, 6), &node->figures, {}, false});
    }
  }
  return curves;
}

int MergeCommand(const Options& options) {
  if (options.merged.empty()) {
    Complain("merge needs at least one session file");
    return 2;
  }
  Fleet fleet;
  for (const std::string& path : options.merged) {
    std::string text;
    const bool read = ReadInput(path, text);
    std::string refusal;
    fleet.nodes.push_back(NodeFromText(path, read ? std::optional(text) : std::nullopt, refusal));
    if (!refusal.empty()) {
      Complain(refusal);
      return 2;
    }
  }
  // Two sessions from one node stay apart, told by their files; counted once, as counting the
  // whole fleet again for each node made a large fleet quadratic.
  std::map<std::string, int> sessions_of;
  for (const NodeRow& node : fleet.nodes) ++sessions_of[node.node];
  for (NodeRow& node : fleet.nodes) {
    if (sessions_of[node.node] > 1 && node.node != node.file) node.node += " (" + node.file + ")";
  }
  JudgeFleet(fleet);
  for (const std::string& warning : fleet.warnings) Complain("warning: " + warning);
  const std::string text = options.format == OutputFormat::kCsv    ? FormatFleetCsv(fleet)
                           : options.format == OutputFormat::kJson ? FormatFleetJson(fleet)
                                                                   : FormatFleetTable(fleet);
  bool failed = !WriteOut(text);
  if (!options.plot.empty()) {
    const Figures band = FleetBand(fleet);
    PlotRequest request;
    request.path = options.plot;
    request.title = "matbench fleet: speedup vs serial per node, medians with 95% intervals";
    request.curves = FleetCurves(fleet, band);
    if (request.curves.size() > 0 && request.curves.front().band) {
      request.title =
          "matbench fleet: speedup vs serial, medians over the nodes and per named node";
    }
    for (const NodeRow& node : fleet.nodes) {
      if (!node.merged) continue;
      if (!request.processors) request.processors = node.session.context.processors;
      request.runs =
          request.runs == 0 ? node.figures.runs : std::min(request.runs, node.figures.runs);
    }
    if (!request.curves.empty()) {
      const PlotResult plot = WritePlot(request);
      if (!plot.message.empty()) Complain(plot.message);
      failed = failed || plot.failed;
    }
  }
  bool incomplete = false;
  for (const NodeRow& node : fleet.nodes) {
    if (node.problem) {
      Complain((node.merged ? "cut short: " : "failed: ") + Printable(node.node) + ": " +
               Printable(*node.problem));
      incomplete = true;
    }
  }
  return failed || incomplete ? 1 : 0;
}
