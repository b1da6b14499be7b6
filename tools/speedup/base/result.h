#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

// The one way an operation of the tool says it failed: a value or a typed failure with its
// message. Only commands/ turns a failure into words on standard error and an exit status.
namespace speedup {

// What went wrong, by kind; the kind alone decides the exit status.
enum class FailureKind {
  kUsage,        // the command line asks for something impossible
  kInput,        // an input cannot be read, or is not what it claims to be
  kNotJson,      // a file that should hold JSON does not: cut off while written, or another kind
  kMalformed,    // a file of the right format and version with a missing or impossible value
  kOutput,       // an output cannot be written whole
  kBenchmark,    // the benchmark or a tool it runs could not be started or failed
  kInterrupted,  // a signal asked the tool to stop
};

// A failure: its kind and a one-line message naming what failed (no program name, no newline).
struct Failure {
  FailureKind kind = FailureKind::kInput;
  std::string message;
};

// Either a T or a Failure. Reading the value of a failed result is a programming error.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}            // NOLINT: implicit, as std::expected
  Result(Failure failure) : state_(std::move(failure)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  const T& value() const& {
    assert(ok());
    return std::get<0>(state_);
  }
  T& value() & {
    assert(ok());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(state_));
  }
  const T& operator*() const& { return value(); }
  T& operator*() & { return value(); }
  const T* operator->() const { return &value(); }
  T* operator->() { return &value(); }

  const Failure& failure() const {
    assert(!ok());
    return std::get<1>(state_);
  }

 private:
  std::variant<T, Failure> state_;
};

// Success without a value.
struct Done {};
using Status = Result<Done>;
inline Status Success() { return Done{}; }

// A failure of `kind` saying `message`, as a result of any type.
inline Failure Fail(FailureKind kind, std::string message) { return {kind, std::move(message)}; }

}  // namespace speedup
