#include "hw/linux_hardware_transport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/io.h>
#include <sys/mman.h>
#include <unistd.h>
#include <x86intrin.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "hw/firmware.h"
#include "support/os_version.h"

namespace lirrin {

namespace {

// /dev/mem maps whole pages of the processor's 4 KiB page size.
constexpr u64 kPageSize = 4096;

// The pages under one memory request, each mapped on its own. The kernel
// checks every mapping of /dev/mem against the ranges it lets user space
// reach (RAM is refused, firmware areas and MMIO are allowed), so mapping
// page by page reaches every allowed page whatever lies beside it, and all
// pages are mapped before the first byte moves: a refused page fails the
// request with nothing copied. mmap reaches ranges above RAM where pread of
// /dev/mem fails with EFAULT; without O_SYNC the kernel picks the caching the
// range already has (uncached for MMIO). Read-only mappings are kept for
// the transport's life: the start-up searches read the same firmware pages
// several times, and each mapping, fault and unmapping is a costly trip
// into the kernel (most of all in an emulated machine).
class TMappedPages {
 public:
  // Read-only pages come from and go to `readable`, the transport's kept
  // mappings; writable ones are mapped for this request alone.
  TMappedPages(int fd, u64 address, u32 length, int protection, TPageMappings& readable)
      : FirstPage(address / kPageSize), Owned(protection != PROT_READ) {
    const u64 lastPage = (address + length - 1) / kPageSize;
    if (!Owned && readable.size() + (lastPage - FirstPage + 1) > kKeptPages) ForgetAll(readable);
    for (u64 page = FirstPage; page <= lastPage; ++page) {
      if (!Owned) {
        if (const auto kept = readable.find(page); kept != readable.end()) {
          Pages.push_back(kept->second);
          continue;
        }
      }
      void* mapped = mmap(nullptr, kPageSize, protection, MAP_SHARED, fd, static_cast<off_t>(page * kPageSize));
      if (mapped == MAP_FAILED) return;
      Pages.push_back(static_cast<u8*>(mapped));
      if (!Owned) readable.emplace(page, static_cast<u8*>(mapped));
    }
    AllMapped = true;
  }
  ~TMappedPages() {
    if (!Owned) return;
    for (u8* page : Pages) munmap(page, kPageSize);
  }
  TMappedPages(const TMappedPages&) = delete;
  TMappedPages& operator=(const TMappedPages&) = delete;

  bool Complete() const { return AllMapped; }

  // The mapped byte at physical `address`; the units move byte by byte
  // wherever they are not aligned, so no access crosses a page.
  u8* At(u64 address) const { return Pages[address / kPageSize - FirstPage] + address % kPageSize; }

  static void ForgetAll(TPageMappings& readable) {
    for (const auto& [page, mapped] : readable) munmap(mapped, kPageSize);
    readable.clear();
  }

 private:
  // Read-only mappings kept at most: 16 MiB of address space.
  static constexpr std::size_t kKeptPages = 4096;

