#include "support/singletons.h"

#include <algorithm>
#include <vector>

namespace lirrin {

namespace {

std::vector<TSingletonRelease>& Enlisted() {
  static std::vector<TSingletonRelease> releases;
  return releases;
}

}  // namespace

void EnlistSingleton(TSingletonRelease release) {
  std::vector<TSingletonRelease>& releases = Enlisted();
  releases.erase(std::remove(releases.begin(), releases.end(), release), releases.end());
  releases.push_back(release);
}

void ReleaseSingletons() {
  std::vector<TSingletonRelease>& releases = Enlisted();
  while (!releases.empty()) {
    const TSingletonRelease release = releases.back();
    releases.pop_back();
    release();
  }
}

}  // namespace lirrin
