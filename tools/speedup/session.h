#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "context.h"
#include "figures.h"
#include "report_parser.h"

// Version of the session JSON this tool writes and reads.
inline constexpr int SESSION_FORMAT_VERSION = 1;

// One run of the benchmark, kept whole whether it passed or failed.
struct Run {
  RunReport report;                   // report.failure is empty when the run passed
  std::optional<double> cpu_seconds;  // user + system time of the child, when run here
  std::optional<double> wall_seconds;
};

// Everything measured in one session, and how it went; the figures are computed from it.
struct Session {
  Context context;
  std::vector<Run> runs;  // in the order they ran
  std::optional<int> requested_runs;
  std::optional<double> precision;       // sought half-width of every speedup interval, a fraction
  std::optional<std::string> placement;  // OMP_PROC_BIND of a placement study
  std::optional<bool> placement_honoured;  // whether the runtime bound threads as asked
  std::optional<std::string> interrupted;  // the signal that ended the session early
  std::optional<std::string> stopped;      // why a --precision session ended where it did
};

// The reports of the runs that passed, in order.
std::vector<RunReport> PassedReports(const Session& session);

// The figures over the session's passed runs (at least one), marked and fitted by its context.
Figures SessionFigures(const Session& session);

// How many processors the runs kept busy, from the children's CPU and wall times.
struct ParallelUse {
  std::optional<double> cpu_per_wall;  // median over the runs that recorded both
  bool one_processor = false;          // several processors available, yet about one was used
};

// Below this many CPU seconds per wall second the teams did not run in parallel: one thread
// alone gives about 1, a 2-processor machine running teams of two about 1.9.
inline constexpr double PARALLEL_CPU_PER_WALL = 1.2;

// The session's processor use; one_processor needs at least two processors recorded.
ParallelUse CheckParallelUse(const Session& session);

// One line for each thing that makes the figures less than they seem: settings that let the
// runtime shrink teams, other work on the machine, drift, runs on about one processor.
std::vector<std::string> SessionWarnings(const Session& session, const Figures& figures);

// The session as JSON: every run, the context, and the figures for a reader's convenience.
nlohmann::ordered_json SessionJson(const Session& session, const Figures& figures);

// Reads a session back from `json`; the figures in it are ignored. Returns a message naming
// what is wrong (another format, a version this tool cannot read, a run without 20 team sizes),
// or an empty string.
std::string ReadSession(const nlohmann::json& json, Session& session);
