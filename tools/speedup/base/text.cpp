#include "base/text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <sstream>

namespace speedup {

namespace {

// Length of the well-formed UTF-8 sequence `text` starts with, or 0 when it starts with none.
std::size_t SequenceLength(std::string_view text) {
  const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // overlong forms, surrogates and code points past U+10FFFF excluded
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// Whether the code point moves or hides text where it is shown: the bidirectional embeddings,
// overrides, isolates and marks (U+202E shows "exe.txt" for "txt.exe"), and the line and
// paragraph separators.
bool Invisible(char32_t point) {
  return point == 0x061C || point == 0x200E || point == 0x200F ||
         (point >= 0x2028 && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// The code point of the well-formed sequence of `length` bytes `text` starts with.
char32_t CodePoint(std::string_view text, std::size_t length) {
  const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (length == 1) return byte(0);
  char32_t point = byte(0) & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) point = point << 6 | (byte(i) & 0x3F);
  return point;
}

std::string Hex(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string shown;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = SequenceLength(text.substr(pos));
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (length == 0 || (length == 1 && (lead < 0x20 || lead == 0x7F))) {
      shown += Hex(lead);
      ++pos;
    } else if (length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[pos + 1]) < 0xA0) {
      shown += Hex(static_cast<unsigned char>(text[pos + 1]));  // C1 controls, U+0080..U+009F
      pos += 2;
    } else if (length > 1 && Invisible(CodePoint(text.substr(pos), length))) {
      char point[16];
      std::snprintf(point, sizeof point, "\\u%04X",
                    static_cast<unsigned>(CodePoint(text.substr(pos), length)));
      shown += point;
      pos += length;
    } else {
      shown += text.substr(pos, length);
      pos += length;
    }
  }
  return shown;
}

std::string ValidUtf8(std::string_view text) {
  std::string valid;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = SequenceLength(text.substr(pos));
    if (length == 0) {
      valid += Hex(static_cast<unsigned char>(text[pos++]));
    } else {
      valid += text.substr(pos, length);
      pos += length;
    }
  }
  return valid;
}

std::string CsvField(std::string_view text) {
  const std::string shown = Printable(text);
  std::string field = "\"";
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    field += '\'';
  }
  for (const char c : shown) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + "\"";
}

std::string MarkdownText(std::string_view text) {
  std::string markdown;
  for (const char c : Printable(text)) {
    if (c == '<') {
      markdown += "&lt;";
    } else if (c == '>') {
      markdown += "&gt;";
    } else if (c == '&') {
      markdown += "&amp;";
    } else {
      if (std::string_view("\\`*_[]|~!").find(c) != std::string_view::npos) markdown += '\\';
      markdown += c;
    }
  }
  return markdown;
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += Printable(text);
  quoted += '"';
  return quoted;
}

std::string Shown(std::string_view text) { return text.empty() ? "\"\"" : Printable(text); }

std::string Joined(const std::vector<std::string>& parts, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += separator;
    joined += parts[i];
  }
  return joined;
}

std::string Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

std::string Words(std::string_view text) {
  std::istringstream stream{std::string(text)};
  return Joined({std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()},
                " ");
}

std::size_t Columns(std::string_view text) {
  return std::count_if(text.begin(), text.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

std::string Padded(const std::string& text, std::size_t columns) {
  std::size_t end = 0;
  std::size_t code_points = 0;
  for (; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && code_points++ == columns) break;
  }
  std::string cell = text.substr(0, end);
  cell.append(columns - std::min(columns, Columns(cell)), ' ');
  return cell;
}

std::string Excerpt(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return std::string(text);
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end)) + "…";
}

std::string Cut(const std::string& text, std::size_t columns) {
  if (Columns(text) <= columns) return text;
  std::size_t code_points = 0;
  std::size_t end = 0;
  for (; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && code_points++ == columns - 1) {
      break;
    }
  }
  std::string kept = text.substr(0, end);
  while (!kept.empty() && kept.back() == ' ') kept.pop_back();  // "-O3 …" reads as a gap
  return kept + "…";
}

std::string FitLine(std::vector<std::string> parts, const std::string& separator,
                    std::size_t width) {
  // Cutting a part stops here, so that its label stays readable.
  constexpr std::size_t SHORTEST_PART = 12;
  const auto columns_now = [&parts, &separator] {
    std::size_t columns = separator.size() * (parts.size() - 1);
    for (const auto& part : parts) columns += Columns(part);
    return columns;
  };
  for (std::size_t columns = columns_now(); columns > width; columns = columns_now()) {
    const auto longest = std::max_element(
        parts.begin(), parts.end(),
        [](const std::string& a, const std::string& b) { return Columns(a) < Columns(b); });
    const std::size_t longest_columns = Columns(*longest);
    if (longest_columns <= SHORTEST_PART) break;
    const std::size_t excess = columns - width;
    *longest = Cut(*longest, excess < longest_columns - SHORTEST_PART ? longest_columns - excess
                                                                      : SHORTEST_PART);
  }
  // Only a line of very many parts, as from a hostile file, can still be too wide.
  return Cut(Joined(parts, separator), width);
}

std::string CountText(long long count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string FixedText(const std::optional<double>& value, int decimals) {
  if (!value) return "—";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, *value);
  return text;
}

std::string NumberText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string PercentText(double fraction) { return Formatted("%.1f%%", fraction * 100.0); }

std::string Formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string ByteCountText(std::size_t bytes) {
  static constexpr const char* UNITS[] = {"KiB", "MiB", "GiB", "TiB"};
  const char* unit = nullptr;
  for (const char* larger : UNITS) {
    if (bytes < 1024 || bytes % 1024 != 0) break;
    bytes /= 1024;
    unit = larger;
  }
  if (unit != nullptr) return std::to_string(bytes) + " " + unit;
  return CountText(static_cast<long long>(bytes), "byte", "bytes");
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace speedup
