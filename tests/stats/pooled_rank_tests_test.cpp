#include "stats/pooled_rank_tests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include "rank_law_support.h"
#include "stats/quantiles.h"

namespace speedup::stats {
namespace {

TEST(HodgesLehmannTest, RestOfAPoolGivesWhatTheListedRestGives) {
  // Catches a node's own runs left in "the others", ties split between the node and the rest
  // unlike a fresh ranking, or pair counts off by the part's pairs with itself.
  const struct {
    std::size_t pool, part;
    int levels;
  } cases[] = {{12, 4, 0},  {50, 10, 0},   {51, 10, 0},   {300, 10, 0}, {300, 10, 2},
               {400, 1, 3}, {1000, 10, 0}, {200, 199, 0}, {60, 10, 1}};
  std::mt19937_64 engine(3);
  for (const auto& c : cases) {
    const Values values = Drawn(engine, c.pool, c.levels, 0.0);
    std::vector<std::size_t> order(values.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), engine);
    Values part, rest;
    for (std::size_t i = 0; i < order.size(); ++i)
      (i < c.part ? part : rest).push_back(values[order[i]] + (i < c.part ? 0.25 : 0.0));
    Values all = rest;
    all.insert(all.end(), part.begin(), part.end());
    const Pool pool = MakePool(all);
    const ShiftEstimate expected = BruteForceHodgesLehmann(rest, part);
    const ShiftEstimate e = HodgesLehmannAgainstRest(pool, part);
    EXPECT_EQ(e.shift, expected.shift) << c.pool << " " << c.part << " " << c.levels;
    EXPECT_EQ(e.low, expected.low) << c.pool << " " << c.part << " " << c.levels;
    EXPECT_EQ(e.high, expected.high) << c.pool << " " << c.part << " " << c.levels;
    EXPECT_EQ(e.confidence, expected.confidence) << c.pool << " " << c.part;
    EXPECT_EQ(e.low_open, expected.low_open) << c.pool << " " << c.part << " " << c.levels;
    EXPECT_EQ(e.high_open, expected.high_open) << c.pool << " " << c.part << " " << c.levels;
    const RankSumTest test = MannWhitney(rest, part);
    const RankSumTest from_pool = MannWhitneyAgainstRest(pool, part);
    EXPECT_EQ(from_pool.u, test.u) << c.pool << " " << c.part << " " << c.levels;
    EXPECT_EQ(from_pool.p_value, test.p_value) << c.pool << " " << c.part << " " << c.levels;
    EXPECT_EQ(MedianOfRest(pool, part), Median(rest)) << c.pool << " " << c.part;
  }
}

TEST(MedianOfRestTest, GivesTheRestsMedianWhereThePartTiesWithTheRest) {
  // Catches the rest's k-th found by position with a tied value's copy taken twice or counted
  // after the middle, or the part's values below the middle not skipped: the part here is drawn
  // from the pool's own values, on few levels, so that it ties with the rest.
  const struct {
    std::size_t pool, part;
    int levels;
  } cases[] = {{5, 1, 1},   {6, 2, 1},     {7, 3, 2},     {40, 10, 1},
               {41, 10, 3}, {1000, 10, 2}, {1000, 10, 0}, {30, 29, 2}};
  std::mt19937_64 engine(11);
  for (const auto& c : cases) {
    Values all = Drawn(engine, c.pool, c.levels, 0.0);
    std::shuffle(all.begin(), all.end(), engine);
    const Values part(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(c.part));
    const Values rest(all.begin() + static_cast<std::ptrdiff_t>(c.part), all.end());
    EXPECT_EQ(MedianOfRest(MakePool(all), part), Median(rest))
        << c.pool << " " << c.part << " " << c.levels;
  }
}

}  // namespace
}  // namespace speedup::stats
