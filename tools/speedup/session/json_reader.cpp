#include "session/json_reader.h"

#include "base/interrupts.h"
#include "base/policy.h"
#include "base/text.h"

namespace speedup {
namespace {

using nlohmann::json;

// Builds the kept part of the document from the parser's events. A skipped value is only
// counted in depth, so `[[],[],...]` under an unknown key costs no memory at all.
class PruningBuilder : public nlohmann::json_sax<json> {
 public:
  explicit PruningBuilder(const JsonShape& shape) : shape_(shape) {}

  json& root() { return root_; }
  JsonFault fault() const { return fault_; }
  const std::string& message() const { return message_; }

  bool null() override { return Scalar(json(nullptr)); }
  bool boolean(bool value) override { return Scalar(json(value)); }
  bool number_integer(number_integer_t value) override { return Scalar(json(value)); }
  bool number_unsigned(number_unsigned_t value) override { return Scalar(json(value)); }
  bool number_float(number_float_t value, const string_t&) override { return Scalar(json(value)); }
  bool string(string_t& value) override { return Scalar(json(std::move(value))); }
  bool binary(binary_t&) override { return Scalar(json(nullptr)); }

  bool key(string_t& name) override {
    if (!Tick()) return false;
    if (skipping_ > 0) return true;
    key_ = std::move(name);
    if (shape_.keep) {
      path_.push_back(key_);
      kept_key_ = shape_.keep(path_);
      path_.pop_back();
    }
    return true;
  }

  bool start_object(std::size_t) override { return Open(json::object()); }
  bool start_array(std::size_t) override { return Open(json::array()); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }

  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& error) override {
    const std::string what = error.what();
    if (error.id == 406) {  // nlohmann: "number overflow parsing '1e400'"
      const std::size_t quote = what.find('\'');
      const std::string number =
          quote == what.npos ? "" : what.substr(quote + 1, what.rfind('\'') - quote - 1);
      return Fail(JsonFault::kOutOfRange,
                  "a number out of range" +
                      (number.empty() ? "" : ": " + Printable(Excerpt(number, QUOTED_LINE_BYTES))));
    }
    if (what.find("ill-formed UTF-8") != what.npos) {
      return Fail(JsonFault::kNotUtf8,
                  "a text that is not UTF-8 near byte " + std::to_string(position));
    }
    return Fail(JsonFault::kSyntax, "not valid JSON (truncated?)");
  }

 private:
  struct Frame {
    json* container;   // the object or list being filled
    bool keyed;        // it pushed its key onto path_
    bool streamed;     // its elements go to shape_.take
    std::size_t kept;  // values kept when it opened, for a streamed list
  };

  bool Fail(JsonFault fault, std::string message) {
    if (fault_ == JsonFault::kNone) {
      fault_ = fault;
      message_ = std::move(message);
    }
    return false;
  }

  // Counts an event; every 64 Ki events, looks for an interrupt.
  bool Tick() {
    if ((++events_ & 0xFFFF) == 0 && PendingInterrupt() != 0) {
      return Fail(JsonFault::kInterrupted, "interrupted by " + SignalName(PendingInterrupt()));
    }
    return true;
  }

  // Whether the value now beginning is skipped: inside a skipped value, or under a key the
  // shape does not keep.
  bool Skipped() const {
    return skipping_ > 0 ||
           (!frames_.empty() && frames_.back().container->is_object() && !kept_key_);
  }

  // Puts `value` where the parser is; the place it took.
  json* Place(json&& value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    json& container = *frames_.back().container;
    if (container.is_array()) {
      container.get_ref<json::array_t&>().push_back(std::move(value));
      return &container.get_ref<json::array_t&>().back();
    }
    json& slot = container[key_];
    slot = std::move(value);
    return &slot;
  }

  bool Keep() {
    if (++kept_ > MAX_JSON_KEPT_VALUES) {
      return Fail(JsonFault::kLimit,
                  "more than " + std::to_string(MAX_JSON_KEPT_VALUES) + " values to keep");
    }
    return true;
  }

  bool Scalar(json&& value) {
    if (!Tick()) return false;
    if (Skipped()) return true;
    if (!Keep()) return false;
    Place(std::move(value));
    return Handed();
  }

  bool Open(json&& container) {
    if (!Tick()) return false;
    if (frames_.size() + skipping_ >= MAX_JSON_DEPTH) {
      return Fail(JsonFault::kLimit,
                  "nested deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels");
    }
    if (Skipped()) {
      ++skipping_;
      return true;
    }
    if (!Keep()) return false;
    const bool in_object = !frames_.empty() && frames_.back().container->is_object();
    const bool streamed = container.is_array() && frames_.size() == 1 && in_object &&
                          !shape_.streamed.empty() && key_ == shape_.streamed;
    const bool keyed = in_object;
    if (keyed) path_.push_back(key_);
    frames_.push_back({Place(std::move(container)), keyed, streamed, kept_});
    if (streamed && shape_.start) shape_.start();
    kept_key_ = true;
    return true;
  }

  bool Close() {
    if (!Tick()) return false;
    if (skipping_ > 0) {
      --skipping_;
      return true;
    }
    if (frames_.back().keyed) path_.pop_back();
    frames_.pop_back();
    kept_key_ = true;
    return Handed();
  }

  // Hands a whole element of the streamed list to the shape and drops it.
  bool Handed() {
    if (frames_.empty() || !frames_.back().streamed) return true;
    json::array_t& list = frames_.back().container->get_ref<json::array_t&>();
    const bool taken = !shape_.take || shape_.take(list.back());
    list.pop_back();
    kept_ = frames_.back().kept;
    return taken || Fail(JsonFault::kStopped, "");
  }

  const JsonShape& shape_;
  json root_;
  std::vector<Frame> frames_;
  std::vector<std::string> path_;
  std::string key_;
  bool kept_key_ = true;
  std::size_t skipping_ = 0;  // depth inside a skipped value
  std::size_t kept_ = 0;
  std::uint64_t events_ = 0;
  JsonFault fault_ = JsonFault::kNone;
  std::string message_;
};

}  // namespace

Result<nlohmann::json> ReadJsonBounded(std::string_view text, const JsonShape& shape,
                                       JsonFault* fault) {
  PruningBuilder builder(shape);
  bool parsed = false;
  try {
    parsed = json::sax_parse(text.begin(), text.end(), &builder);
  } catch (const json::exception&) {
    parsed = false;  // the builder's own json calls cannot throw here; the parser's may
  }
  if (fault != nullptr) *fault = parsed ? JsonFault::kNone : builder.fault();
  if (parsed) return std::move(builder.root());
  const JsonFault kind = builder.fault();
  if (fault != nullptr && kind == JsonFault::kNone) *fault = JsonFault::kSyntax;
  return Fail(kind == JsonFault::kInterrupted ? FailureKind::kInterrupted : FailureKind::kInput,
              builder.message().empty() && kind != JsonFault::kStopped
                  ? "not valid JSON (truncated?)"
                  : builder.message());
}

}  // namespace speedup
