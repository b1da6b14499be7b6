#pragma once

#include <string>
#include <vector>

#include "figures.h"
#include "session.h"

// Every output is a pure function of the session and its figures, so a session read back from
// its JSON prints exactly what it printed when it ran.

// The figures as a UTF-8 table of at most 100 columns: the context, every median with its
// interval, the marks and a legend.
std::string FormatTable(const Session& session, const Figures& figures);

// The figures as CSV, one row per team size after a "serial" row; undefined figures are empty.
std::string FormatCsv(const Figures& figures);

// Every run's times as CSV: run, threads ("serial" for the serial time), seconds, passed.
std::string FormatLongCsv(const Session& session);

// The session JSON (every run, the context, the figures and the warnings), indented.
std::string FormatJson(const Session& session, const Figures& figures);

// `value` with `decimals` decimals, or "—" where it is undefined.
std::string FixedText(const std::optional<double>& value, int decimals);

// Shortest decimal text that reads back as exactly `value`.
std::string NumberText(double value);
