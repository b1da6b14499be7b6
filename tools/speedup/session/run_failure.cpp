#include "session/run_failure.h"

#include <cstdio>
#include <string_view>

#include "base/text.h"
#include "session/session.h"

namespace speedup {
namespace {

using FaultKind = ReportFault::Kind;

const char* const AFTER_CLOSING = "text after the closing text: ";

// What is wrong with a line, after its "line N: ".
std::string LineWords(const ReportFault& fault) {
  switch (fault.kind) {
    case FaultKind::kConvertedToUtf8:
      return "this looks like a report converted to UTF-8; give the original bytes";
    case FaultKind::kTruncated:
      return "report truncated in this line";
    case FaultKind::kNegativeTime:
      return "malformed line: a negative time";
    case FaultKind::kNotATime:
      return "malformed line: not a time (1e9 s or more)";
    case FaultKind::kNoSerialLine:
      return "no SerialMulti line before it";
    case FaultKind::kTeamOutOfRange:
      return "team size out of range";
    case FaultKind::kTeamRepeated:
      return "team size repeated";
    case FaultKind::kProductDiffers:
      return "parallel product differs from the serial one";
    case FaultKind::kTeamMissing:
      return "team size " + std::to_string(fault.team) + " missing";
    case FaultKind::kNoClosingText:
      return "report truncated: no closing text";
    case FaultKind::kMalformed:
    case FaultKind::kEmptyReport:
    case FaultKind::kMoreThanOneReport:
      break;
  }
  return "malformed line";
}

std::string ReportFaultText(const ReportFault& fault) {
  if (fault.kind == FaultKind::kEmptyReport) return "empty report";
  if (fault.kind == FaultKind::kMoreThanOneReport) return "more than one report";
  return (fault.after_closing ? AFTER_CLOSING : "") + std::string("line ") +
         std::to_string(fault.line) + ": " + LineWords(fault) +
         (fault.excerpt ? ": " + Quoted(*fault.excerpt) : "");
}

// The report's fault that ReportFaultText wrote as `text`, if one did.
std::optional<ReportFault> ReportFaultFromText(std::string_view text) {
  ReportFault fault;
  if (text == "empty report") fault.kind = FaultKind::kEmptyReport;
  if (text == "more than one report") fault.kind = FaultKind::kMoreThanOneReport;
  if (fault.kind != FaultKind::kMalformed) return fault;
  std::string_view rest = text;
  fault.after_closing = rest.starts_with(AFTER_CLOSING);
  if (fault.after_closing) rest.remove_prefix(std::string_view(AFTER_CLOSING).size());
  int end = 0;
  if (std::sscanf(std::string(rest.substr(0, 64)).c_str(), "line %d: %n", &fault.line, &end) != 1 ||
      end == 0) {
    return std::nullopt;
  }
  const std::string_view words = rest.substr(static_cast<std::size_t>(end));
  std::sscanf(std::string(words.substr(0, 64)).c_str(), "team size %d missing", &fault.team);
  // The excerpt is what lies between the quotes; one that Printable changed does not read back.
  if (const std::size_t quote = words.find(": \"");
      quote != words.npos && words.ends_with('"') && words.size() >= quote + 4) {
    fault.excerpt = std::string(words.substr(quote + 3, words.size() - quote - 4));
  }
  for (int kind = static_cast<int>(FaultKind::kConvertedToUtf8);
       kind <= static_cast<int>(FaultKind::kNoClosingText); ++kind) {
    fault.kind = static_cast<FaultKind>(kind);
    if (ReportFaultText(fault) == text) return fault;
    if (fault.excerpt) {  // the same words without a quote
      ReportFault bare = fault;
      bare.excerpt.reset();
      if (ReportFaultText(bare) == text) return bare;
    }
  }
  return std::nullopt;
}

// The process's failure that ProcessFailureText wrote as `text`, if one did.
std::optional<ProcessFailure> ProcessFailureFromText(const std::string& text) {
  using Process = ProcessFailure::Kind;
  ProcessFailure failure;
  const std::string interrupted = "interrupted by ";
  const std::string head = text.substr(0, 64);
  if (text.starts_with(interrupted)) {
    failure.kind = Process::kInterrupted;
    failure.number = InterruptFromName(text.substr(interrupted.size())).signal_number;
  } else if (std::sscanf(head.c_str(), "exit status %d", &failure.number) == 1) {
    failure.kind = Process::kExitStatus;
  } else if (std::sscanf(head.c_str(), "killed by signal %d", &failure.number) == 1) {
    failure.kind = Process::kKilled;
  } else if (std::sscanf(head.c_str(), "timed out after %lg s", &failure.seconds) == 1) {
    failure.kind = Process::kTimedOut;
  } else if (text == ProcessFailureText({Process::kEndedEarly})) {
    failure.kind = Process::kEndedEarly;
  } else if (text == ProcessFailureText({Process::kStatusLost})) {
    failure.kind = Process::kStatusLost;
  }
  if (ProcessFailureText(failure) != text) return std::nullopt;
  return failure;
}

}  // namespace

std::string RunFailureText(const RunFailure& failure) {
  if (failure.process && failure.report) {
    return ProcessFailureText(*failure.process) + "; " + ReportFaultText(*failure.report);
  }
  if (failure.process) return ProcessFailureText(*failure.process);
  if (failure.report) return ReportFaultText(*failure.report);
  return failure.unknown_text;
}

RunFailure RunFailureFromText(const std::string& text) {
  RunFailure failure;
  if ((failure.report = ReportFaultFromText(text))) return failure;
  if ((failure.process = ProcessFailureFromText(text))) return failure;
  // The process's words never hold "; ", so the first one ends them.
  if (const std::size_t split = text.find("; "); split != text.npos) {
    failure.process = ProcessFailureFromText(text.substr(0, split));
    failure.report = ReportFaultFromText(std::string_view(text).substr(split + 2));
    if (failure.process && failure.report) return failure;
  }
  return {std::nullopt, std::nullopt, text};
}

}  // namespace speedup
