// Outside Windows there is no family: the word stays 0 and only the processor
// count is real.
#include <unistd.h>

#include "support/os_version.h"

namespace lirrin {

bool QuerySystemVersion(TVersionRecord& version, u16& architecture, u32& processorCount) {
  version = TVersionRecord{};
  architecture = kArchitectureX86;
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  processorCount = online > 0 ? static_cast<u32>(online) : 1;
  return true;
}

bool QueryIsNativeProcess() { return true; }

}  // namespace lirrin
