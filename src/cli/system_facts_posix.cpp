// POSIX: the kernel's own name and version (uname) and, on Linux, the
// lockdown mode, under which the kernel refuses port access and /dev/mem.
#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>

#include "cli/system_facts.h"

namespace lirrin::cli {

namespace {

// The file lists the modes with the active one in brackets:
// "none [integrity] confidentiality".
std::string LockdownMode() {
  std::ifstream file("/sys/kernel/security/lockdown");
  std::string line;
  if (!std::getline(file, line)) return {};
  const std::size_t open = line.find('['), close = line.find(']');
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  return line.substr(open + 1, close - open - 1);
}

}  // namespace

TSystemFacts QuerySystemFacts(const char*) {
  TSystemFacts facts;
  utsname name{};
  if (uname(&name) == 0) {
    facts.Os = std::string(name.sysname) + " " + name.release + " " + name.version + " (" + name.machine + ")";
  } else {
    facts.Os = "unknown (uname failed)";
  }
  facts.Privileged = geteuid() == 0;
  facts.Privileges = facts.Privileged ? "root" : "not root";
  facts.Lockdown = LockdownMode();
  return facts;
}

}  // namespace lirrin::cli
