#include "measure/placement.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "session/report_parser.h"
#include "speedup_support.h"

namespace speedup {
namespace {

TEST(PlacementTest, PlacementIsHonouredOnlyWhenEveryThreadIsBoundAsAsked) {
  const std::string bound = "level 1 thread 0x7f01 affinity 0\nlevel 1 thread 0x7f02 affinity 1\n";
  const std::string unbound = "level 1 thread 0x7f01 affinity 0-1\n";
  const std::string llvm_bound = "OMP: pid 7 tid 7 thread 0 bound to OS proc set {0}\n";
  const std::string llvm_unbound = "OMP: pid 7 tid 8 thread 1 bound to OS proc set {0,1}\n";
  EXPECT_EQ(PlacementHonoured(bound, "close", 2), true);
  EXPECT_EQ(PlacementHonoured(bound, "false", 2), false);
  EXPECT_EQ(PlacementHonoured(unbound, "spread", 2), false);
  EXPECT_EQ(PlacementHonoured(unbound, "false", 2), true);
  EXPECT_EQ(PlacementHonoured(bound + unbound, "close", 2), false) << "one unbound thread";
  EXPECT_EQ(PlacementHonoured(llvm_bound, "close", 2), true);
  EXPECT_EQ(PlacementHonoured(llvm_unbound, "false", 2), true);
  EXPECT_EQ(PlacementHonoured(llvm_bound + llvm_unbound, "spread", 2), false);
  EXPECT_EQ(PlacementHonoured("libgomp: Invalid value\n", "close", 2), std::nullopt);
}

TEST(PlacementTest, LlvmAffinityLinesAreTakenOutOfTheReport) {
  const std::string report = ReportText();
  const std::string line = "OMP: pid 7 tid 7 thread 0 bound to OS proc set {0}\n";
  const std::size_t second_line = report.find('\n') + 1;
  std::string display;
  const std::string kept = WithoutAffinityLines(
      report.substr(0, second_line) + line + report.substr(second_line), display);
  EXPECT_EQ(kept, report);
  EXPECT_EQ(display, line);
  EXPECT_EQ(ParseOneReport(kept).failure, std::nullopt);
}

TEST(PlacementTest, AffinityListsBeyondIntAreUnboundThreads) {
  // Catches counting "0-2147483647" in int (undefined: it wrapped negative, so an unbound thread
  // read as bound and "close" as honoured) and a number too long for any integer read as one.
  const struct {
    const char* line;
    bool honoured_close;  // whether "close" reads as honoured on 2 processors
  } cases[] = {{"level 1 thread 0x7f01 affinity 0-2147483647\n", false},
               {"level 1 thread 0x7f01 affinity 1-2147483647\n", false},
               {"level 1 thread 0x7f01 affinity 0-4294967297\n", false},
               {"level 1 thread 0x7f01 affinity 0,2147483646-2147483647\n", false},
               {"level 1 thread 0x7f01 affinity 0-99999999999999999999999\n", false},
               {"OMP: pid 7 tid 7 thread 0 bound to OS proc set {0-2147483647}\n", false},
               {"level 1 thread 0x7f01 affinity 2147483647\n", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(PlacementHonoured(c.line, "close", 2), c.honoured_close);
    EXPECT_EQ(PlacementHonoured(c.line, "false", 2), !c.honoured_close);
  }
}

}  // namespace
}  // namespace speedup
