// The words of each kind of session warning, made by WarningText alone.
#include "present/words.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <variant>

namespace speedup {
namespace {

// A kind rendered with another kind's words, a value put in the wrong place or a word changed
// would change what every report prints: each kind's sentence, whole.
TEST(WordsTest, EachWarningKindSaysItsOwnSentenceWithItsOwnValues) {
  const struct {
    Warning warning;
    const char* text;
  } cases[] = {
      {TeamsMayShrink{"OMP_DYNAMIC=true"},
       "OMP_DYNAMIC=true lets the runtime run smaller teams than the report's team sizes say"},
      {BusyMachine{2.5},
       "load average 2.50 over the minute before the runs: other work may have slowed them"},
      {PartialAllocation{.received = 1, .whole = 4, .whole_is_node = true},
       "the Slurm task received 1 processor of the node's 4: speedups beyond 1 threads describe "
       "the allocation, not the node"},
      {PartialAllocation{.received = 2, .whole = 8, .whole_is_node = false},
       "the Slurm task received 2 processors of the 8 allocated on the node: speedups beyond 2 "
       "threads describe the allocation, not the node"},
      {SerialDrift{.rho = -0.5, .p_value = 0.0123},
       "the serial time drifted during the session (Spearman rho -0.50 against the run number, "
       "p 0.012): the machine got faster"},
      {DriftNotJudged{.runs = 3, .runs_to_judge = 5},
       "drift cannot be judged from 3 runs: no order of so few gives p below 0.05; 5 runs can "
       "show it"},
      {PlacementUnchecked{"close"},
       "could not check OMP_PROC_BIND=close: the runtime showed no thread affinity"},
      {PlacementNotHonoured{"spread"},
       "the runtime did not honour OMP_PROC_BIND=spread with OMP_PLACES=cores: its threads were "
       "not bound as asked"},
      {OneProcessor{1.02},
       "the runs used about one processor (1.02 s of CPU per second of wall time) although teams "
       "of several threads were asked for: no speedup here is a parallel result"},
      {TickFound{0.001},
       "the clock's tick is not recorded: 1 ms, found from the times (every one a whole "
       "millisecond)"},
      {TickFound{0.0005},
       "the clock's tick is not recorded: 0.0005 s, found from the times (not every one a whole "
       "millisecond)"},
      {AboveProcessors{.threads = 2, .speedup = 2.6, .processors = 2, .teams = 3},
       "the speedup at 2 threads, 2.60, lies with its whole interval above the 2 processors it "
       "could use (so do 2 more team sizes): the serial baseline was slowed (load, caches), so the "
       "figure is not a parallel result"},
      {AboveProcessors{.threads = 1, .speedup = 1.4, .processors = 1, .teams = 1},
       "the speedup at 1 thread, 1.40, lies with its whole interval above the 1 processor it could "
       "use: the serial baseline was slowed (load, caches), so the figure is not a parallel "
       "result"},
  };
  std::set<std::size_t> kinds;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(WarningText(c.warning), c.text);
    kinds.insert(c.warning.index());
  }
  EXPECT_EQ(kinds.size(), std::variant_size_v<Warning>) << "a kind of warning is left untested";
}

// A setting or placement comes from the environment: a control byte in it must not reach a
// terminal or a page as it is.
TEST(WordsTest, OutsideTextInAWarningIsShownPrintable) {
  for (const Warning& warning :
       {Warning{TeamsMayShrink{"OMP_DYNAMIC=\x1b[2Jtrue"}}, Warning{PlacementUnchecked{"\x1b[2J"}},
        Warning{PlacementNotHonoured{"a\nb"}}}) {
    const std::string text = WarningText(warning);
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace speedup
