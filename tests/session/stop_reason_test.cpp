#include <gtest/gtest.h>

#include <vector>

#include "session/session.h"

namespace speedup {
namespace {

// A stop reason is saved as words and must come back as the same kind, or a cancelled node
// would be judged as if the user had stopped it.
TEST(StopReasonTest, SavedWordsReadBackAsTheSameKind) {
  using Kind = StopReason::Kind;
  const std::vector<StopReason> reasons = {
      {Kind::kTimeLimit, 300, 0, ""},
      {Kind::kTimeLimit, 1.5, 0, ""},
      {Kind::kMaxRuns, 0, 100, ""},
      {Kind::kBenchmarkLost, 0, 0, "No such file or directory"},
  };
  for (const StopReason& reason : reasons) {
    SCOPED_TRACE(StopText(reason));
    EXPECT_EQ(StopFromText(StopText(reason)), reason);
  }
  EXPECT_EQ(StopText(reasons[0]), "--time-limit 300 s reached");
  EXPECT_TRUE(SetByUser(reasons[0]));
  EXPECT_TRUE(SetByUser(reasons[2]));
  EXPECT_FALSE(SetByUser(reasons[3]));
}

TEST(StopReasonTest, UnknownOrAlmostKnownWordsAreKeptAsTheyStand) {
  for (const char* text : {"the machine caught fire", "--time-limit 5 s reached, sort of",
                           "--max-runs many reached", "--max-runs 7 reached\n"}) {
    SCOPED_TRACE(text);
    const StopReason reason = StopFromText(text);
    EXPECT_EQ(reason.kind, StopReason::Kind::kOther);
    EXPECT_EQ(StopText(reason), text);
    EXPECT_FALSE(SetByUser(reason));
  }
}

}  // namespace
}  // namespace speedup
