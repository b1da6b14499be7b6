#include "io.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "text.h"

bool ReadInput(const std::string& path, std::string& text) {
  const std::string name = path == "-" ? "standard input" : Printable(path);
  FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    Complain("cannot read " + name + ": " + std::strerror(errno));
    return false;
  }
  char buffer[65536];
  std::size_t got = 0;
  while (text.size() <= MAX_INPUT_BYTES && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  const int error = std::ferror(file) != 0 ? errno : 0;
  if (file != stdin) std::fclose(file);
  if (error != 0) {
    Complain("cannot read " + name + ": " + std::strerror(error));
    return false;
  }
  if (text.size() > MAX_INPUT_BYTES) {
    Complain(name + " is larger than " + std::to_string(MAX_INPUT_BYTES >> 20) +
             " MiB, more than any saved session");
    return false;
  }
  return true;
}

void Complain(const std::string& message) {
  std::fprintf(stderr, "matbench-speedup: %s\n", message.c_str());
}

bool WriteOut(const std::string& text) {
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t got = write(STDOUT_FILENO, text.data() + written, text.size() - written);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      Complain(std::string("cannot write standard output: ") + std::strerror(errno));
      return false;
    }
    written += got;
  }
  return true;
}

bool ReadSessionFile(const std::string& path, const std::optional<int>& processors,
                     Session& session, bool* is_json) {
  std::string text;
  if (!ReadInput(path, text)) return false;
  const std::string name = path == "-" ? "standard input" : Printable(path);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  const bool json_text = first != text.npos && text[first] == '{';
  if (is_json != nullptr) *is_json = json_text;
  if (json_text) {
    if (processors) {
      Complain("--processors is for saved raw reports; " + name + " records its own");
      return false;
    }
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) {
      Complain(name + " is not valid JSON (truncated?)");
      return false;
    }
    if (const std::string error = ReadSession(json, session); !error.empty()) {
      Complain(name + ": " + error);
      return false;
    }
    return true;
  }
  const std::vector<RunReport> reports = ParseReports(text);
  if (reports.empty()) {
    Complain("no report found in " + name);
    return false;
  }
  for (const RunReport& report : reports) session.runs.push_back({report, {}, {}});
  session.context.processors = processors;
  return true;
}
