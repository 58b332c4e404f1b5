#include "support/tick_count.h"

#include <gtest/gtest.h>

namespace lirrin {
namespace {

TEST(TickCount, ExtendsAcrossWraps) {
  struct Case {
    u32 now;
    u64 previous, expected;
  };
  const Case cases[] = {
      {1000, 0, 1000},
      {0xFFFFFFFF, 1000, 0xFFFFFFFF},
      {5, 0xFFFFFFF0, 0x100000005},           // the tick wrapped
      {5, 0x300000004, 0x300000005},          // after three wraps
      {3, 0x3FFFFFFFF, 0x400000003},
      {0x80000000, 0x180000000, 0x180000000}, // the same reading twice
  };
  for (const Case& c : cases) EXPECT_EQ(ExtendTickCount(c.now, c.previous), c.expected) << c.now;
}

}  // namespace
}  // namespace lirrin
