// report: the facts of this machine as one plain text for a support
// request. doctor: the same facts judged, as what is wrong and what to do.
#include <fstream>
#include <ostream>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/report_facts.h"
#include "hw/load_driver.h"
#include "smbus/amp_word.h"

namespace lirrin::cli {

namespace {

void WriteReport(const TReportFacts& facts, std::ostream& out) {
  out << "Norvik Lirrin support report\n"
      << "\n[program]\n"
      << "version: " << facts.Version << "\n"
      << "build: " << facts.Build << "\n"
      << "folder: " << facts.Folder << "\n"
      << "\n[system]\n"
      << "os: " << facts.System.Os << "\n"
      << "privileges: " << facts.System.Privileges << "\n";
  if (!facts.System.Lockdown.empty()) out << "lockdown: " << facts.System.Lockdown << "\n";
  if (facts.System.Service != TDriverService::NotApplicable) {
    out << "driver service " << kDriverName << ": " << facts.System.ServiceText << "\n"
        << "driver start: " << (facts.DriverStartError == 0 ? "no error" : DriverStartFailureText(facts.DriverStartError))
        << "\n"
        << "secure boot: " << facts.System.SecureBoot << "\n"
        << "test signing: " << facts.System.TestSigning
        << (facts.System.TestSigningRequested ? " (requested at boot)" : "") << "\n"
        << "memory integrity: " << facts.System.MemoryIntegrity << "\n";
  }
  out << "\n[board]\n"
      << "board: " << facts.Board << "\n"
      << "platform check: " << (facts.Supported ? "supported" : "not supported") << " (" << facts.VerdictReason
      << ")\n"
      << "model: " << facts.Model << "\n"
      << "bios: " << facts.Bios << "\n"
      << "date: " << facts.Date << "\n"
      << "smbios: " << facts.Smbios << "\n"
      << "smbios system: " << facts.SystemStrings << "\n"
      << "smbios board: " << facts.BoardStrings << "\n"
      << "acpi tables: " << facts.AcpiTables << "\n"
      << "\n[pci]\n";
  for (const std::string& line : facts.PciFunctions) out << line << "\n";
  if (facts.PciFunctions.empty()) out << "none found\n";
  out << "\n[smbus]\n"
      << "controller: " << (facts.Family.empty() ? "none" : facts.Family) << "\n";
  if (!facts.Family.empty()) out << "base: " << facts.Base << "\n";
#ifdef LIRRIN_LINUX_HARDWARE
  if (facts.Board == "hw") {
    out << "kernel driver: " << (facts.KernelOwner.empty() ? "none" : facts.KernelOwner) << "\n";
    if (!facts.KernelOwner.empty()) out << "kernel adapter: " << facts.Adapter << "\n";
    for (const std::string& adapter : facts.KernelAdapters) out << "i2c adapter: " << adapter << "\n";
    if (facts.KernelAdapters.empty()) out << "i2c adapters: none\n";
    out << "i2c-dev: " << facts.I2cDev << "\n";
    if (!facts.Device.empty()) out << "device: " << facts.Device << "\n";
    out << "kernel clients at 0x25 and 0x50-0x57: ";
    for (std::size_t i = 0; i < facts.Clients.size(); ++i) out << (i > 0 ? ", " : "") << facts.Clients[i];
    out << (facts.Clients.empty() ? "none\n" : "\n");
  }
#endif
  out << "lock: " << facts.Lock << "\n"
      << "amplifier: " << facts.Amplifier << "\n"
      << "\n[failures]\n";
  for (const std::string& failure : facts.Failures) out << failure << "\n";
  if (facts.Failures.empty()) out << "none\n";
}

// Why the hardware could not be reached, from what stands in the way.
void FindUnreachable(const TReportFacts& facts, std::vector<TFinding>& findings) {
  const TSystemFacts& system = facts.System;
  switch (system.Service) {
    case TDriverService::NotApplicable:
      if (!system.Lockdown.empty() && system.Lockdown != "none") {
        findings.push_back({"kernel lockdown (" + system.Lockdown + ") forbids raw port and memory access",
                            "let the kernel's SMBus driver do the work: load the controller's driver and i2c-dev; "
                            "amp, read-word and write-word go through it, and the platform check reads what the "
                            "kernel shows of the board"});
      } else if (!system.Privileged) {
        findings.push_back({"not running as root: the hardware cannot be reached",
                            "run it as root (sudo); amp, read-word and write-word need only the kernel adapter's "
                            "device, which a member of its group may open"});
      } else {
        findings.push_back({"the hardware cannot be reached: " + facts.Failures.front(),
                            "the reason above names the device or right that is missing"});
      }
      return;
    case TDriverService::Missing:
      findings.push_back({std::string("the driver service ") + kDriverName + " is not installed",
                          system.Privileged ? "reinstall Norvik Lirrin, which installs the driver"
                                            : "run lirrin-cli.exe as administrator once: it installs the driver"});
      return;
    case TDriverService::Stopped: {
      // This run's start error, else the service's own last one.
      const u32 error = facts.DriverStartError != 0 ? facts.DriverStartError : system.ServiceExitCode;
      if (error == 577) {
        findings.push_back(
            {DriverStartFailureText(error),
             system.SecureBoot == "on"
                 ? "use a release whose driver Microsoft has signed; a test-signed driver needs test-signing mode, "
                   "which Windows refuses while Secure Boot is on (switch it off in the firmware setup first)"
                 : "use a release whose driver Microsoft has signed, or switch test-signing mode on (bcdedit /set "
                   "testsigning on as administrator, then restart; Secure Boot must be off)"});
      } else if (error == 1275) {
        findings.push_back({DriverStartFailureText(error),
                            "the event log Applications and Services Logs > Microsoft > Windows > CodeIntegrity > "
                            "Operational names the rule; use a release whose driver Microsoft has signed"});
      } else if (error == 225) {
        findings.push_back({DriverStartFailureText(error),
                            "restore NvkDrv101.sys from the antivirus's quarantine and allow it (or add the program's "
                            "folder to its exclusions), then run again"});
      } else if (system.SignedDriversOnly) {
        findings.push_back({std::string("64-bit Windows loads only signed kernel drivers, and ") + kDriverName +
                                " did not start (" + system.ServiceText + ")",
                            "use a release whose driver is signed, or start Windows in test-signing mode "
                            "(bcdedit /set testsigning on) with a test-signed driver"});
      } else {
        findings.push_back({std::string("the driver service ") + kDriverName + " is " + system.ServiceText,
                            system.Privileged ? "the System event log says why it does not start"
                                              : "run lirrin-cli.exe as administrator, which starts it"});
      }
      return;
    }
    default:
      findings.push_back({std::string("the driver ") + kDriverName + " cannot be used (service: " +
                              system.ServiceText + ")",
                          system.Privileged ? "restart Windows and try again" : "run lirrin-cli.exe as administrator"});
      return;
  }
}

}  // namespace

std::vector<TFinding> DoctorFindings(const TReportFacts& facts) {
  std::vector<TFinding> findings;
  if (facts.System.TestSigningRequested && facts.System.SecureBoot == "on") {
    findings.push_back({"test-signing mode is asked for at boot, but Secure Boot is on, and Windows does not honour "
                        "it then",
                        "switch Secure Boot off in the firmware setup, or use a release whose driver Microsoft has "
                        "signed"});
  }
  if (!facts.Reached) {
    FindUnreachable(facts, findings);
  } else if (!facts.Supported) {
    findings.push_back({"this board is not supported: " + facts.VerdictReason,
                        "Norvik Lirrin is made for Norvik boards with the headphone amplifier; --force skips the "
                        "check, for diagnostics only"});
  }
  if (!facts.KernelOwner.empty()) {
    if (!facts.AdapterUsable) {
      // modprobe lasts until the next boot; systemd-modules-load reads the
      // module list at every boot.
      const std::string lasting = facts.I2cDev == "not loaded"
                                      ? "; at every boot: echo i2c-dev > /etc/modules-load.d/i2c-dev.conf (the "
                                        "lirrin-cli package installs such a file)"
                                      : "";
      findings.push_back({"the kernel driver " + facts.KernelOwner + " owns the SMBus controller, and its adapter "
                                                                      "cannot be used",
                          facts.Adapter + lasting});
    }
    if (facts.RawRequested) {
      findings.push_back({"the kernel driver " + facts.KernelOwner + " owns the SMBus controller: raw I/O races it",
                          "use --via kernel (the default while the driver is loaded)"});
    }
  } else if (facts.Reached && facts.Family.empty()) {
    findings.push_back({"no SMBus controller of the program's families was found",
                        "the chipset is not supported; attach the output of `lirrin-cli report` to a support request"});
  }
  if (facts.LockHeld) {
    findings.push_back({"another process holds the SMBus lock",
                        "close the other program that drives the SMBus (Lirrin, another lirrin-cli, a monitoring "
                        "tool) and try again"});
  }
  if (facts.AmplifierProbed && !facts.AmplifierAnswered) {
    findings.push_back({"the amplifier at " + HexText(amp::kSlaveAddress, 2) + " gives " + facts.Amplifier,
                        "check that the board carries the headphone amplifier; attach the output of "
                        "`lirrin-cli report` to a support request"});
  }
  return findings;
}

int ReportCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err) {
  if (args.size() > 1) {
    err << "lirrin-cli: usage: report [FILE]\n";
    return kExitUsage;
  }
  const TReportFacts facts = GatherReportFacts(session, TAmplifierProbe::LookOnly);
  if (args.empty()) {
    WriteReport(facts, out);
    return kExitOk;
  }
  std::ofstream file(args[0], std::ios::binary);
  WriteReport(facts, file);
  file.close();
  if (!file) {
    err << "lirrin-cli: report: cannot write '" << args[0] << "'\n";
    return kExitFailed;
  }
  return kExitOk;
}

int DoctorCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) {
    err << "lirrin-cli: doctor takes no arguments\n";
    return kExitUsage;
  }
  const TReportFacts facts = GatherReportFacts(session, TAmplifierProbe::AsAmpGet);
  const std::vector<TFinding> findings = DoctorFindings(facts);
  for (const TFinding& finding : findings) out << "wrong: " << finding.Wrong << "\n  do: " << finding.Do << "\n";
  if (!findings.empty()) return kExitFailed;
  out << "nothing wrong: the amplifier answers, " << facts.Amplifier << "\n";
  return kExitOk;
}

}  // namespace lirrin::cli
