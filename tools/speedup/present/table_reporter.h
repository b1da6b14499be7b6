#pragma once

#include <string>
#include <vector>

#include "present/reporter.h"

// The tables a person reads: UTF-8, at most 100 columns, with their legends.
namespace speedup {

// The head of a session's report, before its context: how many runs and what confidence, how
// the session ended, its precision and its placement; one line each.
std::vector<std::string> SessionHeadLines(const Session& session, const SessionAnalysis& analysis);

// A session: the context, every median with its interval, the marks and a legend.
std::string SessionTable(const Session& session, const SessionAnalysis& analysis);

// NEW against BASE, one row a team size, with the verdicts and their rule.
std::string ComparisonTable(const Comparison& comparison, const std::string& base_name,
                            const std::string& new_name);

// A fleet: one row a merged node with its verdict, then the fleet's medians and the problems.
std::string FleetTable(const Fleet& fleet);

// A placement study: each session under its name, then each compared with the first.
std::string StudyTable(const std::vector<NamedSession>& sessions,
                       const std::vector<Comparison>& comparisons);

}  // namespace speedup
