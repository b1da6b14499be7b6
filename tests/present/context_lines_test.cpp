#include "present/context_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "speedup_support.h"

namespace speedup {
namespace {

std::size_t CodePoints(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

TEST(ContextLinesTest, ContextLinesDescribeAFullContext) {
  const std::vector<std::string> expected = {
      "host runner-7, AMD EPYC 9B14, 1 package, 2 cores, 2 hardware threads",
      "L1d 32 KiB x2, L2 1 MiB x2, L3 1536 KiB; processors 0-1 (2); load 0.10 before, 1.95 after",
      "governor not recorded; THP madvise; kernel 6.1.0-18-amd64; OMP_* none; 2026-12-09T10:40:00Z",
      "GCC 12.2.0; Release; libgomp; matbench v0.3-2-gabc1234; -O3 -DNDEBUG -Wall -Wextra "
      "-ffp-contract=of…"};
  EXPECT_EQ(ContextLines(SessionBuilder().FullContext().Build().context), expected);
}

TEST(ContextLinesTest, ContextLinesAddTheSlurmJobOnlyUnderSlurm) {
  const auto lines =
      ContextLines(SessionBuilder().FullContext().Slurm("4242", "n2", "n[1-3]", 2).Build().context);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], "Slurm job 4242, node n2, nodes n[1-3], 2 processors allocated on the node");
  Context context;
  context.slurm_node = "n\x1b";
  EXPECT_EQ(ContextLines(context).back(),
            "job not recorded, node n\\x1B, node list, processors allocated on the node not "
            "recorded");
}

TEST(ContextLinesTest, ContextLinesNameEveryFieldNotRecorded) {
  const std::vector<std::string> expected = {
      "host, CPU model, packages, cores, hardware threads not recorded",
      "caches, processors, load not recorded",
      "governor, THP, kernel, OMP_* settings, date not recorded",
      "compiler, build type, OpenMP runtime, version, build flags not recorded"};
  EXPECT_EQ(ContextLines(Context{}), expected);
}

TEST(ContextLinesTest, ContextLinesCutLongValuesToOneHundredColumns) {
  Context context = SessionBuilder().FullContext().Build().context;
  context.host = "";
  for (int i = 0; i < 60; ++i) *context.host += "ホ";
  std::string even = "0";  // every even processor up to 198, none of them consecutive
  for (int cpu = 2; cpu < 200; cpu += 2) {
    even += ',';  // appended, as GCC 12 warns wrongly about "," + text in a loop
    even += std::to_string(cpu);
  }
  context.affinity = even;
  context.omp_settings = Settings{{"OMP_PLACES", std::string(200, 'p')}};
  context.build_flags = std::string(300, 'f');
  for (const std::string& line : ContextLines(context)) {
    SCOPED_TRACE(line);
    EXPECT_LE(CodePoints(line), 100u);
    EXPECT_NE(line.find("…"), std::string::npos);
  }
}

TEST(ContextLinesTest, ContextLinesShowControlCharactersAsHex) {
  Context context;
  context.host = "evil\x1b[2J\n";
  context.cpu_model =
      "A\xc2\x85"
      "B";                  // U+0085, a C1 control
  context.kernel = "\xff";  // not UTF-8 at all
  const auto lines = ContextLines(context);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("host evil\\x1B[2J\\x0A, A\\x85B"), std::string::npos) << lines[0];
  EXPECT_NE(lines[2].find("kernel \\xFF"), std::string::npos) << lines[2];
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    for (const char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20);
  }
}

}  // namespace
}  // namespace speedup
