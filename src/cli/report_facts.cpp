#include "cli/report_facts.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/word_paths.h"
#include "hw/load_driver.h"
#include "hw/read_write.h"
#include "platform/acpi_base.h"
#include "platform/nvk_bios_info.h"
#include "platform/platform_check.h"
#include "platform/smbios_base.h"
#include "smbus/amp_word.h"
#include "smbus/smbus.h"
#include "smbus/system_lock.h"
#include "support/module_info.h"
#include "support/text.h"
#ifdef LIRRIN_LINUX_HARDWARE
#include "hw/kernel_board_view.h"
#include "hw/kernel_smbus_adapter.h"
#endif

namespace lirrin::cli {

namespace {

// The home folders the program may lie in: the user's, and under sudo
// (which sets HOME to root's) the invoking user's.
std::vector<std::string> HomeFolders() {
  std::vector<std::string> homes;
#ifdef _WIN32
  if (const char* home = std::getenv("USERPROFILE")) homes.emplace_back(home);
#else
  if (const char* home = std::getenv("HOME")) homes.emplace_back(home);
  if (const char* user = std::getenv("SUDO_USER")) {
    if (const passwd* entry = getpwnam(user); entry != nullptr && entry->pw_dir != nullptr) homes.emplace_back(entry->pw_dir);
  }
#endif
  return homes;
}

// The program's folder; inside a home folder it starts with "~", so the
// user's name does not appear.
std::string ProgramFolder() {
  const std::string path = ToUtf8(ModulePath());
  const std::size_t slash = path.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
  for (const std::string& home : HomeFolders()) {
    if (home.size() > 1 && folder.starts_with(home) &&
        (folder.size() == home.size() || folder[home.size()] == '/' || folder[home.size()] == '\\')) {
      folder.replace(0, home.size(), "~");
      break;
    }
  }
  return folder.empty() ? "unknown" : folder;
}

std::string BuildText() {
  std::string text = std::to_string(sizeof(void*) * 8) + "-bit";
#ifdef _WIN32
  text += " Windows";
#else
  text += " Linux";
#endif
#ifdef __VERSION__
  text += ", compiler " __VERSION__;
#endif
#ifdef NDEBUG
  text += ", optimised";
#else
  text += ", debug";
#endif
  return text;
}

// String `index` (1-based) of the SMBIOS structure that starts at `at`.
std::string StructureString(const std::vector<u8>& table, std::size_t at, u8 index) {
  if (index == 0) return "";
  std::size_t position = at + table[at + 1];
  for (u8 current = 1; position < table.size() && table[position] != 0; ++current) {
    std::size_t end = position;
    while (end < table.size() && table[end] != 0) ++end;
    if (current == index) return std::string(table.begin() + static_cast<std::ptrdiff_t>(position),
                                             table.begin() + static_cast<std::ptrdiff_t>(end));
    position = end + 1;
  }
  return "";
}

// Manufacturer, product and version (string fields 04h, 05h, 06h) of the
// first structure of `type`; serial numbers are left out.
std::string SmbiosStrings(const std::vector<u8>& table, u8 type) {
  for (std::size_t at = 0; at + 4 <= table.size() && table[at + 1] >= 4;) {
    if (table[at] == 127) break;
    if (table[at] == type && table[at + 1] >= 7 && at + table[at + 1] <= table.size()) {
      std::string text;
      for (std::size_t field = 4; field <= 6; ++field) {
        const std::string value = StructureString(table, at, table[at + field]);
        text += (field > 4 ? " / " : "") + (value.empty() ? std::string("-") : value);
      }
      return text;
    }
    // The formatted area, then the strings up to a double zero byte.
    std::size_t next = at + table[at + 1];
    while (next + 1 < table.size() && (table[next] != 0 || table[next + 1] != 0)) ++next;
    at = next + 2;
  }
  return "none";
}

std::string VerdictReason(const TNvkSpec& platform, const TNvkBiosInfo& info) {
  if (platform.IsSupported()) return "the board information block and the maker's PCI function are present";
  if (!info.MakerDevicePresent()) return "no PCI function carries the board maker's subsystem vendor ID";
  if (!info.BlockValid()) return "no valid board information block in the firmware area (E0000h..FFFFFh)";
  return "the board information block's marker is not where the program looks for it";
}

// The I/O base of the first SMBus-class function, as its BARs read; some
// families keep the base in another register, which only their base text
// (run in a transaction) knows.
std::string SMBusBase() {
  TReadWrite& io = *TReadWrite::Instance();
  for (PciAddress address : io.PciFunctions()) {
    if ((io.ReadPciDword(address, 0x08) >> 16) != 0x0C05) continue;
    for (u16 bar = 0x10; bar <= 0x24; bar += 4) {
      const u32 value = io.ReadPciDword(address, bar);
      if ((value & 1) != 0 && (value & 0xFFFC) != 0) {
        return HexText(value & 0xFFFC, 4) + " (I/O BAR at " + HexText(bar, 2) + " of the SMBus function)";
      }
    }
    return "not in an I/O BAR of the SMBus function";
  }
  return "not in a BAR (no SMBus-class PCI function; the family's own register holds it)";
}

// Other programs take the lock around each transaction, for tens of
// milliseconds (a word wait alone starts with 40 ms). A try without waiting
// would call such a program, caught mid-transaction, a holder; one that still
// has the lock after a second keeps it between transactions, and stands in
// the way. The wait stays well under the engine's own, so the report ends
// soon even then.
constexpr u32 kLockProbeWaitMs = 1000;
static_assert(kLockProbeWaitMs < TSMBus::kLockTimeoutMs);

// Another process holds the lock when the wait fails for that reason rather
// than for a lock that cannot be opened.
void ProbeLock(TReportFacts& facts) {
  TSystemLock lock(TSMBus::kDefaultLockName);
  if (lock.Acquire(kLockProbeWaitMs)) {
    lock.Release();
    facts.Lock = "free";
    return;
  }
  facts.LockHeld = lock.Problem().empty() || lock.Problem().find("held") != std::string::npos;
  facts.Lock = facts.LockHeld ? "held by another process" : "cannot be opened or created";
  facts.Failures.push_back("SMBus lock: " + facts.Lock);
}

void ProbeAmplifier(TReportFacts& facts, TWordPath* words, const std::string& route) {
  std::string failure;
  u16 word = 0;
  facts.AmplifierProbed = true;
  facts.AmplifierAnswered = words->ReadWord(amp::kAddress, amp::kCommand, word, failure);
  if (facts.AmplifierAnswered) {
    facts.Amplifier = "volume=" + std::to_string(amp::Volume(word)) + " mute=" + std::to_string(amp::IsMuted(word)) +
                      " word=" + HexText(word, 4) + " (" + route + ")";
  } else {
    facts.Amplifier = "no answer: " + failure + " (" + route + ")";
    facts.Failures.push_back("amplifier at " + HexText(amp::kSlaveAddress, 2) + ": " + failure);
  }
}

#ifdef LIRRIN_LINUX_HARDWARE
// Manufacturer, product and version of one SMBIOS structure, as the
// kernel names their files ("sys_vendor", "product_name", "product_version").
std::string DmiStrings(const std::string& directory, std::initializer_list<const char*> files) {
  std::string text;
  for (const char* name : files) {
    const std::string value = FirstLineOf(directory + "/" + name);
    text += (text.empty() ? "" : " / ") + (value.empty() ? std::string("-") : value);
  }
  return text + " (sysfs)";
}

// The real board out of reach (not root, lockdown): the check the word
// commands make through the kernel's adapter then, on what sysfs shows,
// and the SMBIOS strings the kernel shows everyone.
void GatherKernelView(TReportFacts& facts) {
  const TKernelBoardView view = ReadKernelBoardView();
  facts.Supported = view.Supported();
  facts.VerdictReason = "the hardware cannot be reached; by what the kernel shows: " + view.Evidence();
  const std::string dmi = TLinuxDevices{}.DmiDirectory;
  facts.SystemStrings = DmiStrings(dmi, {"sys_vendor", "product_name", "product_version"});
  facts.BoardStrings = DmiStrings(dmi, {"board_vendor", "board_name", "board_version"});
}

// What i2c-tools would show of the kernel's side, and who may use it.
void GatherKernelI2c(TReportFacts& facts, const std::string& adapter) {
  for (const TKernelAdapterEntry& entry : KernelI2cAdapters()) {
    facts.KernelAdapters.push_back(entry.Name + ": " + entry.Title);
  }
  struct stat status {};
  facts.I2cDev = stat("/sys/class/i2c-dev", &status) == 0 ? "loaded" : "not loaded";
  if (adapter.empty()) return;
  const std::string node = "/dev/" + adapter;
  if (stat(node.c_str(), &status) != 0) {
    facts.Device = node + ": none";
  } else {
    const group* owner = getgrgid(status.st_gid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    facts.Device = node + ": group " + (owner != nullptr ? owner->gr_name : std::to_string(status.st_gid)) +
                   ", mode " + mode + "; this user " + (access(node.c_str(), R_OK | W_OK) == 0 ? "may" : "may not") +
                   " open it";
  }
  for (const auto& [first, last] : {std::pair<u8, u8>{amp::kSlaveAddress, amp::kSlaveAddress}, {0x50, 0x57}}) {
    const std::vector<std::string> clients = KernelI2cClients(adapter, first, last);
    facts.Clients.insert(facts.Clients.end(), clients.begin(), clients.end());
  }
}
#endif

// Linux drives the real board's controller itself; on Windows the report
// reads the amplifier through the program's driver, which is what it is
// there to check.
constexpr bool OwnTransactionsOnTheChipset() {
#ifdef LIRRIN_LINUX_HARDWARE
  return true;
#else
  return false;
#endif
}

void GatherBoard(TReportFacts& facts) {
  const TNvkSpec& platform = *TNvkSpec::Instance();
  const TNvkBiosInfo& info = *TNvkBiosInfo::Instance();
  const TSmbiosBase& smbios = *TSmbiosBase::Instance();
  const TAcpiBase& acpi = *TAcpiBase::Instance();
  facts.Supported = platform.IsSupported();
  facts.VerdictReason = facts.Reached ? VerdictReason(platform, info) : "the hardware cannot be reached";
#ifdef LIRRIN_LINUX_HARDWARE
  if (!facts.Reached && facts.Board == "hw") GatherKernelView(facts);
#endif
  if (!facts.Supported) facts.Failures.push_back("platform check: " + facts.VerdictReason);
  facts.Model = ToUtf8(platform.ModelName());
  facts.Bios = ToUtf8(info.Version());
  facts.Date = ToUtf8(info.Date());
  if (smbios.Found()) {
    facts.Smbios = std::to_string(smbios.Version() >> 4) + "." + std::to_string(smbios.Version() & 0x0F) + " at " +
                   HexText(smbios.TableAddress(), 8) + ", " + std::to_string(smbios.TableLength()) + " bytes";
    facts.SystemStrings = SmbiosStrings(smbios.Table(), 1);
    facts.BoardStrings = SmbiosStrings(smbios.Table(), 2);
  } else if (facts.SystemStrings.empty()) {
    facts.Smbios = facts.SystemStrings = facts.BoardStrings = "none";
  } else {
    facts.Smbios = "not read (physical memory is closed to the program)";
  }
  for (const TAcpiBase::TTableEntry& table : acpi.Tables()) {
    if (!table.Signature.empty()) facts.AcpiTables += (facts.AcpiTables.empty() ? "" : " ") + table.Signature;
  }
  if (facts.AcpiTables.empty()) facts.AcpiTables = "none";
  facts.PciFunctions = PciFunctionLines();
}

void GatherSMBus(TReportFacts& facts, const TSession& session, TAmplifierProbe probe) {
  const TSMBus& smbus = *TSMBus::Instance();
  if (smbus.HasController()) {
    facts.Family = ToUtf8(smbus.Controller().Name);
    facts.Base = SMBusBase();
  }
  ProbeLock(facts);
  const bool mayProbe = facts.Supported || session.Force;
#ifdef LIRRIN_LINUX_HARDWARE
  if (session.Board == "hw") {
    const std::optional<TKernelSMBusOwner> owner = KernelOwnedSMBusController();
    TKernelSMBusAdapter adapter;
    if (owner) facts.AdapterUsable = adapter.Open(*owner);
    GatherKernelI2c(facts, adapter.AdapterName());
    if (owner) {
      facts.KernelOwner = owner->Text();
      facts.Adapter = facts.AdapterUsable
                          ? "/dev/" + adapter.AdapterName() + " (" + adapter.AdapterTitle() + "), word transfers"
                          : adapter.Problem();
      if (!facts.AdapterUsable) facts.Failures.push_back("kernel adapter: " + adapter.Problem());
      // Never raw I/O beside the kernel's driver: the kernel's adapter or nothing.
      if (!mayProbe) {
        facts.Amplifier = "not probed: the board is not supported";
      } else if (!facts.AdapterUsable) {
        facts.Amplifier = "not probed: the kernel's adapter cannot be used";
      } else {
        ProbeAmplifier(facts, MakeKernelWordPath(*owner).get(), "through " + adapter.AdapterName());
      }
      return;
    }
  }
#endif
  if (facts.Family.empty() && facts.Reached) facts.Failures.push_back("no SMBus controller family of the table matches");
  if (!facts.Reached) {
    facts.Amplifier = "not probed: the hardware cannot be reached";
  } else if (!mayProbe) {
    facts.Amplifier = "not probed: the board is not supported";
  } else if (facts.Family.empty()) {
    facts.Amplifier = "not probed: no SMBus controller";
  } else if (facts.LockHeld) {
    facts.Amplifier = "not probed: another process holds the SMBus lock";
  } else if (session.Board == "hw" && OwnTransactionsOnTheChipset() && probe == TAmplifierProbe::LookOnly) {
    facts.Amplifier = "not probed: a transaction of the program's own changes chipset registers, which a report "
                      "does not do (amp get reads the amplifier)";
  } else {
    ProbeAmplifier(facts, MakeEngineWordPath().get(), "through the program's own controller access");
  }
}

}  // namespace

TReportFacts GatherReportFacts(const TSession& session, TAmplifierProbe probe) {
  TReportFacts facts;
  facts.Version = LIRRIN_PROJECT_VERSION;
  facts.Build = BuildText();
  facts.Folder = ProgramFolder();
  facts.Board = session.Board;
  facts.RawRequested = session.ViaRaw;
  // Reaching the board (Windows: loading the driver) shows its failure as
  // a line of its own, at the start or at the first hardware request.
  TReadWrite::Instance();
  facts.System = QuerySystemFacts(kDriverName);
#ifdef _WIN32
  if (const TLoadDriver* loader = CurrentDriverLoader()) facts.DriverStartError = loader->StartError();
#endif
  facts.Reached = session.Met->str().empty();
  GatherBoard(facts);
  GatherSMBus(facts, session, probe);
  // The lines the session met: its start's failure first, then the error
  // boxes shown while the facts were read.
  std::vector<std::string> met;
  const std::string all = session.Met->str();
  for (std::size_t start = 0; start < all.size();) {
    const std::size_t end = all.find('\n', start);
    met.push_back(all.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = end == std::string::npos ? all.size() : end + 1;
  }
  facts.Failures.insert(facts.Failures.begin(), met.begin(), met.end());
  return facts;
}

}  // namespace lirrin::cli
