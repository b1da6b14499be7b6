#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "stats/comparison.h"
#include "stats/diagnostics.h"
#include "stats/fleet.h"

// The JSON documents the JSON reporter writes, for the other formats that carry them whole.
namespace speedup {

// `json` as text, indented by `indent` spaces a level (-1: on one line), with any byte that is not
// UTF-8 replaced rather than thrown over; a whole document ends with a line feed.
enum class JsonEnd { kLineFeed, kNone };
std::string JsonText(const nlohmann::ordered_json& json, int indent = 2,
                     JsonEnd end = JsonEnd::kLineFeed);

// The session file as this tool writes it: the record, then the warnings and the figures.
nlohmann::ordered_json SessionJson(const Session& session, const Figures& figures,
                                   const std::vector<Warning>& warnings);

// NEW against BASE, row by row, with the warnings.
nlohmann::ordered_json ComparisonJson(const Comparison& comparison, const std::string& base_name,
                                      const std::string& new_name);

// The fleet: its medians, warnings and every node with its verdict and session; without
// `node_figures`, each node's session leaves out its figures.
nlohmann::ordered_json FleetJson(const Fleet& fleet, bool node_figures = true);

// FleetJson as JsonText writes it on one line, made node by node so that a fleet of 10,000
// nodes never holds its whole JSON as a tree.
std::string FleetJsonLine(const Fleet& fleet, bool node_figures = true);

}  // namespace speedup
