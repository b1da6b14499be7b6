#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text helpers shared by every room: escaping what came from outside, layout in columns, and
// number formatting. Each exists once, here.
namespace speedup {

// `text` safe to show on a terminal or a page: C0 and C1 controls, DEL, and bytes that are not
// part of well-formed UTF-8 appear as \xHH; bidirectional controls and the line and paragraph
// separators (U+061C, U+200E, U+200F, U+2028..U+202E, U+2066..U+2069) as \uHHHH. So input can
// neither move the cursor, reorder what is shown, nor hide behind a NUL.
std::string Printable(std::string_view text);

// `text` with each byte outside well-formed UTF-8 as \xHH, controls kept: what a JSON writer
// that accepts only UTF-8 can always write.
std::string ValidUtf8(std::string_view text);

// `text` as one quoted CSV field, made Printable: quotes doubled, and a field that begins with
// =, +, -, @, a tab or a carriage return given a leading ' so that no spreadsheet runs it as a
// formula.
std::string CsvField(std::string_view text);

// `text` made Printable for a Markdown page: <, > and & as entities, so no raw HTML (an
// `<img onerror>`, a `<!--` that hides the rest) passes, and the characters that make
// Markdown's emphasis, code, links and table cells (\ ` * _ [ ] | ~ !) escaped by a backslash.
std::string MarkdownText(std::string_view text);

// `text` in double quotes, made Printable.
std::string Quoted(std::string_view text);

// A value made Printable; an empty one shown as "" so that it does not vanish from its line.
std::string Shown(std::string_view text);

// `parts` with `separator` between them.
std::string Joined(const std::vector<std::string>& parts, std::string_view separator);

// `text` without leading and trailing spaces, tabs, CRs and LFs.
std::string Trimmed(std::string_view text);

// The words of `text` (separated by runs of white space) joined by single spaces.
std::string Words(std::string_view text);

// Columns of UTF-8 `text`, one a code point.
std::size_t Columns(std::string_view text);

// `text` cut to `columns` (at least 1) code points, ending in "…" when anything was cut.
std::string Cut(const std::string& text, std::size_t columns);

// The first `columns` code points of `text`, padded with spaces to fill them: a column of a
// table, cut as printf's "%-16.16s" would cut it but never inside a character.
std::string Padded(const std::string& text, std::size_t columns);

// At most the first `bytes` bytes of `text`, never ending inside a UTF-8 character, followed by
// "…" when anything was left out: a hostile line quoted in a message stays short.
std::string Excerpt(std::string_view text, std::size_t bytes);

// `parts` joined by `separator`, the longest parts cut (never below 12 columns) until the line
// fits `width` columns; a line of very many parts is then cut as a whole.
std::string FitLine(std::vector<std::string> parts, const std::string& separator,
                    std::size_t width = 100);

// "1 run", "2 runs": `count` and the word that goes with it.
std::string CountText(long long count, const char* singular, const char* plural);

// `value` with `decimals` decimals, or "—" where it is undefined.
std::string FixedText(const std::optional<double>& value, int decimals);

// Shortest decimal text that reads back as exactly `value`.
std::string NumberText(double value);

// `fraction` as a percentage with one decimal, e.g. "2.0%".
std::string PercentText(double fraction);

// `value` through a printf `format` holding one double conversion, e.g. ("%g%%", 5.0).
std::string Formatted(const char* format, double value);

// `bytes` in the largest binary unit that divides it: "1 MiB", "1536 bytes", "1 byte".
std::string ByteCountText(std::size_t bytes);

// The lines of `text`, each without its line feed; an unfinished last line counts too.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace speedup
