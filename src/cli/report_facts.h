#pragma once
// What `report` writes and `doctor` judges: the facts of one machine as the
// program meets them, gathered with the reads the platform check and
// controller detection make anyway plus one read of the amplifier's word.
// The amplifier is read only on a supported board (or with --force), by the
// report on a real board only through the kernel's adapter (a transaction
// of the program's own changes chipset registers, which a report does not
// do), and not at all while
// another process keeps the SMBus lock for a second, so gathering ends in
// bounded time. Where the hardware cannot be reached on Linux (not root,
// lockdown), what the kernel shows everyone stands in. No text names the
// user or a path of theirs.

#include <optional>
#include <string>
#include <vector>

#include "cli/system_facts.h"

namespace lirrin::cli {

struct TSession;

struct TReportFacts {
  // The program.
  std::string Version;  // "0.1.0"
  std::string Build;    // word size, system and compiler of the build
  std::string Folder;   // where the program lies; the home folder as "~"

  TSystemFacts System;
  u32 DriverStartError = 0;  // Windows: why this run's start of the driver's service failed (0: it did not)

  // The board.
  std::string Board;               // the --board name
  bool Reached = false;            // the hardware (or simulated board) could be reached
  bool Supported = false;          // the platform check's verdict
  std::string VerdictReason;       // why, in one line
  std::string Model, Bios, Date;   // from the board information block
  std::string Smbios;              // "2.4 at 0x000F0820, 189 bytes" or "none"
  std::string SystemStrings;       // SMBIOS system: manufacturer / product / version
  std::string BoardStrings;        // SMBIOS base board: the same
  std::string AcpiTables;          // signatures in walk order
  std::vector<std::string> PciFunctions;  // in the format of `lirrin-cli pci`

  // The SMBus.
  std::string Family;       // the detected controller family; empty when none
  std::string Base;         // where its registers are, as far as a read shows
  std::string KernelOwner;  // "i801_smbus at 0000:00:1f.3"; empty when the kernel drives none
  std::string Adapter;      // the kernel adapter's device, or why it cannot be used
  bool AdapterUsable = false;
  // Linux, real board: what the kernel offers, as i2c-tools would show it.
  std::vector<std::string> KernelAdapters;  // "i2c-0: SMBus I801 adapter at 0580"
  std::string I2cDev;                       // the module's state
  std::string Device;                       // the adapter's device: group, mode, whether this user may open it
  std::vector<std::string> Clients;         // kernel drivers at the amplifier's and the EEPROMs' addresses
  bool RawRequested = false;  // --via raw
  bool LockHeld = false;      // another process holds the SMBus lock
  std::string Lock;           // "free", "held by another process" or why it cannot be had
  std::string Amplifier;      // the probe's outcome, one line
  bool AmplifierAnswered = false;
  bool AmplifierProbed = false;

  // Every failure met, in order, with its reason.
  std::vector<std::string> Failures;
};

// How far the amplifier's probe may go on a real board whose controller
// the program drives itself: the report only looks; the doctor, asked to
// find what is wrong, reads the amplifier as `amp get` does.
enum class TAmplifierProbe { LookOnly, AsAmpGet };

// Gathers the facts on the session's board; with --force the amplifier is
// probed on an unsupported board too.
TReportFacts GatherReportFacts(const TSession& session, TAmplifierProbe probe);

// The doctor's judgement: what is wrong, and what to do about it.
struct TFinding {
  std::string Wrong;
  std::string Do;
};
std::vector<TFinding> DoctorFindings(const TReportFacts& facts);

}  // namespace lirrin::cli
