#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "session/context.h"
#include "speedup_support.h"

namespace speedup {
namespace {

TEST(ContextJsonTest, JsonReadsBackExactlyWhatWasWritten) {
  const Context full = SessionBuilder().FullContext().Build().context;
  const Context slurm =
      SessionBuilder().FullContext().Slurm("4242", "n2", "n[1-3]", 2).Build().context;
  for (const Context& context : {full, slurm, Context{}}) {
    const std::string text = nlohmann::json(context).dump();
    SCOPED_TRACE(text);
    EXPECT_EQ(nlohmann::json::parse(text).get<Context>(), context);
    EXPECT_EQ(nlohmann::ordered_json::parse(nlohmann::ordered_json(context).dump()).get<Context>(),
              context);
  }
  EXPECT_EQ(nlohmann::json(Context{}).dump(), "{}");
}

TEST(ContextJsonTest, JsonMissingAndNullKeysAreNotRecorded) {
  const auto context =
      nlohmann::json::parse(R"({"host": null, "cores": 4, "later_key": [1]})").get<Context>();
  Context expected;
  expected.cores = 4;
  EXPECT_EQ(context, expected);
}

TEST(ContextJsonTest, JsonOfTheWrongTypeOrRangeThrowsTypeErrorNamingTheKey) {
  for (const char* text :
       {R"({"host": 5})", R"({"cores": 1.5})", R"({"cores": true})", R"({"cores": 3000000000})",
        R"({"load_before": "high"})", R"({"caches": {}})",
        R"({"caches": [{"name": "L1d", "size_bytes": 1}]})", R"({"omp_settings": {"OMP_X": 1}})",
        R"({"omp_settings": ["OMP_X"]})", "[]"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(nlohmann::json::parse(text).get<Context>(), nlohmann::json::type_error);
  }
  try {
    nlohmann::json::parse(R"({"caches": [{"name": "L1d", "size_bytes": 1, "count": "2"}]})")
        .get<Context>();
    FAIL() << "a count given as text was read";
  } catch (const nlohmann::json::type_error& error) {
    EXPECT_NE(std::string(error.what()).find("\"caches[0].count\""), std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace speedup
