#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

// A JSON reader for files from outside whose memory is bounded by what is kept, not by the file:
// values under keys the caller does not know are skipped as they are parsed, never built; one
// top-level list may be handed over element by element and dropped; the nesting depth and the
// values kept are bounded (base/policy.h), and an interrupt ends the reading. Linear in the input.
namespace speedup {

// What of a document to keep and what to stream.
struct JsonShape {
  // Whether the value under the key `path.back()` is kept; `path` holds the keys of the objects
  // leading to it from the top (a list adds no key). Empty: keep every value.
  std::function<bool(const std::vector<std::string>& path)> keep;
  // The top-level key whose list is streamed: each element, once whole, goes to `take` and is
  // then dropped, so the kept document holds that list empty. `start` is called as each such
  // list begins (a later duplicate of the key starts it afresh). `take` returns false to end
  // the reading, the caller having noted why (JsonFault::kStopped).
  std::string streamed;
  std::function<void()> start;
  std::function<bool(nlohmann::json& element)> take;
};

// Why a reading failed, for callers that tell the kinds apart.
enum class JsonFault {
  kNone,
  kSyntax,       // not JSON, or cut short
  kNotUtf8,      // a string holds bytes that are not UTF-8
  kOutOfRange,   // a number beyond a double's range
  kLimit,        // deeper, or more values kept, than the policy allows
  kStopped,      // `take` refused an element
  kInterrupted,  // an interrupt came while reading
};

// The document of `text` (a UTF-8 byte-order mark allowed), pruned to `shape`. The failure's
// message says what is wrong in a few words; `fault`, when given, tells its kind.
Result<nlohmann::json> ReadJsonBounded(std::string_view text, const JsonShape& shape,
                                       JsonFault* fault = nullptr);

}  // namespace speedup
