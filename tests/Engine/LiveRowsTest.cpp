// The live rows of a keyset against a plain model: every answer after every
// kill and append, across sizes that cross the tree's powers of two.
#include "Engine/LiveRows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

TEST(LiveRows, AnswersAsAPlainListOfFlagsWouldAfterKillsAndAppends) {
  for (std::size_t start : {0u, 1u, 7u, 64u, 1000u}) {
    SCOPED_TRACE(start);
    std::mt19937 rng(static_cast<unsigned>(start) + 1);
    dao::LiveRows live;
    live.Reset(start);
    std::vector<bool> alive(start, true);
    for (int step = 0; step < 1500; ++step) {
      const bool append = alive.empty() || rng() % 3 == 0;
      if (append) {
        live.Append();
        alive.push_back(true);
      } else {
        const std::size_t row = rng() % alive.size();
        if (alive[row]) {
          live.Kill(row);
          alive[row] = false;
        }
      }
      // Check a few rows in full after each step, and every row now and then.
      const std::size_t n = alive.size();
      std::vector<std::size_t> rows;
      for (int i = 0; i < 4; ++i) rows.push_back(rng() % n);
      if (step % 250 == 0)
        for (std::size_t r = 0; r < n; ++r) rows.push_back(r);
      std::size_t liveCount = 0;
      for (bool a : alive) liveCount += a;
      ASSERT_EQ(live.Live(), liveCount);
      for (std::size_t r : rows) {
        std::size_t before = 0;
        for (std::size_t i = 0; i < r; ++i) before += alive[i];
        ASSERT_EQ(live.IsDead(r), !alive[r]) << r;
        ASSERT_EQ(live.LiveBefore(r), before) << r;
        if (alive[r]) {
          ASSERT_EQ(live.Nth(before), r) << r;
        }
        std::size_t next = r;
        while (next < n && !alive[next]) ++next;
        ASSERT_EQ(live.NextLive(r), next) << r;
        std::int64_t previous = static_cast<std::int64_t>(r);
        while (previous >= 0 && !alive[static_cast<std::size_t>(previous)]) --previous;
        ASSERT_EQ(live.PreviousLive(static_cast<std::int64_t>(r)), previous) << r;
      }
    }
  }
}

}  // namespace
