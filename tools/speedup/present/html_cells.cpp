#include "base/policy.h"
#include "base/text.h"
#include "present/context_lines.h"
#include "present/html_parts.h"
#include "present/html_reporter.h"

namespace speedup::html {

std::string NumberCell(const std::optional<double>& value, int decimals, const std::string& key) {
  if (!value) return "<td data-k=\"" + key + "\">—</td>";
  return "<td data-k=\"" + key + "\" data-v=\"" + NumberText(*value) + "\">" +
         FixedText(value, decimals) + "</td>";
}

std::string CountCell(long long count, const std::string& key) {
  return "<td data-k=\"" + key + "\" data-v=\"" + std::to_string(count) + "\">" +
         std::to_string(count) + "</td>";
}

std::string TextCell(const std::string& text, const std::string& kind) {
  return "<td class=\"text" + (kind.empty() ? "" : " " + kind) + "\">" + Escaped(text) + "</td>";
}

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

namespace {

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

}  // namespace

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

}  // namespace speedup::html
