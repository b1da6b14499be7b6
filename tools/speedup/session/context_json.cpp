#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/text.h"
#include "session/context.h"

namespace speedup {

using nlohmann::json;

namespace {

[[noreturn]] void WrongType(const json& value, const std::string& key, const std::string& what) {
  throw json::type_error::create(
      302,
      "\"" + Shown(key) + "\" must be " + what + ", not " +
          (value.is_number() ? value.dump() : std::string(value.type_name())),
      &value);
}

const json& Member(const json& object, const char* key) {
  static const json null_value;
  const auto found = object.find(key);
  return found == object.end() ? null_value : *found;
}

// One reader per field type, chosen by overload from the field list.
void Read(const json& value, const std::string& key, std::string& out) {
  if (!value.is_string()) WrongType(value, key, "a string");
  out = value.get<std::string>();
}

// Only integers from `low` up to T's greatest, as nlohmann would otherwise take 1.5 or true for 1,
// and every integer of the context is a count: a negative processor count is no count at all.
template <typename T>
T ReadInteger(const json& value, const std::string& key, T low = 1) {
  constexpr auto high = std::numeric_limits<T>::max();
  if (value.is_number_unsigned()) {
    // A parsed file gives every number from 0 up as unsigned: the floor holds for them too.
    const auto number = value.get<std::uint64_t>();
    const bool above_low = low <= 0 || number >= static_cast<std::uint64_t>(low);
    if (above_low && number <= static_cast<std::uint64_t>(high)) return static_cast<T>(number);
  } else if (value.is_number_integer()) {
    const auto number = value.get<std::int64_t>();
    if (number >= low && number <= high) return static_cast<T>(number);
  }
  WrongType(value, key, "an integer from " + std::to_string(low) + " to " + std::to_string(high));
}

void Read(const json& value, const std::string& key, int& out) {
  out = ReadInteger<int>(value, key);
}

// The context's numbers are load averages: never negative.
void Read(const json& value, const std::string& key, double& out) {
  if (!value.is_number() || !(value.get<double>() >= 0.0)) {
    WrongType(value, key, "a number from 0 up");
  }
  out = value.get<double>();
}

CacheLevel ReadCache(const json& value, const std::string& key) {
  if (!value.is_object()) WrongType(value, key, "an object");
  CacheLevel cache;
  Read(Member(value, "name"), key + ".name", cache.name);
  cache.size_bytes = ReadInteger<long long>(Member(value, "size_bytes"), key + ".size_bytes");
  cache.count = ReadInteger<int>(Member(value, "count"), key + ".count");
  return cache;
}

void Read(const json& value, const std::string& key, Caches& out) {
  if (!value.is_array()) WrongType(value, key, "an array");
  for (std::size_t i = 0; i < value.size(); ++i) {
    out.push_back(ReadCache(value[i], key + "[" + std::to_string(i) + "]"));
  }
}

void Read(const json& value, const std::string& key, Settings& out) {
  if (!value.is_object()) WrongType(value, key, "an object");
  for (const auto& [name, setting] : value.items()) Read(setting, key + "." + name, out[name]);
}

template <typename T>
void ReadField(const json& object, const char* key, std::optional<T>& field) {
  const json& value = Member(object, key);
  if (value.is_null()) return;
  T read{};
  Read(value, key, read);
  field = std::move(read);
}

template <typename Json>
void WriteCache(Json& out, const CacheLevel& cache) {
  out = {{"name", cache.name}, {"size_bytes", cache.size_bytes}, {"count", cache.count}};
}

template <typename Json>
void WriteContext(Json& out, const Context& context) {
  out = Json::object();
#define MATBENCH_CONTEXT_PUT(type, name) \
  if (context.name) out[#name] = *context.name;
  MATBENCH_CONTEXT_FIELDS(MATBENCH_CONTEXT_PUT)
#undef MATBENCH_CONTEXT_PUT
}

void Repair(std::optional<std::string>& field) {
  if (field) *field = ValidUtf8(*field);
}

void Repair(std::optional<Settings>& field) {
  if (!field) return;
  Settings settings;
  for (const auto& [name, value] : *field) settings.emplace(ValidUtf8(name), ValidUtf8(value));
  field = settings;
}

// Numbers and cache lists hold no text of the system's.
template <typename T>
void Repair(std::optional<T>&) {}

}  // namespace

void MakeUtf8(Context& context) {
#define MATBENCH_CONTEXT_REPAIR(type, name) Repair(context.name);
  MATBENCH_CONTEXT_FIELDS(MATBENCH_CONTEXT_REPAIR)
#undef MATBENCH_CONTEXT_REPAIR
}

void to_json(json& out, const CacheLevel& cache) { WriteCache(out, cache); }
void to_json(nlohmann::ordered_json& out, const CacheLevel& cache) { WriteCache(out, cache); }
void to_json(json& out, const Context& context) { WriteContext(out, context); }
void to_json(nlohmann::ordered_json& out, const Context& context) { WriteContext(out, context); }

void from_json(const json& in, CacheLevel& cache) { cache = ReadCache(in, "cache"); }

void from_json(const nlohmann::ordered_json& in, CacheLevel& cache) { from_json(json(in), cache); }

void from_json(const nlohmann::ordered_json& in, Context& context) { from_json(json(in), context); }

void from_json(const json& in, Context& out) {
  if (!in.is_object()) WrongType(in, "context", "an object");
  Context context;  // `out` is left alone when a key is wrong
#define MATBENCH_CONTEXT_GET(type, name) ReadField(in, #name, context.name);
  MATBENCH_CONTEXT_FIELDS(MATBENCH_CONTEXT_GET)
#undef MATBENCH_CONTEXT_GET
  out = context;
}

}  // namespace speedup
