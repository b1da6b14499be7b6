#include "present/html_reporter.h"

#include <cctype>
#include <cstdio>
#include <random>

#include "base/policy.h"
#include "base/text.h"
#include "present/chart.h"
#include "present/charts.h"
#include "present/context_lines.h"
#include "present/json_reporter.h"
#include "present/table_reporter.h"
#include "present/trace_report.h"
#include "present/words.h"
#include "session/session_json.h"

namespace speedup {

std::string HtmlEscaped(std::string_view text) {
  std::string escaped;
  for (const char c : Printable(text)) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string ScriptJson(std::string_view json) {
  std::string safe;
  safe.reserve(json.size());
  for (const char c : json) {
    if (c == '<') {
      safe += "\\u003c";
    } else {
      safe += c;
    }
  }
  return safe;
}

namespace {

// --- The page around every report ---

constexpr const char* STYLE = R"(
:root{color-scheme:light dark;--fg:#1b1b1b;--bg:#fff;--muted:#555;--line:#c8c8c8;--head:#f0f0f0;
--warn-bg:#fff4d6;--warn-fg:#4d3800;--warn-line:#c99700;--mark:#fde2e2;--slower:#a4001d;
--faster:#0b6b2b;--link:#0645ad}
@media (prefers-color-scheme:dark){:root{--fg:#e8e8e8;--bg:#15171a;--muted:#a9a9a9;--line:#474747;
--head:#24272c;--warn-bg:#3a3000;--warn-fg:#ffe28a;--warn-line:#c99700;--mark:#4d2327;
--slower:#ff8f85;--faster:#7fdc94;--link:#8ab4f8}}
body{font:14px/1.45 system-ui,sans-serif;color:var(--fg);background:var(--bg);margin:1.5em auto;
max-width:1250px;padding:0 1em}
a{color:var(--link)}
h1{font-size:1.45em;margin-bottom:.2em}h2{font-size:1.15em;margin-top:1.8em;
border-bottom:1px solid var(--line)}h3{font-size:1em}
.head p{margin:.15em 0}.muted,figcaption,.legend{color:var(--muted)}
table{border-collapse:collapse;font-variant-numeric:tabular-nums;margin:.6em 0}
th,td{padding:.2em .4em;border-bottom:1px solid var(--line);text-align:right;white-space:nowrap}
th{background:var(--head);font-weight:600}thead th{position:sticky;top:0}
.text{text-align:left}td.wrap{white-space:normal}td.mark{text-align:left;font-weight:600}
.scroll{overflow:auto;max-height:80vh}
.warnings{background:var(--warn-bg);color:var(--warn-fg);border-left:4px solid var(--warn-line);
padding:.4em 1em .4em 2em;margin:.8em 0}
.warnings li{margin:.2em 0}
tr.differs td,tr.differs th{background:var(--mark)}
.slower{color:var(--slower);font-weight:600}.faster{color:var(--faster);font-weight:600}
figure{margin:1em 0}.chart{background:#fff;color:#000;border:1px solid var(--line);
border-radius:4px;padding:4px}.chart svg{width:100%;height:auto;display:block}
.no-chart{border:1px dashed var(--line);padding:1em}
th button{font:inherit;color:inherit;background:none;border:0;padding:0;cursor:pointer}
th[aria-sort=ascending] button::after{content:" \2191"}
th[aria-sort=descending] button::after{content:" \2193"}
.controls{margin:.6em 0}
details{margin:1em 0}details pre{white-space:pre-wrap;word-break:break-all;max-height:30em;
overflow:auto;border:1px solid var(--line);padding:.5em;font-size:12px}
dl.legend dt{font-weight:600;float:left;clear:left;margin-right:.5em}dl.legend dd{margin:0 0 .3em 0}
.print-only{display:none}
@media print{:root{--fg:#000;--bg:#fff;--muted:#333;--head:#eee;--mark:#fde2e2}
body{max-width:none;margin:0;font-size:11pt}.controls,details,th button::after{display:none}
.print-only{display:block}.scroll{overflow:visible;max-height:none}thead th{position:static}
figure,tr{break-inside:avoid}h2{break-after:avoid}}
)";

// Sorts the tables marked sortable by the clicked column (by each cell's data-v, the number the
// C++ wrote, else its text), filters the fleet's rows by verdict, then marks the page as ready:
// it computes no figure.
constexpr const char* SCRIPT = R"(
(function () {
  'use strict';
  function key(cell) {
    var v = cell.getAttribute('data-v');
    return v === null ? cell.textContent : Number(v);
  }
  function order(a, b) {
    var x = a[0], y = b[0];
    if (typeof x === 'number' && typeof y === 'number') return x - y;
    if (typeof x === 'number') return -1;
    if (typeof y === 'number') return 1;
    return x < y ? -1 : x > y ? 1 : 0;
  }
  document.querySelectorAll('table.sortable').forEach(function (table) {
    var body = table.tBodies[0];
    var heads = Array.prototype.slice.call(table.tHead.rows[0].cells);
    heads.forEach(function (th, column) {
      var button = th.querySelector('button');
      if (!button) return;
      button.addEventListener('click', function () {
        var up = th.getAttribute('aria-sort') !== 'ascending';
        heads.forEach(function (other) { other.removeAttribute('aria-sort'); });
        th.setAttribute('aria-sort', up ? 'ascending' : 'descending');
        var rows = Array.prototype.map.call(body.rows, function (row, i) {
          return [key(row.cells[column]), i, row];
        });
        rows.sort(function (a, b) { return (up ? order(a, b) : order(b, a)) || a[1] - b[1]; });
        var sorted = document.createDocumentFragment();
        rows.forEach(function (entry) { sorted.appendChild(entry[2]); });
        body.appendChild(sorted);
      });
    });
  });
  var filter = document.getElementById('verdict-filter');
  if (filter) {
    filter.addEventListener('change', function () {
      var shown = 0;
      Array.prototype.forEach.call(document.getElementById('fleet').tBodies[0].rows, function (row) {
        var show = filter.value === '' || row.getAttribute('data-verdict') === filter.value;
        row.hidden = !show;
        if (show) shown += 1;
      });
      document.getElementById('shown-count').textContent = String(shown);
    });
  }
  document.body.setAttribute('data-ready-ms', String(Math.round(performance.now())));
  document.body.setAttribute('data-page-ready', 'yes');
})();
)";

// A fresh nonce for the page's one script, so the content policy runs it and nothing else.
std::string Nonce() {
  std::random_device device;
  std::string nonce;
  for (int i = 0; i < 4; ++i) {
    char word[9];
    std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(device()));
    nonce += word;
  }
  return nonce;
}

// The whole page: `title` (already escaped) and `body` (markup made here) with the style, the
// content policy (no network, no script but ours) and the script.
std::string Page(const std::string& title, const std::string& body) {
  const std::string nonce = Nonce();
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; img-src data:; base-uri 'none'; form-action 'none'; "
      "script-src 'nonce-";
  page += nonce;
  page += "'\">\n<meta name=\"generator\" content=\"matbench-speedup\">\n<title>";
  page += title;
  page += "</title>\n<style>";
  page += STYLE;
  page += "</style>\n</head>\n<body>\n";
  page += body;
  page += "<script nonce=\"";
  page += nonce;
  page += "\">";
  page += SCRIPT;
  page += "</script>\n</body>\n</html>\n";
  return page;
}

// --- Pieces ---

std::string Escaped(const std::string& text) { return HtmlEscaped(text); }

std::string Section(const std::string& id, const std::string& heading, const std::string& inner) {
  return "<section id=\"" + id + "\">\n<h2>" + Escaped(heading) + "</h2>\n" + inner +
         "</section>\n";
}

// Each warning as a list item, or nothing when there is none.
std::string WarningList(const std::vector<std::string>& warnings) {
  if (warnings.empty()) return "";
  std::string list = "<ul class=\"warnings\" role=\"note\" aria-label=\"warnings\">\n";
  for (const std::string& warning : warnings) {
    list += "<li><strong>warning:</strong> " + Escaped(warning) + "</li>\n";
  }
  return list + "</ul>\n";
}

// A number cell: the text as the terminal table shows it, and the exact value in data-v for
// sorting and for readers that check the page against its JSON; `key` names the figure.
std::string NumberCell(const std::optional<double>& value, int decimals, const std::string& key) {
  if (!value) return "<td data-k=\"" + key + "\">—</td>";
  return "<td data-k=\"" + key + "\" data-v=\"" + NumberText(*value) + "\">" +
         FixedText(value, decimals) + "</td>";
}

std::string CountCell(long long count, const std::string& key) {
  return "<td data-k=\"" + key + "\" data-v=\"" + std::to_string(count) + "\">" +
         std::to_string(count) + "</td>";
}

std::string TextCell(const std::string& text) {
  return "<td class=\"text\">" + Escaped(text) + "</td>";
}

// An interval as one cell, "[low, high]", each end its own figure; "[—, —]" without one.
std::string IntervalCell(const std::optional<double>& low, const std::optional<double>& high,
                         int decimals, const std::string& key) {
  const auto end = [&](const std::optional<double>& value, const char* which) {
    if (!low || !high) return std::string("—");
    return "<span data-k=\"" + key + "." + which + "\" data-v=\"" + NumberText(*value) + "\">" +
           FixedText(value, decimals) + "</span>";
  };
  return "<td class=\"interval\"" +
         (low && high ? " data-v=\"" + NumberText(*low) + "\"" : std::string()) + ">[" +
         end(low, "low") + ", " + end(high, "high") + "]</td>";
}

std::string EstimateCells(const Estimate& estimate, int decimals, const std::string& key) {
  return NumberCell(estimate.median, decimals, key + ".median") +
         IntervalCell(estimate.low, estimate.high, decimals, key);
}

std::string ConfidenceText() { return Formatted("%g%%", CONFIDENCE * 100.0); }

// The chart drawn from `script` as inline SVG in a figure with its caption, or the reason there
// is none. `description` is the chart's text alternative.
std::string ChartFigure(const std::string& script, const std::string& caption,
                        const std::string& description) {
  const DrawnChart drawn = DrawChartBytes("chart.svg", script);
  std::string figure = "<figure>\n";
  const std::size_t start = drawn.bytes.find("<svg");
  std::string lowered = drawn.bytes;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // gnuplot escapes every text it draws; an SVG that still holds a script is not embedded.
  const bool scripted = lowered.find("<script") != std::string::npos ||
                        lowered.find("foreignobject") != std::string::npos ||
                        lowered.find("javascript:") != std::string::npos;
  if (!drawn.bytes.empty() && start != std::string::npos && !scripted) {
    figure += "<div class=\"chart\">\n<svg role=\"img\" aria-label=\"" + Escaped(description) +
              "\"" + drawn.bytes.substr(start + 4) + "\n</div>\n";
  } else {
    std::string why = drawn.missing ? "gnuplot is not installed here, so no chart was drawn"
                      : scripted    ? "the chart held a script, so it was left out"
                                    : "no chart: " + drawn.result.message;
    figure += "<p class=\"no-chart\" role=\"img\" aria-label=\"" + Escaped(description) + "\">" +
              Escaped(why) + ". The table holds every figure the chart would draw.</p>\n";
  }
  return figure + "<figcaption>" + Escaped(caption) + "</figcaption>\n</figure>\n";
}

// `text` escaped line by line, its line feeds kept.
std::string EscapedLines(const std::string& text) {
  std::string escaped;
  for (const std::string_view line : SplitLines(text)) escaped += HtmlEscaped(line) + "\n";
  return escaped;
}

// The raw data as JSON, collapsed: shown as text up to HTML_SHOWN_JSON_BYTES, and always kept
// whole for programs in a script element of type application/json with the id `id`.
std::string RawSection(const std::string& id, const std::string& summary, const std::string& json) {
  const std::string shown =
      json.size() <= HTML_SHOWN_JSON_BYTES
          ? "<pre>" + EscapedLines(json) + "</pre>\n"
          : "<p>" + ByteCountText(json.size()) +
                " of JSON, too long to show here: it is kept in this page's source, in the "
                "element <code>script#" +
                id + "</code>.</p>\n";
  return "<details>\n<summary>" + Escaped(summary) + "</summary>\n" + shown +
         "<script type=\"application/json\" id=\"" + id + "\">" + ScriptJson(json) +
         "</script>\n</details>\n";
}

// --- Context ---

std::string FieldText(const std::string& value) { return value; }
std::string FieldText(int value) { return std::to_string(value); }
std::string FieldText(double value) { return LoadText(value); }
std::string FieldText(const Caches& caches) { return CachesText(caches); }
std::string FieldText(const Settings& settings) {
  if (settings.empty()) return "none";
  std::vector<std::string> parts;
  for (const auto& [name, value] : settings) parts.push_back(name + "=" + value);
  return Joined(parts, " ");
}

struct Field {
  std::string name;
  std::optional<std::string> text;  // empty: not recorded
};

// Every field of the context by its name, in the order the session file keeps them.
std::vector<Field> ContextFields(const Context& context) {
  std::vector<Field> fields;
#define MATBENCH_HTML_FIELD(type, name)                                                        \
  fields.push_back({#name, context.name ? std::optional<std::string>(FieldText(*context.name)) \
                                        : std::nullopt});
  MATBENCH_CONTEXT_FIELDS(MATBENCH_HTML_FIELD)
#undef MATBENCH_HTML_FIELD
  for (Field& field : fields) {
    for (char& c : field.name) c = c == '_' ? ' ' : c;
  }
  return fields;
}

std::string ContextTable(const Context& context) {
  std::string table = "<table class=\"context\">\n<tbody>\n";
  for (const Field& field : ContextFields(context)) {
    table += "<tr><th scope=\"row\" class=\"text\">" + Escaped(field.name) + "</th>" +
             (field.text ? TextCell(*field.text)
                         : std::string("<td class=\"text muted\">not recorded</td>")) +
             "</tr>\n";
  }
  return table + "</tbody>\n</table>\n";
}

// Two contexts side by side, each field whose text differs highlighted and marked.
std::string ContextsTable(const Context& base, const Context& added) {
  const std::vector<Field> left = ContextFields(base);
  const std::vector<Field> right = ContextFields(added);
  std::string table =
      "<table class=\"context\" id=\"contexts\">\n<thead><tr><th class=\"text\">field</th>"
      "<th class=\"text\">BASE</th><th class=\"text\">NEW</th><th class=\"text\">"
      "</th></tr></thead>\n<tbody>\n";
  const auto cell = [](const std::optional<std::string>& text) {
    return text ? TextCell(*text) : std::string("<td class=\"text muted\">not recorded</td>");
  };
  for (std::size_t i = 0; i < left.size(); ++i) {
    const bool differs = left[i].text != right[i].text;
    table += std::string(differs ? "<tr class=\"differs\">" : "<tr>") +
             "<th scope=\"row\" class=\"text\">" + Escaped(left[i].name) + "</th>" +
             cell(left[i].text) + cell(right[i].text) + "<td class=\"text\">" +
             (differs ? "differs" : "") + "</td></tr>\n";
  }
  return table + "</tbody>\n</table>\n";
}

// --- Sessions ---

std::string MarksText(const TeamFigures& team, const SessionAnalysis& analysis) {
  return std::string(team.oversubscribed ? "*" : "") + (team.too_short ? "~" : "") +
         (team.noisy ? "!" : "") + (analysis.use.one_processor ? "#" : "");
}

std::string FiguresTable(const SessionAnalysis& analysis, const std::string& id) {
  const Figures& figures = analysis.figures;
  const std::string confidence = ConfidenceText();
  std::string table = "<div class=\"scroll\"><table class=\"figures\" id=\"" + id +
                      "\">\n<thead><tr><th>threads</th><th>median s</th><th>[" + confidence +
                      " interval]</th><th>IQR s</th><th>out</th><th>S vs serial</th><th>[" +
                      confidence + "]</th><th>S vs 1 thread</th><th>[" + confidence +
                      "]</th><th>efficiency</th><th>e(p)</th><th>[" + confidence +
                      "]</th><th class=\"text\">marks</th></tr></thead>\n<tbody>\n";
  table += "<tr data-threads=\"serial\"><th scope=\"row\">serial</th>" +
           EstimateCells(figures.serial, 3, "serial_seconds") +
           NumberCell(figures.serial.iqr, 3, "serial_seconds.iqr") +
           CountCell(figures.serial.outliers, "serial_seconds.outliers") +
           "<td></td><td></td><td></td><td></td><td></td><td></td><td></td><td class=\"mark\">" +
           (figures.serial_too_short ? "~" : "") + "</td></tr>\n";
  for (const TeamFigures& team : figures.teams) {
    table += "<tr data-threads=\"" + std::to_string(team.threads) + "\"><th scope=\"row\">" +
             std::to_string(team.threads) + "</th>" + EstimateCells(team.seconds, 3, "seconds") +
             NumberCell(team.seconds.iqr, 3, "seconds.iqr") +
             CountCell(team.seconds.outliers, "seconds.outliers") +
             EstimateCells(team.speedup_vs_serial, 2, "speedup_vs_serial") +
             EstimateCells(team.speedup_vs_one_thread, 2, "speedup_vs_one_thread") +
             NumberCell(team.efficiency.median, 2, "efficiency.median") +
             (team.threads < 2
                  ? std::string("<td></td><td></td>")
                  : NumberCell(team.karp_flatt, 3, "karp_flatt.median") +
                        IntervalCell(team.karp_flatt_low, team.karp_flatt_high, 3, "karp_flatt")) +
             "<td class=\"mark\">" + MarksText(team, analysis) + "</td></tr>\n";
  }
  return table + "</tbody>\n</table></div>\n";
}

std::string AmdahlText(const AmdahlFit& fit) {
  if (!fit.a) return "<p>Amdahl fit: not made (the processor count is not recorded).</p>\n";
  std::string text =
      "<p>Amdahl fit T(p) = a + b/p over team sizes 1.." + std::to_string(fit.team_sizes) +
      (fit.team_sizes < 3
           ? " (it rests on " + CountText(fit.team_sizes, "point", "points") + " only)"
           : "") +
      ": a " + FixedText(fit.a, 4) + " s, b " + FixedText(fit.b, 4) +
      " s; serial fraction f = a / (a + b) = " + FixedText(fit.serial_fraction, 4) + " [" +
      FixedText(fit.low, 4) + ", " + FixedText(fit.high, 4) + "], speedup limit 1/f " +
      (fit.limit ? FixedText(fit.limit, 1) : "none") + " (interval from " +
      std::to_string(fit.resamples) + " resamples of whole runs, seed " + std::to_string(fit.seed) +
      ").</p>\n";
  return text;
}

std::string SessionLegend(const Session& session, const SessionAnalysis& analysis) {
  std::string legend =
      "<dl class=\"legend\">\n<dt>S</dt><dd>the serial (or one-thread) time divided by the "
      "row's time, within each run; efficiency: S vs serial / threads.</dd>\n"
      "<dt>[a, b]</dt><dd>distribution-free " +
      ConfidenceText() +
      " interval for the median from order statistics; — where there is none.</dd>\n"
      "<dt>out</dt><dd>times beyond Tukey's fences, counted and kept.</dd>\n"
      "<dt>e(p)</dt><dd>Karp-Flatt serial fraction: the share of the work that behaved as if "
      "it were serial at p threads.</dd>\n";
  if (!session.context.processors) {
    legend +=
        "<dt>*</dt><dd>processors not recorded: no team size is marked as "
        "oversubscribed.</dd>\n";
  } else {
    legend += "<dt>*</dt><dd>more threads than the " +
              CountText(*session.context.processors, "processor", "processors") +
              " available.</dd>\n";
  }
  const double tick = analysis.figures.tick.seconds;
  legend += "<dt>~</dt><dd>a time below " + TooShortText(tick) + ": too short for the " +
            TickText(tick) +
            " clock.</dd>\n<dt>!</dt><dd>speedup interval "
            "wider than ±" +
            Formatted("%g", NOISY_HALF_WIDTH * 100.0) + "% of its median, or none.</dd>\n";
  if (analysis.use.one_processor) {
    legend += "<dt>#</dt><dd>not a parallel result: the runs used about one processor (" +
              FixedText(analysis.use.cpu_per_wall, 2) + " s of CPU per second).</dd>\n";
  }
  return legend + "</dl>\n";
}

std::vector<std::string> SessionWarningTexts(const SessionAnalysis& analysis) {
  std::vector<std::string> texts;
  for (const Warning& warning : analysis.warnings) texts.push_back(WarningText(warning));
  return texts;
}

// One session's head, failed runs and warnings, table, fit, `chart` (markup), legend and context;
// `id` tells its table apart.
std::string SessionBody(const Session& session, const SessionAnalysis& analysis,
                        const std::string& id, const std::string& chart) {
  std::string body = "<div class=\"head\">\n";
  for (const std::string& line : SessionHeadLines(session, analysis)) {
    body += "<p>" + Escaped(line) + "</p>\n";
  }
  std::vector<std::string> warnings;
  for (std::size_t i = 0; i < session.runs.size(); ++i) {
    if (!session.runs[i].report.failure.empty()) {
      warnings.push_back(
          "run " + std::to_string(i + 1) +
          " failed and is left out of the figures: " + session.runs[i].report.failure);
    }
  }
  for (const std::string& warning : SessionWarningTexts(analysis)) warnings.push_back(warning);
  body += "</div>\n" + WarningList(warnings);
  body += "<h3>Figures</h3>\n" + FiguresTable(analysis, id) + AmdahlText(analysis.figures.amdahl);
  body += chart;
  body += "<h3>Legend</h3>\n" + SessionLegend(session, analysis);
  body += "<h3>Context</h3>\n" + ContextTable(session.context);
  return body;
}

std::string SessionsChartFigure(const std::vector<NamedSession>& sessions) {
  const PlotRequest request = SessionsChart("chart.svg", sessions);
  return ChartFigure(
      PlotScript(request, "chart.svg"),
      "Speedup vs serial (left) and efficiency (right) against team size: medians with their " +
          ConfidenceText() +
          " intervals as bars, Amdahl's fit dashed; the same figures as the table.",
      "chart of speedup and efficiency against team size, with intervals; the table holds the "
      "same figures");
}

// --- Comparisons ---

std::string VerdictCell(Verdict verdict) {
  const std::string words = VerdictText(verdict);
  const char* kind = verdict == Verdict::kSlower   ? " slower"
                     : verdict == Verdict::kFaster ? " faster"
                                                   : "";
  return "<td class=\"text verdict" + std::string(kind) + "\">" + Escaped(words) + "</td>";
}

std::string ComparisonRows(const Comparison& comparison, const std::string& id) {
  std::string table =
      "<table class=\"comparison\" id=\"" + id +
      "\">\n<thead><tr><th>threads</th><th>BASE s</th><th>NEW s</th><th>NEW/BASE</th><th>[" +
      ConfidenceText() +
      " interval]</th><th>p</th><th>Holm p</th><th class=\"text\">verdict</th></tr></thead>\n"
      "<tbody>\n";
  for (const RowComparison& row : comparison.rows) {
    table += "<tr data-threads=\"" + RowLabel(row.threads) + "\"><th scope=\"row\">" +
             RowLabel(row.threads) + "</th>" + NumberCell(row.base_median, 3, "base_median_s") +
             NumberCell(row.new_median, 3, "new_median_s") + NumberCell(row.ratio, 3, "ratio") +
             IntervalCell(row.ratio_low, row.ratio_high, 3, "ratio") + "<td data-v=\"" +
             NumberText(row.p_value) + "\">" + PValueText(row.p_value) + "</td><td data-v=\"" +
             NumberText(row.p_holm) + "\">" + PValueText(row.p_holm) + "</td>" +
             VerdictCell(row.verdict) + "</tr>\n";
  }
  return table + "</tbody>\n</table>\n";
}

std::string ComparisonLegend(const Comparison& comparison) {
  return "<p class=\"legend\">NEW/BASE: ratio of times from the Hodges-Lehmann shift of log "
         "times (below 1: NEW is faster), with its " +
         ConfidenceText() + " interval; p: two-sided Mann-Whitney U; Holm p: corrected over the " +
         std::to_string(comparison.rows.size()) + " rows. A verdict needs Holm p &lt; " +
         Formatted("%g", SIGNIFICANCE) + " and an interval wholly outside ±" +
         Formatted("%g", NEGLIGIBLE_CHANGE * 100.0) +
         "%; no clear difference is not proof of equality; " +
         Escaped(SmallestChangeText(
             comparison.smallest_change,
             std::max(comparison.base_tick.seconds, comparison.new_tick.seconds))) +
         ".</p>\n";
}

std::string ComparisonHead(const Comparison& comparison, const std::string& base_name,
                           const std::string& new_name) {
  return "NEW " + new_name + " (" + std::to_string(comparison.new_runs) + " runs) against BASE " +
         base_name + " (" + std::to_string(comparison.base_runs) + " runs)";
}

// --- Fleets ---

std::string VerdictKey(NodeVerdict::Kind kind) {
  using Kind = NodeVerdict::Kind;
  switch (kind) {
    case Kind::kSlower:
      return "slower";
    case Kind::kFaster:
      return "faster";
    case Kind::kLikeFleet:
      return "like";
    case Kind::kAlone:
      return "alone";
    case Kind::kNotPossible:
      return "impossible";
    case Kind::kNotJudged:
      break;
  }
  return "none";
}

std::string FleetRows(const Fleet& fleet, int& merged) {
  const std::string confidence = ConfidenceText();
  std::string table = "<div class=\"scroll\"><table class=\"sortable\" id=\"fleet\">\n<thead><tr>";
  for (const char* head : {"node", "Slurm job", "CPU", "procs", "runs", "serial s", "serial [95%]",
                           "p", "S@p", "S@p [95%]", "efficiency", "verdict"}) {
    std::string shown = head;
    if (const std::size_t at = shown.find("95%"); at != std::string::npos) {
      shown.replace(at, 3, confidence);
    }
    const bool text =
        shown == "node" || shown == "Slurm job" || shown == "CPU" || shown == "verdict";
    table += std::string("<th") + (text ? " class=\"text\"" : "") +
             " scope=\"col\"><button type=\"button\">" + Escaped(shown) + "</button></th>";
  }
  table += "</tr></thead>\n<tbody>\n";
  for (const NodeRow& node : fleet.nodes) {
    if (!node.input.merged) continue;
    ++merged;
    const Context& context = node.input.session.context;
    const TeamFigures& team = node.figures.teams[node.team - 1];
    const std::string kind = VerdictKey(node.verdict.kind);
    table += "<tr data-verdict=\"" + kind + "\" data-node=\"" + Escaped(node.input.node) + "\">" +
             TextCell(node.input.node) + TextCell(node.input.job ? *node.input.job : "") +
             TextCell(context.cpu_model ? *context.cpu_model : "not recorded") +
             (context.processors ? CountCell(*context.processors, "processors")
                                 : std::string("<td>—</td>")) +
             CountCell(node.figures.runs, "runs") +
             EstimateCells(node.figures.serial, 3, "serial_seconds") +
             CountCell(node.team, "team") +
             EstimateCells(team.speedup_vs_serial, 2, "speedup_vs_serial") +
             NumberCell(team.efficiency.median, 2, "efficiency.median") + "<td class=\"text " +
             (JudgedApart(node.verdict) ? kind : std::string()) + "\">" +
             Escaped(NodeVerdictText(node)) + "</td></tr>\n";
  }
  return table + "</tbody>\n</table></div>\n";
}

// The verdict filter, each kind with its count, and how many rows are shown.
std::string FleetControls(const Fleet& fleet, int merged) {
  using Kind = NodeVerdict::Kind;
  std::string controls =
      "<div class=\"controls\"><label for=\"verdict-filter\">show nodes: </label>"
      "<select id=\"verdict-filter\"><option value=\"\">every verdict (" +
      std::to_string(merged) + ")</option>";
  for (const Kind kind :
       {Kind::kSlower, Kind::kFaster, Kind::kLikeFleet, Kind::kNotPossible, Kind::kAlone}) {
    int count = 0;
    for (const NodeRow& node : fleet.nodes) {
      count += node.input.merged && node.verdict.kind == kind ? 1 : 0;
    }
    if (count == 0) continue;
    controls += "<option value=\"" + VerdictKey(kind) + "\">" + Escaped(NodeVerdictKindText(kind)) +
                " (" + std::to_string(count) + ")</option>";
  }
  return controls + "</select> <span aria-live=\"polite\"><span id=\"shown-count\">" +
         std::to_string(merged) + "</span> of " + std::to_string(merged) +
         " nodes shown; click a column's head to sort by it.</span></div>\n";
}

std::string FailedNodes(const Fleet& fleet) {
  std::string list;
  for (const NodeRow& node : fleet.nodes) {
    if (!node.input.problem) continue;
    list += "<li><strong>" + std::string(node.input.merged ? "cut short" : "failed") +
            ":</strong> " + Escaped(node.input.node) +
            (node.input.node == node.input.file ? "" : " (" + Escaped(node.input.file) + ")") +
            ": " + Escaped(ProblemText(*node.input.problem)) + "</li>\n";
  }
  return list.empty() ? "<p>Every node's session was read whole.</p>\n"
                      : "<ul id=\"failed-nodes\">\n" + list + "</ul>\n";
}

// --- The reporter ---

class HtmlReporter : public Reporter {
 public:
  explicit HtmlReporter(const HtmlMaterial& material) : material_(material) {}

  std::string SessionReport(const Session& session,
                            const SessionAnalysis& analysis) const override {
    const std::string host = session.context.host ? *session.context.host : "unnamed host";
    std::string body = "<h1>matbench speedup: " + Escaped(host) + "</h1>\n";
    body += SessionBody(session, analysis, "figures",
                        SessionsChartFigure({{"speedup vs serial", &session, &analysis}}));
    body += Section(
        "raw", "Raw runs",
        "<p>The session as <code>--json</code> writes it: every run, the context and "
        "the figures. Saved to a file, <code>matbench-speedup --input FILE</code> "
        "reads it back.</p>\n<p class=\"print-only\">(The JSON is in the page "
        "file, not printed.)</p>\n" +
            RawSection("session-json", "session JSON",
                       MakeReporter(OutputFormat::kJson)->SessionReport(session, analysis)));
    return Page("matbench speedup: " + Escaped(host), body);
  }

  std::string ComparisonReport(const Comparison& comparison, const std::string& base_name,
                               const std::string& new_name) const override {
    std::string body = "<h1>matbench comparison</h1>\n<div class=\"head\"><p>" +
                       Escaped(ComparisonHead(comparison, base_name, new_name)) + "</p></div>\n" +
                       WarningList(ComparisonWarnings(comparison));
    body += Section("ratios", "NEW against BASE",
                    ComparisonRows(comparison, "comparison") + ComparisonLegend(comparison));
    const bool sides =
        material_.base && material_.added && material_.base_figures && material_.new_figures;
    if (sides) {
      PlotRequest request =
          ComparisonChart("chart.svg", comparison, base_name, *material_.base_figures, new_name,
                          *material_.new_figures);
      request.processors = material_.added->context.processors;
      body += Section(
          "chart", "Chart",
          ChartFigure(PlotScript(request, "chart.svg"),
                      "Speedup vs serial (left) and efficiency (right) of BASE and NEW against "
                      "team size: medians with their " +
                          ConfidenceText() + " intervals as bars.",
                      "chart of BASE's and NEW's speedup and efficiency against team size, with "
                      "intervals"));
      body += Section("contexts", "Contexts",
                      "<p>Fields whose values differ are highlighted and marked "
                      "\"differs\"; the warnings above name those that can change the "
                      "figures.</p>\n" +
                          ContextsTable(material_.base->context, material_.added->context));
    }
    std::string raw = RawSection(
        "comparison-json", "comparison JSON",
        MakeReporter(OutputFormat::kJson)->ComparisonReport(comparison, base_name, new_name));
    if (sides) {
      const auto record = [](const Session& session) {
        return SessionRecord(session).dump(2, ' ', false,
                                           nlohmann::json::error_handler_t::replace) +
               "\n";
      };
      raw += RawSection("base-json", "BASE session: " + base_name, record(*material_.base));
      raw += RawSection("new-json", "NEW session: " + new_name, record(*material_.added));
    }
    body += Section("raw", "Raw data",
                    "<p>The comparison as <code>--json</code> writes it, and both sessions' "
                    "runs and contexts as session files, which <code>compare</code> reads.</p>\n" +
                        raw);
    return Page("matbench comparison: " + Escaped(new_name) + " against " + Escaped(base_name),
                body);
  }

  std::string FleetReport(const Fleet& fleet) const override {
    int merged = 0;
    const std::string rows = FleetRows(fleet, merged);
    std::string body =
        "<h1>matbench fleet</h1>\n<div class=\"head\"><p>" + std::to_string(merged) + " of " +
        std::to_string(fleet.nodes.size()) + " sessions merged</p><p>fleet: serial median " +
        FixedText(fleet.serial_median, 3) + " s (nodes " + FixedText(fleet.serial_min, 3) + " to " +
        FixedText(fleet.serial_max, 3) + "), speedup median " + FixedText(fleet.speedup_median, 2) +
        " (" + FixedText(fleet.speedup_min, 2) + " to " + FixedText(fleet.speedup_max, 2) +
        ")</p></div>\n" + WarningList(FleetWarnings(fleet));
    body += Section("nodes", "Nodes",
                    FleetControls(fleet, merged) + rows +
                        "<p class=\"legend\">S@p: speedup vs serial at the "
                        "node's team size p, its core count. p: that team "
                        "size. A node is slower or faster when its runs "
                        "differ from the pooled runs of the others with Holm "
                        "p &lt; " +
                        Formatted("%g", SIGNIFICANCE) +
                        " (Mann-Whitney U, over the nodes) and the ratio's " + ConfidenceText() +
                        " interval lies wholly outside ±" +
                        Formatted("%g", NEGLIGIBLE_CHANGE * 100.0) + "%.</p>\n");
    body += Section("failed", "Failed and cut-short nodes", FailedNodes(fleet));
    if (merged > 0) {
      const Figures none;
      const PlotRequest request =
          FleetChart("chart.svg", fleet, material_.fleet_band ? *material_.fleet_band : none);
      body += Section(
          "chart", "Chart",
          ChartFigure(PlotScript(request, "chart.svg"),
                      merged > static_cast<int>(MAX_NODE_CURVES)
                          ? "Speedup vs serial (left) and efficiency (right) against team size: "
                            "the median over the nodes like the fleet with their range shaded, "
                            "and the nodes named slower or faster apart."
                          : "Speedup vs serial (left) and efficiency (right) of every node "
                            "against team size: medians with their " +
                                ConfidenceText() + " intervals as bars.",
                      "chart of the fleet's speedup and efficiency against team size; the "
                      "table holds each node's figures"));
    }
    const bool node_figures = fleet.nodes.size() <= HTML_FLEET_FIGURES_NODES;
    body += Section(
        "raw", "Raw data",
        std::string(node_figures
                        ? "<p>The fleet as <code>merge --json</code> writes it: each node's "
                          "verdict and its session, every run kept.</p>\n"
                        : "<p>The fleet as <code>merge --json</code> writes it, but for each "
                          "node's figures, left out above " +
                              std::to_string(HTML_FLEET_FIGURES_NODES) +
                              " nodes to keep the page quick to open: every run, context and "
                              "verdict is kept, and merge recomputes the figures from the "
                              "runs.</p>\n") +
            RawSection("fleet-json", "fleet JSON",
                       FleetJson(fleet, node_figures)
                               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                           "\n"));
    return Page("matbench fleet", body);
  }

  std::string StudyReport(const std::vector<NamedSession>& sessions,
                          const std::vector<Comparison>& comparisons) const override {
    std::string body = "<h1>matbench placement study</h1>\n" +
                       Section("chart", "Chart of every placement", SessionsChartFigure(sessions));
    for (std::size_t i = 0; i < sessions.size(); ++i) {
      body += Section("placement-" + std::to_string(i + 1), sessions[i].name,
                      SessionBody(*sessions[i].session, *sessions[i].analysis,
                                  "figures-" + std::to_string(i + 1), ""));
    }
    for (std::size_t i = 0; i < comparisons.size(); ++i) {
      body += Section("comparison-" + std::to_string(i + 1),
                      sessions[i + 1].name + " against " + sessions[0].name,
                      WarningList(ComparisonWarnings(comparisons[i])) +
                          ComparisonRows(comparisons[i], "ratios-" + std::to_string(i + 1)) +
                          ComparisonLegend(comparisons[i]));
    }
    body +=
        Section("raw", "Raw data",
                RawSection("study-json", "placement study JSON",
                           MakeReporter(OutputFormat::kJson)->StudyReport(sessions, comparisons)));
    return Page("matbench placement study", body);
  }

 private:
  HtmlMaterial material_;
};

// --- Traces ---

std::string Share(const RegionSplit& split, double seconds) {
  return split.seconds > 0.0 ? Formatted("%.1f%%", seconds / split.seconds * 100.0) : "—";
}

// Per team, POP's efficiencies and the dominant loss, in the table's words.
std::string WhyList(const TraceFigures& figures) {
  std::string list = "<ul class=\"why\">\n";
  for (const std::string& line : TraceWhyLines(figures)) {
    list += "<li>" + HtmlEscaped(line) + "</li>\n";
  }
  return list + "</ul>\n";
}

std::string TraceRows(const TraceFigures& figures) {
  const std::string confidence = ConfidenceText();
  std::string table =
      "<div class=\"scroll\"><table id=\"split\">\n<thead><tr><th>threads</th><th>runs</th>"
      "<th>region ms</th><th>[" +
      confidence +
      "]</th><th>report ms</th><th>fork</th><th>tool</th><th>waiting for a core</th><th>work"
      "</th><th>scheduling</th><th>imbalance</th><th>join</th><th>rows "
      "min/med/max</th><th>idle</th><th>S traced vs 1</th><th>[" +
      confidence + "]</th><th>S report vs 1</th><th>[" + confidence +
      "]</th></tr></thead>\n<tbody>\n";
  for (const TeamTrace& team : figures.teams) {
    const std::string rows = team.rows_median ? FixedText(team.rows_min, 0) + "/" +
                                                    FixedText(team.rows_median, 0) + "/" +
                                                    FixedText(team.rows_max, 0)
                                              : std::string("not traced");
    table += "<tr data-threads=\"" + std::to_string(team.threads) + "\"><th scope=\"row\">" +
             std::to_string(team.threads) + "</th>" + CountCell(team.runs, "runs") +
             EstimateCells(team.region_ms, 3, "region_ms") +
             NumberCell(team.report_ms.median, 0, "report_ms.median") + "<td>" +
             Share(team.typical, team.typical.fork) + "</td><td>" +
             Share(team.typical, team.typical.tool) + "</td><td>" +
             (team.typical.cpu_seen ? Share(team.typical, team.typical.core_wait) : "—") +
             "</td><td>" + Share(team.typical, team.typical.work) + "</td><td>" +
             Share(team.typical, team.typical.scheduling) + "</td><td>" +
             Share(team.typical, team.typical.imbalance) + "</td><td>" +
             Share(team.typical, team.typical.join) + "</td><td>" + rows + "</td>" +
             CountCell(team.idle_threads, "idle_threads") +
             EstimateCells(team.traced_speedup, 3, "traced_speedup") +
             EstimateCells(team.report_speedup, 2, "report_speedup") + "</tr>\n";
  }
  return table + "</tbody>\n</table></div>\n";
}

}  // namespace

std::unique_ptr<Reporter> MakeHtmlReporter(const HtmlMaterial& material) {
  return std::make_unique<HtmlReporter>(material);
}

std::string TracePage(const TraceSession& session, const TraceFigures& figures,
                      const std::vector<TraceTimeline>& timelines) {
  // The terminal's head lines say the counts, the runtime and the context in the same words.
  const std::string table = TraceTable(session, figures);
  const std::vector<std::string_view> lines = SplitLines(table);
  std::string body = "<h1>matbench trace</h1>\n<div class=\"head\">\n";
  for (const std::string_view line : lines) {
    if (line.empty()) break;
    body += "<p>" + HtmlEscaped(line) + "</p>\n";
  }
  body += "</div>\n";
  std::vector<std::string> warnings;
  if (figures.lost_events > 0) {
    warnings.push_back("events lost in full buffers: " + std::to_string(figures.lost_events) +
                       " (their regions' figures are incomplete)");
  }
  for (std::size_t i = 0; i < session.untraced_reasons.size(); ++i) {
    if (!session.untraced_reasons[i].empty()) {
      warnings.push_back("traced run " + std::to_string(i + 1) +
                         " is untraced: " + session.untraced_reasons[i]);
    }
  }
  body += WarningList(warnings);
  body += Section(
      "split", "Where each team's time went",
      TraceRows(figures) +
          "<p class=\"legend\">region: the parallel region on the trace's nanosecond clock; "
          "report: the benchmark's own millisecond time of the same runs, which also holds "
          "clearing the product before the region. fork, tool, waiting for a core, work, "
          "scheduling, imbalance, join: the team's average share of the region in each state, "
          "in the run whose region took the median time (so they add up); tool: the trace "
          "tool's own work; waiting for a core: wall time less the thread's CPU time; "
          "scheduling is estimated from the claims that are not a thread's first. rows: per "
          "thread, least, median and most, medians over the runs; idle: threads that got no "
          "row. S: the one-thread time over the row's, within each run, from the trace's clock "
          "and from the report's.</p>\n" +
          WhyList(figures));
  body += Section("split-chart", "Split chart",
                  ChartFigure(SplitChartScript(session, figures, "chart.svg"),
                              "The region's time split into fork, work, scheduling, imbalance "
                              "and join, as median shares against team size; the table above "
                              "holds the same shares.",
                              "stacked bars of the region's time split by state against team "
                              "size"));
  std::string charts;
  for (const TraceTimeline& timeline : timelines) {
    const std::string script =
        TimelineScript(*timeline.trace, timeline.team, timeline.run_name, "chart.svg");
    const std::string team = CountText(timeline.team, "thread", "threads");
    if (script.empty()) {
      charts += "<p>No region of " + team + " in " + HtmlEscaped(timeline.run_name) + ".</p>\n";
      continue;
    }
    charts +=
        "<h3>Team of " + team + ", " + HtmlEscaped(timeline.run_name) + "</h3>\n" +
        ChartFigure(script,
                    "One lane per thread, one box per row it claimed, the fork, the waits "
                    "and the join drawn apart; time in ms from the region's begin.",
                    "timeline of a team of " + team + ": the rows each thread worked on over time");
  }
  if (!charts.empty()) body += Section("timelines", "Timelines", charts);
  if (!figures.overhead.rows.empty()) {
    body += Section("cost", "The tool's cost",
                    "<p>The traced runs' report times (NEW) against the untraced runs' (BASE) on "
                    "the same runtime, interleaved.</p>\n" +
                        ComparisonRows(figures.overhead, "cost-table") +
                        ComparisonLegend(figures.overhead));
  }
  body += Section("context", "Context", ContextTable(session.traced.context));
  const auto dumped = [](const nlohmann::ordered_json& json) {
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  };
  body += Section(
      "raw", "Raw data",
      "<p>The figures as <code>trace --json</code> writes them, and both sessions' "
      "runs; the raw traces stay in the trace folder.</p>\n" +
          RawSection("trace-json", "trace figures JSON",
                     dumped(TraceFiguresJson(session, figures))) +
          RawSection("traced-json", "traced session", dumped(SessionRecord(session.traced))) +
          RawSection("untraced-json", "untraced session", dumped(SessionRecord(session.untraced))));
  return Page("matbench trace", body);
}

}  // namespace speedup
