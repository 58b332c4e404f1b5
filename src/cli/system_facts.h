#pragma once
// What a support report says about the operating system the program runs
// on, and what of it can stand between the program and the SMBus. Nothing
// here names the user or a path of theirs.

#include <string>

#include "support/types.h"

namespace lirrin::cli {

// The program's own kernel driver service (Windows).
enum class TDriverService {
  NotApplicable,  // not Windows
  Missing,        // not installed
  Stopped,
  Pending,  // starting or stopping
  Running,
  Unknown,  // the service manager could not be asked
};

struct TSystemFacts {
  std::string Os;          // one line: name, version, kernel or family word
  bool Privileged = false;  // root, or a member of Administrators
  std::string Privileges;  // "root", "not root", "administrator", ...
  // Linux: the kernel lockdown mode ("none", "integrity",
  // "confidentiality"); empty when the kernel has no lockdown.
  std::string Lockdown;
  // Windows: 64-bit Windows loads only signed kernel drivers.
  bool SignedDriversOnly = false;
  // Windows: what decides whether a kernel driver may load: "on", "off" or
  // "unknown" (an older Windows, or a system that does not say).
  std::string SecureBoot;
  std::string TestSigning;            // test-signing mode in force
  bool TestSigningRequested = false;  // asked for at boot (bcdedit /set testsigning on)
  std::string MemoryIntegrity;        // hypervisor-enforced code integrity
  TDriverService Service = TDriverService::NotApplicable;
  u32 ServiceExitCode = 0;  // the service's last Win32 exit code when stopped
  std::string ServiceText;  // one line for the report
};

// Asks the running system; `driverName` is the driver service's name.
TSystemFacts QuerySystemFacts(const char* driverName);

}  // namespace lirrin::cli
