#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "present/html_reporter.h"
#include "present/reporter.h"

// The parts every HTML page is made of, shared by the files of each report kind. Every function
// here returns markup; every text from outside is escaped in it.
namespace speedup::html {

// --- The page ---

// The whole page: `title` (already escaped) and `body` (markup) with the style, the content
// policy (no network, no script but ours) and the script, both from present/assets/.
std::string Page(const std::string& title, std::string body);

// `text` escaped as HtmlEscaped does.
std::string Escaped(const std::string& text);

// `text` as a page shows it, for the page's script to place as text (never as markup): what
// HtmlEscaped makes of it before its character references (\xHH for bytes outside UTF-8 and for
// controls, \uHHHH for bidirectional controls).
std::string PageText(std::string_view text);

// A section with its id and heading, around `inner` (markup).
std::string Section(const std::string& id, const std::string& heading, const std::string& inner);

// Each warning as a list item, or nothing when there is none.
std::string WarningList(const std::vector<std::string>& warnings);

// The chart `material.draw` drew from `script` as inline SVG in a figure with its caption, or the
// reason there is none. `description` is the chart's text alternative.
std::string ChartFigure(const HtmlMaterial& material, const std::string& script,
                        const std::string& caption, const std::string& description);

// The raw data as JSON, collapsed, kept once: whole for programs in a script element of type
// application/json with the id `id`, and shown as text from there by the page's script when the
// reader opens it, up to HTML_SHOWN_JSON_BYTES; a button before it saves it as a file, named
// after `id` ("fleet-json": fleet.json).
std::string RawSection(const std::string& id, const std::string& summary, const std::string& json);

// --- Cells and tables ---

// A number cell: the text as the terminal table shows it, and the exact value in data-v for
// sorting and for readers that check the page against its JSON; `key` names the figure.
std::string NumberCell(const std::optional<double>& value, int decimals, const std::string& key);
std::string CountCell(long long count, const std::string& key);
// A text cell; `kind`, when given, is a class that the print style and the page's width read.
std::string TextCell(const std::string& text, const std::string& kind = "");

// An interval as one cell, "[low, high]", each end its own figure; "[—, —]" without one.
std::string IntervalCell(const std::optional<double>& low, const std::optional<double>& high,
                         int decimals, const std::string& key);

// The median's cell and its interval's.
std::string EstimateCells(const Estimate& estimate, int decimals, const std::string& key);

// Every field of a context, "not recorded" where it was not.
std::string ContextTable(const Context& context);

// Two contexts side by side, each field whose text differs highlighted and marked.
std::string ContextsTable(const Context& base, const Context& added);

// --- Pieces of more than one kind of page ---

// One session's head, failed runs and warnings, table, fit, `chart` (markup), legend and context;
// `id` tells its table apart.
std::string SessionBody(const Session& session, const SessionAnalysis& analysis,
                        const std::string& id, const std::string& chart);

// The chart of every session's speedup, one curve each.
std::string SessionsChartFigure(const std::vector<NamedSession>& sessions,
                                const HtmlMaterial& material);

// NEW against BASE row by row, as a table with the id `id`, and the rule of its verdicts.
std::string ComparisonRows(const Comparison& comparison, const std::string& id);
std::string ComparisonLegend(const Comparison& comparison);

// --- The runs one by one ---

// The strip of each row's runs (BASE and NEW side by side, with a key, where `dots` holds both)
// and, where it holds a run order, the run-order plot: inline SVG with axis titles, each in a
// figure with its caption, which says where dots were thinned; the SVGs' ids begin with `id`.
std::string RunsFigures(const RunDots& dots, const std::string& id,
                        const std::string& base_name = "", const std::string& new_name = "");

// A button that saves the page's table as CSV, made by the page's script from the JSON in the
// script element `json_id`, laid out as `kind` ("session": the figures, "comparison": the rows)
// says; `lead` names the columns before the table's and `cells` holds their CSV text (CsvField:
// quoted, a formula's first character defused), made here once.
std::string CsvButton(const std::string& json_id, const std::string& kind, const std::string& file,
                      const std::string& what,
                      const std::vector<std::pair<std::string, std::string>>& lead);

// --- Headlines: the answer first, in a sentence or two and a few figures ---

struct HeadFigure {
  std::string label, value;  // plain text, escaped when shown
};

// The block at the top of a page: `answer` and each figure, all escaped.
std::string Headline(const std::string& answer, const std::vector<HeadFigure>& figures);

// Each kind's headline: the best speedup and where, the verdict counts, the slower nodes.
std::string SessionHeadline(const Session& session, const SessionAnalysis& analysis);
std::string ComparisonHeadline(const Comparison& comparison);
std::string StudyHeadline(const std::vector<NamedSession>& sessions,
                          const std::vector<Comparison>& comparisons);
std::string FleetHeadline(const Fleet& fleet);
// A trace's: the best traced speedup and where, and the state that lost the most time at the
// largest team size.
std::string TraceHeadline(const TraceSession& session, const TraceFigures& figures);

// --- One page per report kind ---

std::string SessionPage(const Session& session, const SessionAnalysis& analysis,
                        const HtmlMaterial& material);
std::string ComparisonPage(const Comparison& comparison, const std::string& base_name,
                           const std::string& new_name, const HtmlMaterial& material);
std::string FleetPage(const Fleet& fleet, const HtmlMaterial& material);
std::string StudyPage(const std::vector<NamedSession>& sessions,
                      const std::vector<Comparison>& comparisons, const HtmlMaterial& material);
// A traced session's page: the split table and chart, the speedups from both clocks, the tool's
// cost, each timeline of `timelines`, and the figures and both sessions as JSON.
std::string TracePage(const TraceSession& session, const TraceFigures& figures,
                      const HtmlMaterial& material);

}  // namespace speedup::html
