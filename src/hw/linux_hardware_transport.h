#pragma once
// The hardware of the machine the program runs on, reached through Linux's
// own interfaces instead of a driver of ours: port instructions after iopl(3),
// configuration space through the kernel's per-device configuration files
// (sysfs), physical memory through /dev/mem, MSRs through the msr driver's
// device files (/dev/cpu/N/msr, module "msr"). Needs root.
//
// A read-only transport serves the platform check of the word commands that
// go through the kernel's SMBus driver: physical memory opened for reading
// (where the kernel lets it be), configuration files read, no port access,
// and every write refused.
//
// Configuration space never goes through the 0CF8h/0CFCh port pair: the
// kernel uses that pair under a lock user space cannot take, and an access
// of the kernel's between our two instructions would send our data access to
// another device. Memory requests inside the ECAM window that the firmware's
// MCFG table reports go to the same files, so enhanced configuration works
// on kernels that refuse /dev/mem mappings of that window.

#include <bitset>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hw/transport.h"
#include "support/os_handle.h"

namespace lirrin {

// Where the kernel's files are. Tests point them at files of their own.
struct TLinuxDevices {
  std::string Memory = "/dev/mem";
  std::string CpuDirectory = "/dev/cpu";
  std::string PciDirectory = "/sys/bus/pci/devices";     // 0000:BB:DD.F/config
  std::string McfgTable = "/sys/firmware/acpi/tables/MCFG";  // the firmware's table, as the kernel copied it
  std::string DeviceDirectory = "/dev";                    // i2c-N, the kernel's SMBus adapters
  std::string GroupFile = "/etc/group";                    // who may open them
  std::string DmiDirectory = "/sys/class/dmi/id";          // SMBIOS strings the kernel shows everyone
  std::string I2cDirectory = "/sys/bus/i2c/devices";       // adapters (i2c-N) and their clients (N-00AA)
};

enum class TLinuxAccess { Full, ReadOnly };

// Physical pages mapped read-only, by page number.
using TPageMappings = std::unordered_map<u64, u8*>;

class TLinuxHardwareTransport final : public TTransport {
 public:
  // Takes over `memory`, an open descriptor of the physical memory device
  // (read-write for Full access; for ReadOnly it may hold nothing). The ECAM
  // window comes from the MCFG table (none when it cannot be read). Full
  // access's port requests need the I/O privilege the factory below
  // acquires for the process.
  TLinuxHardwareTransport(TOsHandle memory, const TLinuxDevices& devices, TLinuxAccess access = TLinuxAccess::Full);
  ~TLinuxHardwareTransport() override;
  TLinuxHardwareTransport(const TLinuxHardwareTransport&) = delete;
  TLinuxHardwareTransport& operator=(const TLinuxHardwareTransport&) = delete;

  bool ReadPort(u16 port, TAccessWidth width, u32& value) override;
  bool WritePort(u16 port, TAccessWidth width, u32 value) override;
  bool ReadPciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32& value) override;
  bool WritePciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) override;
  bool ReadMemory(u64 address, void* buffer, u32 length, u32 unit) override;
  bool WriteMemory(u64 address, const void* buffer, u32 length, u32 unit) override;
  bool ReadMsr(u32 index, u64& value) override;
  bool WriteMsr(u32 index, u64 value) override;
  bool ReadCr(u32 index, u64& value) override;
  bool WriteCr(u32 index, u64 value) override;
  bool ReadTsc(u64& value) override;
  bool ReadPmc(u32 counter, u64& value) override;
  u32 ProcessorCount() override;
  bool SetAffinity(u64 mask) override;

 private:
  std::string MsrDevice() const;
  std::string ConfigFile(u8 bus, u8 device, u8 function) const;
  bool ConfigTransfer(u8 bus, u8 device, u8 function, u16 offset, void* bytes, u32 length, bool write);
  int ConfigReader(u32 key, u8 bus, u8 device, u8 function);
  void LearnPciLayout();
  bool InEcamWindow(u64 address, u32 length);
  bool EcamTransfer(u64 address, void* buffer, u32 length, u32 unit, bool write);
  bool MappedRead(u64 address, void* buffer, u32 length, u32 unit);
  bool FirmwareAreaRead(u64 address, void* buffer, u32 length);

  TOsHandle Memory;
  TLinuxAccess Access;
  std::string CpuDirectory;
  std::string PciDirectory;
  std::string McfgTable;
  bool PciLayoutKnown = false;  // the ECAM window and Present below
  TPageMappings ReadablePages;  // kept for the transport's life
  std::bitset<65536> Present;  // the functions that have configuration files, by bus << 8 | device << 3 | function
  std::unordered_map<u32, TOsHandle> ConfigReaders;  // opened for reading, kept, by the same key
  u64 EcamBase = 0;  // of bus 0; 0 without a window
  u32 EcamFirstBus = 0, EcamLastBus = 0;
  // The firmware area E0000h-FFFFFh, mapped read-only at its first read;
  // null until then, or when it could not be mapped.
  const u8* FirmwareArea = nullptr;
  bool FirmwareAreaTried = false;
};

// The first line of a small text file, such as sysfs's one-value files,
// without its newline; empty when the file cannot be read.
std::string FirstLineOf(const std::string& path);

// Whether `name` is a PCI function's sysfs name, "0000:BB:DD.F" (segment 0),
// and its bus, device and function.
bool PciFunctionName(const std::string& name, u32& bus, u32& device, u32& function);

// The functions' names in `directory` (sysfs's list of PCI devices), in
// order: "0000:00:00.0" first.
std::vector<std::string> PciFunctionNames(const std::string& directory);

// Opens the machine's hardware, or returns nullptr and sets `reason` to one
// line saying why it cannot be reached (not root, no physical memory device,
// no configuration files, port access refused).
// The RAM the kernel manages, as (base, size), from the "System RAM" lines
// of /proc/iomem (the firmware's memory map); empty when the file cannot be
// read or hides the addresses (it shows them to root only).
std::vector<std::pair<u64, u64>> LinuxSystemRam(const std::string& iomem = "/proc/iomem");

std::shared_ptr<TTransport> OpenLinuxHardwareTransport(std::string& reason, const TLinuxDevices& devices = {});

// The read-only transport, for anyone: physical memory where the kernel
// lets this process read it (`memoryProblem` says why not otherwise: not
// root, or lockdown), configuration files as far as the kernel shows them
// (the first 64 bytes to users other than root).
std::shared_ptr<TTransport> OpenLinuxReadOnlyTransport(std::string& memoryProblem, const TLinuxDevices& devices = {});

}  // namespace lirrin
