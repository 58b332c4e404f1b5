// The release list of the process-wide objects: newest first, once each.
#include "support/singletons.h"

#include <gtest/gtest.h>

#include <string>

namespace lirrin {
namespace {

std::string released;

void ReleaseA() { released += 'A'; }
void ReleaseB() { released += 'B'; }
void ReleaseC() { released += 'C'; }

TEST(Singletons, ReleasedNewestFirstAndOnlyOnce) {
  released.clear();
  EnlistSingleton(&ReleaseA);
  EnlistSingleton(&ReleaseB);
  EnlistSingleton(&ReleaseC);
  ReleaseSingletons();
  EXPECT_EQ(released, "CBA");
  ReleaseSingletons();
  EXPECT_EQ(released, "CBA");
}

// An object created again after an earlier release is now the newest.
TEST(Singletons, ACreatedAgainObjectMovesToTheNewestPlace) {
  released.clear();
  EnlistSingleton(&ReleaseA);
  EnlistSingleton(&ReleaseB);
  EnlistSingleton(&ReleaseC);
  EnlistSingleton(&ReleaseA);
  ReleaseSingletons();
  EXPECT_EQ(released, "ACB");
}

}  // namespace
}  // namespace lirrin
