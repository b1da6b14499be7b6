#include <cctype>
#include <cstdio>
#include <random>
#include <utility>

#include "base/policy.h"
#include "base/text.h"
#include "present/chart.h"
#include "present/html_parts.h"
#include "present/html_reporter.h"
#include "present/page_assets.h"

namespace speedup {

std::string HtmlEscaped(std::string_view text) {
  std::string escaped;
  for (const char c : html::PageText(text)) {
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

namespace html {
namespace {

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

// gnuplot names each plot's group in an id and a tooltip ("gnuplot_plot_3c"): words for no
// reader, and ids that repeat when a page holds two charts.
std::string WithoutPlotNames(std::string svg) {
  for (const std::string_view from : {"<title>gnuplot_plot_", " id=\"gnuplot_"}) {
    const std::string_view to = from.front() == '<' ? "</title>" : "\"";
    for (std::size_t at = svg.find(from); at != std::string::npos; at = svg.find(from, at)) {
      const std::size_t end = svg.find(to, at + from.size());
      if (end == std::string::npos) break;
      svg.erase(at, end + to.size() - at);
    }
  }
  return svg;
}

// Each chart's SVG names its markers with the same ids (gnuplot's "gpPt3", "textbox"): within
// the tags of the n-th chart, each id and each reference to one gets the prefix "chartn-", so a
// page of several charts names no id twice.
std::string WithUniqueChartIds(const std::string& body) {
  static const std::string_view opening = "<div class=\"chart\">";
  std::string out;
  out.reserve(body.size() + body.size() / 16);
  std::size_t done = 0;
  int chart = 0;
  for (std::size_t at = body.find(opening); at != std::string::npos;
       at = body.find(opening, done)) {
    const std::size_t end = body.find("</svg>", at);
    if (end == std::string::npos) break;
    const std::string prefix = "chart" + std::to_string(++chart) + "-";
    out.append(body, done, at - done);
    bool in_tag = false;
    for (std::size_t i = at; i < end; ++i) {
      const char c = body[i];
      in_tag = c == '<' ? true : c == '>' ? false : in_tag;
      bool renamed = false;
      // An attribute's name follows a space (or "xlink:"); url(# is one wherever it stands.
      for (const std::string_view name : {"id='", "id=\"", "href='#", "href=\"#", "url(#"}) {
        if (in_tag && body.compare(i, name.size(), name) == 0 &&
            (name.front() == 'u' || body[i - 1] == ' ' || body[i - 1] == ':')) {
          out.append(name).append(prefix);
          i += name.size() - 1;
          renamed = true;
          break;
        }
      }
      if (!renamed) out += c;
    }
    done = end;
  }
  return out.append(body, done, std::string::npos);
}

// A page of HTML_CONTENTS_SECTIONS sections or more gets a list of links to each, under its
// headline (or its title where it has none); the sections and their headings as Section made them.
std::string WithContents(std::string body) {
  static const std::string_view opening = "<section id=\"";
  std::string links;
  std::size_t sections = 0;
  for (std::size_t at = body.find(opening); at != std::string::npos;
       at = body.find(opening, at + 1)) {
    const std::size_t id_end = body.find('"', at + opening.size());
    const std::size_t head = body.find("<h2>", id_end);
    const std::size_t head_end = body.find("</h2>", head);
    if (id_end == std::string::npos || head == std::string::npos || head_end == std::string::npos) {
      break;
    }
    links += std::string(sections++ == 0 ? "" : " · ") + "<a href=\"#" +
             body.substr(at + opening.size(), id_end - at - opening.size()) + "\">" +
             body.substr(head + 4, head_end - head - 4) + "</a>";
  }
  if (sections < HTML_CONTENTS_SECTIONS) return body;
  const bool headline = body.find("id=\"headline\"") != std::string::npos;
  const std::string_view end = headline ? "</dl>\n</div>\n" : "</h1>\n";
  std::size_t after = body.find(end, headline ? body.find("id=\"headline\"") : 0);
  if (after == std::string::npos) return body;
  after += end.size();
  body.insert(after, "<nav class=\"contents\" aria-label=\"contents\">" + links + "</nav>\n");
  return body;
}

}  // namespace

std::string Page(const std::string& title, std::string body) {
  const std::string nonce = Nonce();
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; img-src data:; base-uri 'none'; form-action 'none'; "
      "script-src 'nonce-" +
      nonce + "'\">\n<meta name=\"generator\" content=\"matbench-speedup\">\n<title>" + title +
      "</title>\n<style>\n";
  // A fleet's page runs to tens of MB: each step frees the copy before it.
  body = WithUniqueChartIds(WithContents(std::move(body)));
  page.reserve(page.size() + PAGE_CSS.size() + body.size() + PAGE_JS.size() + 200);
  page.append(PAGE_CSS).append("</style>\n</head>\n<body>\n").append(body);
  body = std::string();
  page.append("<script nonce=\"").append(nonce).append("\">\n").append(PAGE_JS);
  page.append("</script>\n</body>\n</html>\n");
  return page;
}

std::string Escaped(const std::string& text) { return HtmlEscaped(text); }

std::string PageText(std::string_view text) { return Printable(text); }

std::string Section(const std::string& id, const std::string& heading, const std::string& inner) {
  return "<section id=\"" + id + "\">\n<h2>" + Escaped(heading) + "</h2>\n" + inner +
         "</section>\n";
}

std::string WarningList(const std::vector<std::string>& warnings) {
  if (warnings.empty()) return "";
  std::string list = "<ul class=\"warnings\" role=\"note\" aria-label=\"warnings\">\n";
  for (const std::string& warning : warnings) {
    list += "<li><strong>warning:</strong> " + Escaped(warning) + "</li>\n";
  }
  return list + "</ul>\n";
}

std::string ChartFigure(const HtmlMaterial& material, const std::string& script,
                        const std::string& caption, const std::string& description) {
  DrawnChart drawn;
  drawn.result = {PlotResult::Outcome::kNotAsked, "none was drawn for this page"};
  if (material.draw) drawn = material.draw(script);
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
              "\"" + WithoutPlotNames(drawn.bytes.substr(start + 4)) + "\n</div>\n";
  } else {
    std::string why = drawn.result.outcome == PlotResult::Outcome::kGnuplotMissing
                          ? "gnuplot is not installed here, so no chart was drawn"
                      : scripted ? "the chart held a script, so it was left out"
                                 : "no chart: " + drawn.result.message;
    figure += "<p class=\"no-chart\" role=\"img\" aria-label=\"" + Escaped(description) + "\">" +
              Escaped(why) + ". The table holds every figure the chart would draw.</p>\n";
  }
  return figure + "<figcaption>" + Escaped(caption) + "</figcaption>\n</figure>\n";
}

std::string RawSection(const std::string& id, const std::string& summary, const std::string& json) {
  // The JSON once, in the script element; the page's script shows it when the section opens.
  const std::string shown =
      json.size() <= HTML_SHOWN_JSON_BYTES
          ? "<pre data-json=\"" + id + "\"></pre>\n"
          : "<p>" + ByteCountText(json.size()) +
                " of JSON, too long to show here: it is kept in this page's source, in the "
                "element <code>script#" +
                id + "</code>.</p>\n";
  // Saved under the id's name: "session-json" as session.json.
  std::string file = id;
  if (const std::size_t at = file.rfind("-json"); at != std::string::npos) file.replace(at, 5, "");
  file += ".json";
  return "<p class=\"download\"><button type=\"button\" data-download=\"" + id + "\" data-file=\"" +
         file + "\">save the " + Escaped(summary) + " as " + file +
         "</button></p>\n<details>\n<summary>" + Escaped(summary) + "</summary>\n" + shown +
         "<script type=\"application/json\" id=\"" + id + "\">" + ScriptJson(json) +
         "</script>\n</details>\n";
}

std::string CsvButton(const std::string& json_id, const std::string& kind, const std::string& file,
                      const std::string& what,
                      const std::vector<std::pair<std::string, std::string>>& lead) {
  std::string names, cells;
  for (const auto& [name, text] : lead) {
    names += (names.empty() ? "" : ",") + name;
    cells += (cells.empty() ? "" : ",") + CsvField(text);
  }
  return "<p class=\"download\"><button type=\"button\" data-csv=\"" + kind + "\" data-json=\"" +
         json_id + "\" data-file=\"" + file + "\" data-lead-names=\"" + Escaped(names) +
         "\" data-lead-cells=\"" + Escaped(cells) + "\">save " + Escaped(what) + " as " + file +
         " (CSV)</button></p>\n";
}

}  // namespace html
}  // namespace speedup