  u64 FirstPage;
  bool Owned;
  std::vector<u8*> Pages;
  bool AllMapped = false;
};

// Each unit is one load or store of its width, as device registers behind
// MMIO respond to the access size.
template <typename T>
void LoadUnits(const TMappedPages& pages, u64 address, u8* bytes, u32 length) {
  for (u32 i = 0; i < length; i += sizeof(T)) {
    const T value = *reinterpret_cast<volatile const T*>(pages.At(address + i));
    std::memcpy(bytes + i, &value, sizeof(T));
  }
}

template <typename T>
void StoreUnits(const TMappedPages& pages, u64 address, const u8* bytes, u32 length) {
  for (u32 i = 0; i < length; i += sizeof(T)) {
    T value;
    std::memcpy(&value, bytes + i, sizeof(T));
    *reinterpret_cast<volatile T*>(pages.At(address + i)) = value;
  }
}

// Whole units of 1, 2 or 4 bytes within the 64-bit physical address space.
bool RangeValid(u64 address, u32 length, u32 unit) {
  if (unit > kMemUnitDword) return false;
  const u32 width = 1u << unit;
  return length % width == 0 && (length == 0 || address + (length - 1) >= address);
}

// A request whose start is not a multiple of its unit moves byte by byte, as
// the simulated board and the driver serve it: firmware tables put their
// fields at any address, and no register sits across a unit boundary.
u32 EffectiveUnit(u64 address, u32 unit) { return address % (1u << unit) == 0 ? unit : kMemUnitByte; }

// MCFG: the 36-byte header, 8 reserved bytes, then 16-byte entries: the
// window's base (64 bits), segment (16 bits), first and last bus.
struct TEcamWindow {
  u64 Base = 0;
  u32 FirstBus = 0, LastBus = 0;
};

TEcamWindow ReadMcfg(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> table((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  for (std::size_t at = 44; at + 16 <= table.size(); at += 16) {
    u64 base = 0;
    u16 segment = 0;
    std::memcpy(&base, &table[at], sizeof base);
    std::memcpy(&segment, &table[at + 8], sizeof segment);
    if (segment != 0) continue;  // the program addresses segment 0 only
    return {base, static_cast<u8>(table[at + 10]), static_cast<u8>(table[at + 11])};
  }
  return {};
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string FirstLineOf(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

bool PciFunctionName(const std::string& name, u32& bus, u32& device, u32& function) {
  return std::sscanf(name.c_str(), "0000:%2x:%2x.%1x", &bus, &device, &function) == 3;
}

std::vector<std::string> PciFunctionNames(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* entries = opendir(directory.c_str())) {
    while (const dirent* entry = readdir(entries)) {
      u32 bus = 0, device = 0, function = 0;
      if (PciFunctionName(entry->d_name, bus, device, function)) names.emplace_back(entry->d_name);
    }
    closedir(entries);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TLinuxHardwareTransport::TLinuxHardwareTransport(TOsHandle memory, const TLinuxDevices& devices, TLinuxAccess access)
    : Memory(std::move(memory)),
      Access(access),
      CpuDirectory(devices.CpuDirectory),
      PciDirectory(devices.PciDirectory),
      McfgTable(devices.McfgTable) {}

// The ECAM window and the functions present, learnt at the first request
// that needs them: the kernel route's platform check reads only the
// firmware area, and every start of the program pays for each sysfs file.
void TLinuxHardwareTransport::LearnPciLayout() {
  if (PciLayoutKnown) return;
  PciLayoutKnown = true;
  const TEcamWindow window = ReadMcfg(McfgTable);
  EcamBase = window.Base;
  EcamFirstBus = window.FirstBus;
  EcamLastBus = window.LastBus;
  // The functions present, listed once: the searches probe every bus and
  // device slot, and opening each of 8192 files that do not exist costs
  // every start of the program a noticeable time, under emulation most.
  if (DIR* functions = opendir(PciDirectory.c_str())) {
    while (const dirent* entry = readdir(functions)) {
      u32 bus = 0, device = 0, function = 0;
      if (PciFunctionName(entry->d_name, bus, device, function)) Present.set(bus << 8 | device << 3 | function);
    }
    closedir(functions);
  }
}

TLinuxHardwareTransport::~TLinuxHardwareTransport() {
  TMappedPages::ForgetAll(ReadablePages);
  if (FirmwareArea != nullptr) munmap(const_cast<u8*>(FirmwareArea), kFirmwareAreaSize);
}


// --- Ports and configuration space -----------------------------------------------

bool TLinuxHardwareTransport::ReadPort(u16 port, TAccessWidth width, u32& value) {
  if (Access == TLinuxAccess::ReadOnly) return false;  // no iopl: the instruction would fault
  switch (width) {
    case 1:
      value = inb(port);
      return true;
    case 2:
      value = inw(port);
      return true;
    case 4:
      value = inl(port);
      return true;
    default:
      return false;
  }
}

bool TLinuxHardwareTransport::WritePort(u16 port, TAccessWidth width, u32 value) {
  if (Access == TLinuxAccess::ReadOnly) return false;
  switch (width) {
    case 1:
      outb(static_cast<u8>(value), port);
      return true;
    case 2:
      outw(static_cast<u16>(value), port);
      return true;
    case 4:
      outl(value, port);
      return true;
    default:
      return false;
  }
}

std::string TLinuxHardwareTransport::ConfigFile(u8 bus, u8 device, u8 function) const {
  char name[32];
  std::snprintf(name, sizeof name, "/0000:%02x:%02x.%x/config", bus, device & 0x1F, function & 7);
  return PciDirectory + name;
}

// The function's configuration file opened for reading, kept for the
// transport's life: detection and every transaction read the same few
// functions over and over, and each open is a path walk through sysfs (a
// costly trip into the kernel, most of all in an emulated machine). -1 with
// errno when it cannot be opened; nothing is kept then.
int TLinuxHardwareTransport::ConfigReader(u32 key, u8 bus, u8 device, u8 function) {
  if (const auto kept = ConfigReaders.find(key); kept != ConfigReaders.end()) return kept->second.Native();
  TOsHandle file(open(ConfigFile(bus, device, function).c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.Valid()) return -1;
  return ConfigReaders.emplace(key, std::move(file)).first->second.Native();
}

// One access through the function's configuration file; the kernel turns an
// aligned access of 1, 2 or 4 bytes into one configuration cycle of that
// size, under its own lock. A function that does not exist (none was listed
// when the transport was made, or its file has gone) reads all ones, as the
// bus answers for it; writes to it go nowhere. Bytes
// beyond the file (a function without extended space) read all ones too.
// Writes open the file each time: they are few, and a kept writable handle
// would be one more way into configuration space.
bool TLinuxHardwareTransport::ConfigTransfer(u8 bus, u8 device, u8 function, u16 offset, void* bytes, u32 length,
                                             bool write) {
  LearnPciLayout();
  const u32 key = u32{bus} << 8 | (device & 0x1Fu) << 3 | (function & 7u);
  if (!Present.test(key)) {
    if (!write) std::memset(bytes, 0xFF, length);
    return true;
  }
  if (write) {
    const TOsHandle file(open(ConfigFile(bus, device, function).c_str(), O_WRONLY | O_CLOEXEC));
    if (!file.Valid()) return errno == ENOENT;
    return pwrite(file.Native(), bytes, length, offset) == static_cast<ssize_t>(length);
  }
  const int reader = ConfigReader(key, bus, device, function);
  if (reader < 0) {
    if (errno != ENOENT) return false;
    std::memset(bytes, 0xFF, length);
    return true;
  }
  const ssize_t read = pread(reader, bytes, length, offset);
  if (read < 0) {
    // The handle is forgotten: a function removed since is looked up afresh
    // by the next read, which finds it absent once its file is gone.
    ConfigReaders.erase(key);
    return false;
  }
  std::memset(static_cast<u8*>(bytes) + read, 0xFF, length - static_cast<u32>(read));
  return true;
}

bool TLinuxHardwareTransport::ReadPciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width,
                                            u32& value) {
  if (!AccessWidthValid(width)) return false;
  u32 read = 0;
  if (!ConfigTransfer(bus, device, function, offset, &read, width, false)) return false;
  value = read;
  return true;
}

bool TLinuxHardwareTransport::WritePciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width,
                                             u32 value) {
  if (!AccessWidthValid(width) || Access == TLinuxAccess::ReadOnly) return false;
  return ConfigTransfer(bus, device, function, offset, &value, width, true);
}

bool TLinuxHardwareTransport::InEcamWindow(u64 address, u32 length) {
  LearnPciLayout();
  if (EcamBase == 0) return false;
  const u64 start = EcamBase + (u64{EcamFirstBus} << 20);
  const u64 end = EcamBase + (u64{EcamLastBus + 1} << 20);
  return address >= start && address + length <= end;
}

// ECAM addresses: bus << 20 | device << 15 | function << 12 | register. Each
// unit is one configuration access, so a function's registers see the
// accesses they would see through the window.
bool TLinuxHardwareTransport::EcamTransfer(u64 address, void* buffer, u32 length, u32 unit, bool write) {
  const u32 width = 1u << unit;
  u8* bytes = static_cast<u8*>(buffer);
  for (u32 done = 0; done < length; done += width) {
    const u64 at = address + done - EcamBase;
    if (!ConfigTransfer(static_cast<u8>(at >> 20), static_cast<u8>((at >> 15) & 0x1F), static_cast<u8>((at >> 12) & 7),
                        static_cast<u16>(at & 0xFFF), bytes + done, width, write)) {
      return false;
    }
  }
  return true;
}

// --- Physical memory -------------------------------------------------------------

bool TLinuxHardwareTransport::ReadMemory(u64 address, void* buffer, u32 length, u32 unit) {
  if (!RangeValid(address, length, unit)) return false;
  if (length == 0) return true;
  unit = EffectiveUnit(address, unit);
  // The firmware area lies below 1 MiB, where no ECAM window is.
  if (address >= kFirmwareAreaBase && address + length <= kFirmwareAreaBase + kFirmwareAreaSize) {
    return FirmwareAreaRead(address, buffer, length);
  }
  if (InEcamWindow(address, length)) return EcamTransfer(address, buffer, length, unit, false);
  return MappedRead(address, buffer, length, unit);
}

// The area is mapped whole at its first read and kept: the start's
// searches go through it several times, and one mapping costs the kernel
// far less than copying it out page by page (read() of /dev/mem maps and
// unmaps each page of it in the kernel).
bool TLinuxHardwareTransport::FirmwareAreaRead(u64 address, void* buffer, u32 length) {
  if (!FirmwareAreaTried && Memory.Valid()) {
    FirmwareAreaTried = true;
    void* mapped =
        mmap(nullptr, kFirmwareAreaSize, PROT_READ, MAP_SHARED, Memory.Native(), static_cast<off_t>(kFirmwareAreaBase));
    if (mapped != MAP_FAILED) FirmwareArea = static_cast<const u8*>(mapped);
  }
  if (FirmwareArea == nullptr) return false;
  std::memcpy(buffer, FirmwareArea + (address - kFirmwareAreaBase), length);
  return true;
}

bool TLinuxHardwareTransport::MappedRead(u64 address, void* buffer, u32 length, u32 unit) {
  if (!Memory.Valid()) return false;
  const TMappedPages pages(Memory.Native(), address, length, PROT_READ, ReadablePages);
  if (!pages.Complete()) return false;
  u8* bytes = static_cast<u8*>(buffer);
  switch (unit) {
    case kMemUnitByte:
      LoadUnits<u8>(pages, address, bytes, length);
      break;
    case kMemUnitWord:
      LoadUnits<u16>(pages, address, bytes, length);
      break;
    default:
      LoadUnits<u32>(pages, address, bytes, length);
      break;
  }
  return true;
}

bool TLinuxHardwareTransport::WriteMemory(u64 address, const void* buffer, u32 length, u32 unit) {
  if (!RangeValid(address, length, unit) || Access == TLinuxAccess::ReadOnly) return false;
  if (length == 0) return true;
  unit = EffectiveUnit(address, unit);
  if (InEcamWindow(address, length)) {
    std::vector<u8> bytes(static_cast<const u8*>(buffer), static_cast<const u8*>(buffer) + length);
    return EcamTransfer(address, bytes.data(), length, unit, true);
  }
  const TMappedPages pages(Memory.Native(), address, length, PROT_READ | PROT_WRITE, ReadablePages);
  if (!pages.Complete()) return false;
  const u8* bytes = static_cast<const u8*>(buffer);
  switch (unit) {
    case kMemUnitByte:
      StoreUnits<u8>(pages, address, bytes, length);
      break;
    case kMemUnitWord:
      StoreUnits<u16>(pages, address, bytes, length);
      break;
    default:
      StoreUnits<u32>(pages, address, bytes, length);
      break;
  }
  return true;
}

// --- Processor -------------------------------------------------------------------

// The msr driver executes rdmsr/wrmsr on the processor of the device file,
// with the MSR index as the file offset; an MSR the processor does not
// implement raises #GP, which the driver returns as EIO. Without the msr
// module there is no device file and the request fails the same way.
bool TLinuxHardwareTransport::ReadMsr(u32 index, u64& value) {
  const TOsHandle device(open(MsrDevice().c_str(), O_RDONLY | O_CLOEXEC));
  u64 read = 0;
  if (!device.Valid() || pread(device.Native(), &read, sizeof read, index) != sizeof read) return false;
  value = read;
  return true;
}

bool TLinuxHardwareTransport::WriteMsr(u32 index, u64 value) {
  if (Access == TLinuxAccess::ReadOnly) return false;
  const TOsHandle device(open(MsrDevice().c_str(), O_WRONLY | O_CLOEXEC));
  return device.Valid() && pwrite(device.Native(), &value, sizeof value, index) == sizeof value;
}

// The processor the process is bound to, or processor 0 when it may run on several.
std::string TLinuxHardwareTransport::MsrDevice() const {
  u32 cpu = 0;
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) == 1) {
    while (!CPU_ISSET(cpu, &set)) ++cpu;
  }
  return CpuDirectory + "/" + std::to_string(cpu) + "/msr";
}

// Control registers and performance counters are reachable in ring 0 only and
// Linux offers no device for them: the requests fail, as the driver's do when
// it refuses them.
bool TLinuxHardwareTransport::ReadCr(u32, u64&) { return false; }
bool TLinuxHardwareTransport::WriteCr(u32, u64) { return false; }
bool TLinuxHardwareTransport::ReadPmc(u32, u64&) { return false; }

// Linux leaves CR4.TSD clear, so rdtsc runs in user mode.
bool TLinuxHardwareTransport::ReadTsc(u64& value) {
  value = __rdtsc();
  return true;
}

u32 TLinuxHardwareTransport::ProcessorCount() { return TOsVersion::Instance()->ProcessorCount(); }

// A mask naming a processor the system does not have is refused as a whole,
// as Windows refuses a mask that is not a subset of the system's; the kernel
// itself would quietly drop the missing ones.
bool TLinuxHardwareTransport::SetAffinity(u64 mask) {
  const u32 processors = ProcessorCount();
  const u64 present = processors >= 64 ? ~u64{0} : (u64{1} << processors) - 1;
  if (mask == 0 || (mask & ~present) != 0) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (u32 cpu = 0; cpu < 64; ++cpu) {
    if ((mask >> cpu) & 1) CPU_SET(cpu, &set);
  }
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

// --- Opening ---------------------------------------------------------------------

std::vector<std::pair<u64, u64>> LinuxSystemRam(const std::string& iomem) {
  std::vector<std::pair<u64, u64>> ranges;
  std::ifstream file(iomem);
  std::string line;
  // Top-level lines only: "00100000-7ffdffff : System RAM".
  while (std::getline(file, line)) {
    unsigned long long first = 0, last = 0;
    char name[32] = {};
    if (line.empty() || line[0] == ' ') continue;
    if (std::sscanf(line.c_str(), "%llx-%llx : %31[^\n]", &first, &last, name) != 3) continue;
    if (std::strcmp(name, "System RAM") == 0 && last > first) ranges.emplace_back(first, last - first + 1);
  }
  return ranges;
}

std::shared_ptr<TTransport> OpenLinuxHardwareTransport(std::string& reason, const TLinuxDevices& devices) {
  if (geteuid() != 0) {
    reason = "hardware access needs root";
    return nullptr;
  }
  TOsHandle memory(open(devices.Memory.c_str(), O_RDWR | O_CLOEXEC));
  if (!memory.Valid()) {
    reason = SystemError("cannot open " + devices.Memory);
    return nullptr;
  }
  // Configuration space goes through the kernel's files only: without them,
  // or with one that cannot be opened for writing, there is no safe way to
  // reach it, and nothing starts.
  DIR* functions = opendir(devices.PciDirectory.c_str());
  if (functions == nullptr) {
    reason = SystemError("cannot read the PCI configuration files in " + devices.PciDirectory);
    return nullptr;
  }
  std::string unusable;
  while (const dirent* entry = readdir(functions)) {
    u32 bus = 0, device = 0, function = 0;
    if (!PciFunctionName(entry->d_name, bus, device, function)) continue;
    const std::string config = devices.PciDirectory + "/" + entry->d_name + "/config";
    const TOsHandle file(open(config.c_str(), O_RDWR | O_CLOEXEC));
    if (!file.Valid()) {
      unusable = SystemError("cannot open " + config);
      break;
    }
  }
  closedir(functions);
  if (!unusable.empty()) {
    reason = unusable;
    return nullptr;
  }
  // iopl(3) lets the process execute port instructions at every port, for
  // the rest of its life. The kernel refuses it without CAP_SYS_RAWIO and
  // under lockdown, and lacks it when built without CONFIG_X86_IOPL_IOPERM.
  if (iopl(3) != 0) {
    reason = SystemError("port access refused (iopl)");
    return nullptr;
  }
  return std::make_shared<TLinuxHardwareTransport>(std::move(memory), devices);
}

std::shared_ptr<TTransport> OpenLinuxReadOnlyTransport(std::string& memoryProblem, const TLinuxDevices& devices) {
  TOsHandle memory(open(devices.Memory.c_str(), O_RDONLY | O_CLOEXEC));
  if (!memory.Valid()) memoryProblem = SystemError("cannot read " + devices.Memory);
  return std::make_shared<TLinuxHardwareTransport>(std::move(memory), devices, TLinuxAccess::ReadOnly);
}

}  // namespace lirrin
