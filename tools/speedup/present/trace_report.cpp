#include "present/trace_report.h"

#include <algorithm>
#include <cstdio>

#include "base/text.h"
#include "present/chart.h"
#include "present/context_lines.h"
#include "present/figure_text.h"
#include "present/table_reporter.h"
#include "present/words.h"

namespace speedup {
namespace {

std::string RowsText(const TeamTrace& team) {
  if (!team.rows_median) return "not traced";
  return FixedText(team.rows_min, 0) + "/" + FixedText(team.rows_median, 0) + "/" +
         FixedText(team.rows_max, 0);
}

// What the intervals reach, said as the session table says it.
std::string IntervalWords(const TraceFigures& figures) {
  const double reached = figures.teams.empty() ? 0.0 : figures.teams.front().region_ms.confidence;
  if (figures.traced_runs < 2) return "no interval from a single run";
  if (reached < CONFIDENCE) {
    return "intervals reach only " + PercentText(reached) + " confidence (" +
           std::to_string(MIN_RUNS_FOR_95) + " runs give " + ConfidenceText() + ")";
  }
  return "medians with " + ConfidenceText() + " intervals";
}

// The runtime named by the first usable trace, as every traced figure must say.
std::string TracedRuntime(const TraceSession& session) {
  for (const auto& trace : session.traces) {
    if (trace) return Printable(RuntimeText(*trace));
  }
  return "no run was traced";
}

// The team size, marked "*" when larger than the processors and "<N" when the runtime gave
// fewer threads than asked.
std::string TeamText(const TeamTrace& team) {
  std::string text = std::to_string(team.threads);
  if (team.granted_least > 0 && team.granted_least < static_cast<std::uint32_t>(team.threads)) {
    text += "<" + std::to_string(team.granted_least);
  }
  return text + (team.oversubscribed ? "*" : "");
}

std::string SplitRows(const TraceFigures& figures) {
  std::string rows =
      "threads  region ms [interval]      report ms   fork   tool   core   work  sched  imbal   "
      "join  rows min/med/max idle\n";
  for (const TeamTrace& team : figures.teams) {
    rows += Cell(TeamText(team), 7) + " " + Cell(WithInterval(team.region_ms, 3), 26) +
            Cell(FixedText(team.report_ms.median, 0), 11) +
            Cell(ShareText(team.typical, team.typical.fork), 7) +
            Cell(ShareText(team.typical, team.typical.tool), 7) +
            Cell(team.typical.cpu_seen ? ShareText(team.typical, team.typical.core_wait) : "—", 7) +
            Cell(ShareText(team.typical, team.typical.work), 7) +
            Cell(ShareText(team.typical, team.typical.scheduling), 7) +
            Cell(ShareText(team.typical, team.typical.imbalance), 7) +
            Cell(ShareText(team.typical, team.typical.join), 7) + Cell(RowsText(team), 17) +
            Cell(std::to_string(team.idle_threads), 5) + "\n";
  }
  return rows;
}

// Per team: POP's efficiencies and the state that lost the most, one line each.
std::string WhyRows(const TraceFigures& figures) {
  std::string rows = "\n";
  for (const std::string& line : TraceWhyLines(figures)) rows += line + "\n";
  return rows;
}

// The tool's own set-up, apart from the regions' time.
std::string SetupLine(const TraceFigures& figures) {
  if (!figures.prepared_ms) return "the tool's set-up was not recorded (a first-version trace)\n";
  return "the tool's set-up: " + FixedText(figures.prepared_ms, 2) + " ms for " +
         CountText(figures.buffers_prepared, "buffer", "buffers") + " before the first region; " +
         FixedText(figures.made_on_begin_ms, 2) + " ms for " +
         CountText(figures.buffers_made_on_begin, "buffer", "buffers") +
         " made on a thread's begin and " + FixedText(figures.sampling_ms, 2) +
         " ms reading the teams' CPU clocks (column tool), medians over the runs\n";
}

std::string SpeedupRows(const TraceFigures& figures) {
  std::string rows =
      "\nthreads  S traced vs 1 thread [interval]   S report vs 1 thread [interval]\n";
  for (const TeamTrace& team : figures.teams) {
    rows += Cell(TeamText(team), 7) + Cell(WithInterval(team.traced_speedup, 3), 31) +
            Cell(WithInterval(team.report_speedup, 2), 29) + "\n";
  }
  return rows;
}

}  // namespace

const char* LossName(Loss loss) {
  switch (loss) {
    case Loss::kFork:
      return "fork";
    case Loss::kTool:
      return "the tool";
    case Loss::kCoreWait:
      return "waiting for a core";
    case Loss::kScheduling:
      return "scheduling";
    case Loss::kImbalance:
      return "imbalance";
    case Loss::kJoin:
      return "join";
    case Loss::kNone:
      break;
  }
  return "nothing";
}

std::vector<std::string> TraceWhyLines(const TraceFigures& figures) {
  std::vector<std::string> lines;
  for (const TeamTrace& team : figures.teams) {
    const Efficiencies& e = team.efficiencies;
    std::string line = TeamText(team) + ": parallel efficiency " + PercentText(e.parallel) +
                       " = load balance " + PercentText(e.load_balance) + " x transfer " +
                       PercentText(e.transfer) + "; ";
    line += team.dominant.state == Loss::kNone
                ? std::string("no time lost")
                : PercentText(team.dominant.share) + " of the lost time " +
                      LossName(team.dominant.state);
    if (team.migrations > 0) {
      line += "; " + CountText(team.migrations, "thread", "threads") + " changed CPU";
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> TraceHeadLines(const TraceSession& session, const TraceFigures& figures) {
  const int runs = static_cast<int>(session.traced.runs.size());
  std::vector<std::string> lines = {
      "matbench trace over " + std::to_string(figures.traced_runs) + " of " +
          CountText(runs, "traced run", "traced runs") + " and " +
          CountText(static_cast<long long>(session.untraced.runs.size()), "untraced run",
                    "untraced runs") +
          "; " + IntervalWords(figures),
      "runtime: " + TracedRuntime(session), "         " + Printable(session.runtime)};
  if (session.traced.interrupted) {
    lines.push_back("interrupted by " + Printable(InterruptName(*session.traced.interrupted)));
  }
  for (const std::string& line : ContextLines(session.traced.context)) lines.push_back(line);
  return lines;
}

std::string TraceTable(const TraceSession& session, const TraceFigures& figures) {
  std::string table;
  for (const std::string& line : TraceHeadLines(session, figures)) table += line + "\n";
  table += '\n';
  table += SplitRows(figures) + WhyRows(figures) + SpeedupRows(figures);
  table +=
      "\nregion: the parallel region on the trace's nanosecond clock; report: the benchmark's own\n"
      "millisecond time of the same runs, which also holds clearing the product before the "
      "region.\n"
      "fork, tool, core, work, sched(uling), imbal(ance), join: the team's average share of the "
      "region\nin each state, in the run whose region took the median time (so they add up). "
      "tool: the trace\ntool's own work; core: waiting for a core, wall time less the thread's "
      "CPU time from the\nregion's begin to its task's end. scheduling is estimated: a claim "
      "costs the median, over the\nclaims that are not a thread's first, of the time since the "
      "claim before less the rows that\none handed out at the team of one's CPU time per row. "
      "rows: per thread, least, median and\nmost, medians over the runs; idle: threads that got "
      "no row. * more threads than processors;\n<N: the runtime gave only N threads. parallel "
      "efficiency = mean work / region time;\nload balance = mean work / most work; transfer = "
      "most work / region time (POP's measures).\n";
  table += SetupLine(figures);
  std::string lost = "every event was kept";
  for (const TraceWarning& warning : TraceWarnings(session, figures)) {
    if (warning.kind == TraceWarning::Kind::kLostEvents) lost = TraceWarningText(warning);
  }
  table += lost + "\n";
  if (!figures.overhead.rows.empty()) {
    table +=
        "\nThe tool's cost: the traced runs' report times against the untraced runs' on the "
        "same runtime,\ninterleaved.\n";
    table += ComparisonTable(figures.overhead, "untraced", "traced");
  }
  return table;
}

nlohmann::ordered_json TraceFiguresJson(const TraceSession& session, const TraceFigures& figures) {
  const auto estimate = [](const Estimate& e) {
    const auto number = [](const std::optional<double>& v) {
      return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
    };
    return nlohmann::ordered_json{{"median", number(e.median)},
                                  {"low", number(e.low)},
                                  {"high", number(e.high)},
                                  {"confidence", e.confidence}};
  };
  nlohmann::ordered_json teams = nlohmann::ordered_json::array();
  for (const TeamTrace& team : figures.teams) {
    teams.push_back({{"threads", team.threads},
                     {"runs", team.runs},
                     {"region_ms", estimate(team.region_ms)},
                     {"report_ms", estimate(team.report_ms)},
                     {"fork", estimate(team.fork)},
                     {"tool", estimate(team.tool)},
                     {"core_wait", estimate(team.core_wait)},
                     {"work", estimate(team.work)},
                     {"scheduling", estimate(team.scheduling)},
                     {"imbalance", estimate(team.imbalance)},
                     {"join", estimate(team.join)},
                     {"rows_min", team.rows_min.value_or(-1)},
                     {"rows_median", team.rows_median.value_or(-1)},
                     {"rows_max", team.rows_max.value_or(-1)},
                     {"idle_threads", team.idle_threads},
                     {"threads_seen", team.threads_seen},
                     {"granted_least", team.granted_least},
                     {"oversubscribed", team.oversubscribed},
                     {"migrations", team.migrations},
                     {"claim_seconds", team.typical.claim_seconds
                                           ? nlohmann::ordered_json(*team.typical.claim_seconds)
                                           : nlohmann::ordered_json(nullptr)},
                     {"parallel_efficiency", team.efficiencies.parallel},
                     {"load_balance", team.efficiencies.load_balance},
                     {"transfer_efficiency", team.efficiencies.transfer},
                     {"dominant_loss", LossName(team.dominant.state)},
                     {"dominant_loss_share", team.dominant.share},
                     {"traced_speedup", estimate(team.traced_speedup)},
                     {"report_speedup", estimate(team.report_speedup)}});
  }
  nlohmann::ordered_json json = TraceIndexRecord(session);
  json["traced_runtime"] = ValidUtf8(TracedRuntime(session));
  json["traced_runs"] = figures.traced_runs;
  json["lost_events"] = figures.lost_events;
  const auto ms = [](const std::optional<double>& v) {
    return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
  };
  json["tool_setup"] = {{"prepared_ms", ms(figures.prepared_ms)},
                        {"buffers_prepared", figures.buffers_prepared},
                        {"made_on_begin_ms", ms(figures.made_on_begin_ms)},
                        {"buffers_made_on_begin", figures.buffers_made_on_begin},
                        {"sampling_ms", ms(figures.sampling_ms)}};
  json["teams"] = teams;
  return json;
}

std::string SplitChartScript(const TraceSession& session, const TraceFigures& figures,
                             const std::string& output_name) {
  const bool svg = output_name.ends_with(".svg");
  std::string script = "set encoding utf8\n";
  script += svg ? "set terminal svg size 1000,520 dynamic font 'sans,11' noenhanced\n"
                : "set terminal pngcairo size 1000,520 font 'sans,10' noenhanced\n";
  script += "set output " + GnuplotString(output_name) + "\n";
  script += "$split << EOD\n";
  for (const TeamTrace& team : figures.teams) {
    script += TeamText(team);
    const RegionSplit& split = team.typical;
    for (const double seconds : {split.fork, split.tool, split.core_wait, split.work,
                                 split.scheduling, split.imbalance, split.join}) {
      script += ' ';
      const std::optional<double> share = StateShare(split, seconds);
      script += share ? NumberText(*share * 100.0) : "0";
    }
    script += "\n";
  }
  script += "EOD\n";
  script +=
      "set title " +
      GnuplotText("matbench trace: where each team's region time went, in its median run of " +
                  std::to_string(figures.traced_runs) + " (" + TracedRuntime(session) + ")") +
      "\n";
  script +=
      "set style data histograms\nset style histogram rowstacked\nset style fill solid 0.85 "
      "border -1\nset boxwidth 0.8\nset yrange [0:105]\nset ylabel 'share of the region (%)'\n"
      "set xlabel 'threads (* more than the processors)'\nset key outside right top "
      "vertical\nset grid ytics\n";
  script +=
      "plot $split using 2:xtic(1) title 'fork' linecolor rgb '#9467bd', '' using 3 title 'tool' "
      "linecolor rgb '#7f7f7f', '' using 4 title 'waiting for a core' linecolor rgb '#bcbd22', "
      "'' using 5 title 'work' linecolor rgb '#2ca02c', '' using 6 title 'scheduling' linecolor "
      "rgb '#ff7f0e', '' using 7 title 'imbalance' linecolor rgb '#d62728', '' using 8 title "
      "'join' linecolor rgb '#1f77b4'\n";
  return script + "unset output\n";
}

std::string TimelineScript(const RunTrace& trace, int team, const std::string& run_name,
                           const std::string& output_name) {
  const auto region =
      std::find_if(trace.regions.begin(), trace.regions.end(), [team](const RegionTrace& r) {
        return r.requested_team == static_cast<std::uint32_t>(team);
      });
  if (region == trace.regions.end()) return "";
  const auto ms = [&](std::uint64_t ns) {
    return NumberText((static_cast<double>(ns) - static_cast<double>(region->begin_ns)) / 1e6);
  };
  const bool svg = output_name.ends_with(".svg");
  const int lanes = static_cast<int>(region->threads.size());
  std::string script = "set encoding utf8\n";
  script += (svg ? "set terminal svg size 1200," : "set terminal pngcairo size 1200,") +
            std::to_string(200 + 40 * lanes) +
            (svg ? " dynamic font 'sans,11' noenhanced\n" : " font 'sans,10' noenhanced\n");
  script += "set output " + GnuplotString(output_name) + "\n";
  // Rows alternate between two shades so that neighbours stay apart; x1 x2 lane kind.
  script += "$boxes << EOD\n";
  for (const ThreadInRegion& thread : region->threads) {
    const std::string lane = std::to_string(thread.index);
    const std::uint64_t loop_end = thread.loop_end_ns.value_or(region->end_ns);
    for (std::size_t i = 0; i < thread.claims.size(); ++i) {
      const std::uint64_t end =
          i + 1 < thread.claims.size() ? thread.claims[i + 1].at_ns : loop_end;
      script += ms(thread.claims[i].at_ns) + " " + ms(end) + " " + lane + " " +
                std::to_string(i % 2) + "\n";
    }
    for (const BarrierWait& wait : ClipWaits(*region, thread).inside) {
      script += ms(wait.begin_ns) + " " + ms(wait.end_ns) + " " + lane + " 2\n";
    }
    if (thread.task_begin_ns && *thread.task_begin_ns > region->begin_ns) {
      script += ms(region->begin_ns) + " " + ms(*thread.task_begin_ns) + " " + lane + " 3\n";
    }
  }
  script += "EOD\n";
  script += "set title " +
            GnuplotText("matbench trace: team of " + std::to_string(team) + ", " + run_name + " (" +
                        RuntimeText(trace) + "): one lane per thread, one box per row") +
            "\n";
  script += "set xlabel 'ms from the region''s begin'\nset ylabel 'thread'\n";
  script += "set yrange [-0.6:" + std::to_string(lanes) + "-0.4]\nset ytics 1\n";
  script += "set xrange [0:" + ms(region->end_ns) + "]\nset grid xtics\n";
  script += "set key outside right top vertical\nset style fill solid 1.0 noborder\n";
  script +=
      "plot $boxes using (($1+$2)/2):($4 == 0 ? $3 : 1/0):(($2-$1)/2):(0.35) with boxxyerror "
      "linecolor rgb '#2ca02c' title 'rows, in alternating shades', \\\n"
      "     '' using (($1+$2)/2):($4 == 1 ? $3 : 1/0):(($2-$1)/2):(0.35) with boxxyerror "
      "linecolor rgb '#98df8a' notitle, \\\n"
      "     '' using (($1+$2)/2):($4 == 2 ? $3 : 1/0):(($2-$1)/2):(0.2) with boxxyerror "
      "linecolor rgb '#d62728' title 'barrier wait', \\\n"
      "     '' using (($1+$2)/2):($4 == 3 ? $3 : 1/0):(($2-$1)/2):(0.2) with boxxyerror "
      "linecolor rgb '#9467bd' title 'fork: not yet started'\n";
  return script + "unset output\n";
}

}  // namespace speedup
