// The Linux hardware transport without touching the machine's hardware: the
// reasons it gives when it cannot run, and its memory, configuration and MSR
// paths against ordinary files standing in for /dev/mem, the sysfs
// configuration files, the MCFG table and /dev/cpu/N/msr (the kernel maps
// and reads a regular file at the same offsets as those devices).
// The hardware paths run inside the QEMU guest of tests/qemu.
#include "hw/linux_hardware_transport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lirrin {
namespace {

constexpr u64 kPage = 4096;

std::string MakeTempDirectory() {
  std::string pattern = testing::TempDir() + "lirrin-hw-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

void WriteFileAt(const std::string& path, u64 offset, const void* data, std::size_t size) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(pwrite(fd, data, size, static_cast<off_t>(offset)), static_cast<ssize_t>(size));
  close(fd);
}

std::vector<u8> ReadFileAt(const std::string& path, u64 offset, std::size_t size) {
  std::vector<u8> bytes(size);
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << path;
  EXPECT_EQ(pread(fd, bytes.data(), size, static_cast<off_t>(offset)), static_cast<ssize_t>(size));
  close(fd);
  return bytes;
}

TEST(LinuxTransportOpen, RefusesWithoutRoot) {
  std::string reason;
  if (geteuid() != 0) {
    EXPECT_EQ(OpenLinuxHardwareTransport(reason), nullptr);
    EXPECT_EQ(reason, "hardware access needs root");
    return;
  }
  // As root, the same check runs in a child that has become "nobody".
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(channel[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    const bool opened = OpenLinuxHardwareTransport(reason) != nullptr;
    const ssize_t written = write(channel[1], reason.data(), reason.size());
    _exit(opened || written != static_cast<ssize_t>(reason.size()) ? 1 : 0);
  }
  close(channel[1]);
  std::array<char, 256> buffer{};
  const ssize_t received = read(channel[0], buffer.data(), buffer.size());
  close(channel[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not drop root, 1: the transport opened";
  EXPECT_EQ(std::string(buffer.data(), received > 0 ? static_cast<std::size_t>(received) : 0),
            "hardware access needs root");
}

TEST(LinuxTransportOpen, NamesTheMissingMemoryDevice) {
  if (geteuid() != 0) GTEST_SKIP() << "the device is only looked for as root";
  const std::string directory = MakeTempDirectory();
  ASSERT_FALSE(directory.empty());
  TLinuxDevices devices;
  devices.Memory = directory + "/mem";
  std::string reason;
  EXPECT_EQ(OpenLinuxHardwareTransport(reason, devices), nullptr);
  EXPECT_EQ(reason, "cannot open " + directory + "/mem: No such file or directory");
  std::filesystem::remove_all(directory);
}

// A configuration file that cannot be opened (here a directory in its
// place) stops the transport before anything is touched, naming the file;
// so does a missing directory of configuration files.
TEST(LinuxTransportOpen, NamesTheConfigurationFileThatCannotBeOpened) {
  if (geteuid() != 0) GTEST_SKIP() << "the files are only looked at as root";
  const std::string directory = MakeTempDirectory();
  ASSERT_FALSE(directory.empty());
  const std::vector<u8> page(kPage, 0);
  WriteFileAt(directory + "/mem", 0, page.data(), page.size());
  TLinuxDevices devices;
  devices.Memory = directory + "/mem";
  devices.PciDirectory = directory + "/pci";
  std::string reason;
  EXPECT_EQ(OpenLinuxHardwareTransport(reason, devices), nullptr);
  EXPECT_EQ(reason, "cannot read the PCI configuration files in " + directory + "/pci: No such file or directory");
  std::filesystem::create_directories(directory + "/pci/0000:00:1f.3/config");
  EXPECT_EQ(OpenLinuxHardwareTransport(reason, devices), nullptr);
  EXPECT_EQ(reason, "cannot open " + directory + "/pci/0000:00:1f.3/config: Is a directory");
  std::filesystem::remove_all(directory);
}

// Three pages of "physical memory" in a file, byte i holding (i * 7 + 3) & 0xFF,
// and two processors' MSR files. The transport is built on them directly:
// these requests need neither root nor port privilege.
class LinuxTransportFiles : public testing::Test {
 protected:
  void SetUp() override {
    Directory = MakeTempDirectory();
    ASSERT_FALSE(Directory.empty());
    std::vector<u8> memory(3 * kPage);
    for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<u8>(i * 7 + 3);
    WriteFileAt(MemoryPath(), 0, memory.data(), memory.size());
    for (const char* cpu : {"0", "1"}) {
      std::filesystem::create_directories(Directory + "/cpu/" + cpu);
      const std::vector<u8> zeros(0x200, 0);
      WriteFileAt(MsrPath(cpu), 0, zeros.data(), zeros.size());
    }
    ASSERT_EQ(sched_getaffinity(0, sizeof InitialAffinity, &InitialAffinity), 0);

    // Two functions' configuration files: 00:1F.3 with 256 bytes, 02:00.0
    // with the 4096 of a function with extended space. The MCFG table puts
    // the ECAM window of buses 0..3 at F0000000h.
    Config("0000:00:1f.3", 256);
    Config("0000:02:00.0", 4096);
    std::vector<u8> mcfg(44 + 16, 0);
    std::memcpy(mcfg.data(), "MCFG", 4);
    mcfg[4] = static_cast<u8>(mcfg.size());
    const u64 base = 0xF0000000;
    std::memcpy(&mcfg[44], &base, sizeof base);
    mcfg[44 + 11] = 3;  // last bus
    WriteFileAt(Devices().McfgTable, 0, mcfg.data(), mcfg.size());

    TOsHandle memoryDevice(open(MemoryPath().c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(memoryDevice.Valid());
    Transport = std::make_unique<TLinuxHardwareTransport>(std::move(memoryDevice), Devices());
  }

  // A configuration file whose byte i holds i & 0xFF, XOR 0x5A for bus 2.
  void Config(const std::string& function, std::size_t size) {
    std::filesystem::create_directories(Directory + "/pci/" + function);
    std::vector<u8> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<u8>(i ^ (function[6] == '2' ? 0x5A : 0));
    WriteFileAt(ConfigPath(function), 0, bytes.data(), bytes.size());
  }
  std::string ConfigPath(const std::string& function) const { return Directory + "/pci/" + function + "/config"; }

  TLinuxDevices Devices() const {
    TLinuxDevices devices;
    devices.Memory = MemoryPath();
    devices.CpuDirectory = Directory + "/cpu";
    devices.PciDirectory = Directory + "/pci";
    devices.McfgTable = Directory + "/MCFG";
    return devices;
  }

  void TearDown() override {
    Transport.reset();
    if (Directory.empty()) return;
    sched_setaffinity(0, sizeof InitialAffinity, &InitialAffinity);
    std::filesystem::remove_all(Directory);
  }

  std::string MemoryPath() const { return Directory + "/mem"; }
  std::string MsrPath(const std::string& cpu) const { return Directory + "/cpu/" + cpu + "/msr"; }

  static u8 Pattern(u64 address) { return static_cast<u8>(address * 7 + 3); }

  std::string Directory;
  cpu_set_t InitialAffinity{};
  std::unique_ptr<TTransport> Transport;
};

TEST_F(LinuxTransportFiles, ReadsAcrossPagesInEveryUnit) {
  std::array<u8, 12> bytes{};
  ASSERT_TRUE(Transport->ReadMemory(kPage - 6, bytes.data(), bytes.size(), kMemUnitByte));
  for (std::size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], Pattern(kPage - 6 + i)) << i;

  std::array<u8, 8> words{};
  ASSERT_TRUE(Transport->ReadMemory(2 * kPage - 4, words.data(), words.size(), kMemUnitWord));
  for (std::size_t i = 0; i < words.size(); ++i) EXPECT_EQ(words[i], Pattern(2 * kPage - 4 + i)) << i;

  std::array<u8, 8> dwords{};
  ASSERT_TRUE(Transport->ReadMemory(2 * kPage - 4, dwords.data(), dwords.size(), kMemUnitDword));
  EXPECT_EQ(dwords, words);
}

TEST_F(LinuxTransportFiles, WritesReachTheDeviceAndNothingElse) {
  const std::array<u8, 8> values = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};
  ASSERT_TRUE(Transport->WriteMemory(kPage - 4, values.data(), values.size(), kMemUnitWord));
  const std::vector<u8> file = ReadFileAt(MemoryPath(), kPage - 6, 12);
  EXPECT_EQ(file[0], Pattern(kPage - 6));
  EXPECT_EQ(file[1], Pattern(kPage - 5));
  for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(file[2 + i], values[i]) << i;
  EXPECT_EQ(file[10], Pattern(kPage + 4));
  EXPECT_EQ(file[11], Pattern(kPage + 5));
}

TEST_F(LinuxTransportFiles, RefusesUnitsThatDoNotFit) {
  std::array<u8, 8> bytes{};
  EXPECT_FALSE(Transport->ReadMemory(kPage, bytes.data(), 6, kMemUnitDword));  // not whole units
  EXPECT_FALSE(Transport->ReadMemory(kPage, bytes.data(), 8, 3));              // no such unit
  EXPECT_FALSE(Transport->WriteMemory(kPage, bytes.data(), 3, kMemUnitWord));
  EXPECT_EQ(ReadFileAt(MemoryPath(), kPage, 4), (std::vector<u8>{Pattern(kPage), Pattern(kPage + 1),
                                                                  Pattern(kPage + 2), Pattern(kPage + 3)}));
}

// A unit that does not start on a multiple of its size moves byte by byte,
// also across a page boundary, as the simulated board serves it.
TEST_F(LinuxTransportFiles, UnalignedUnitsMoveBytes) {
  std::array<u8, 4> dword{};
  ASSERT_TRUE(Transport->ReadMemory(kPage - 1, dword.data(), 4, kMemUnitDword));
  for (std::size_t i = 0; i < dword.size(); ++i) EXPECT_EQ(dword[i], Pattern(kPage - 1 + i)) << i;
  const std::array<u8, 4> values = {0x11, 0x22, 0x33, 0x44};
  ASSERT_TRUE(Transport->WriteMemory(2 * kPage - 3, values.data(), 4, kMemUnitWord));
  EXPECT_EQ(ReadFileAt(MemoryPath(), 2 * kPage - 4, 6),
            (std::vector<u8>{Pattern(2 * kPage - 4), 0x11, 0x22, 0x33, 0x44, Pattern(2 * kPage + 1)}));
}

// Configuration space goes through the function's file: each request one
// access at its offset. An absent function reads all ones and takes no
// write; bytes past the end of a 256-byte file read all ones.
TEST_F(LinuxTransportFiles, ConfigurationSpaceThroughTheFunctionsFile) {
  u32 value = 0;
  ASSERT_TRUE(Transport->ReadPciConfig(0, 0x1F, 3, 0x40, 4, value));
  EXPECT_EQ(value, 0x43424140u);
  ASSERT_TRUE(Transport->ReadPciConfig(0, 0x1F, 3, 0x0B, 1, value));
  EXPECT_EQ(value, 0x0Bu);
  ASSERT_TRUE(Transport->ReadPciConfig(2, 0, 0, 0x102, 2, value));
  EXPECT_EQ(value, (0x03u ^ 0x5A) << 8 | (0x02u ^ 0x5A));
  ASSERT_TRUE(Transport->WritePciConfig(0, 0x1F, 3, 0x41, 1, 0xA5));
  EXPECT_EQ(ReadFileAt(ConfigPath("0000:00:1f.3"), 0x40, 3), (std::vector<u8>{0x40, 0xA5, 0x42}));
  ASSERT_TRUE(Transport->WritePciConfig(0, 0x1F, 3, 0x44, 4, 0x01020304));
  EXPECT_EQ(ReadFileAt(ConfigPath("0000:00:1f.3"), 0x44, 4), (std::vector<u8>{4, 3, 2, 1}));

  ASSERT_TRUE(Transport->ReadPciConfig(0, 0x1E, 0, 0x00, 4, value));
  EXPECT_EQ(value, 0xFFFFFFFFu);
  EXPECT_TRUE(Transport->WritePciConfig(0, 0x1E, 0, 0x04, 2, 0x0007));
  EXPECT_FALSE(std::filesystem::exists(Directory + "/pci/0000:00:1e.0"));
  ASSERT_TRUE(Transport->ReadPciConfig(0, 0x1F, 3, 0x100, 4, value));
  EXPECT_EQ(value, 0xFFFFFFFFu);
  EXPECT_FALSE(Transport->ReadPciConfig(0, 0x1F, 3, 0x40, 3, value));
}

// A file that exists but cannot be opened fails the request: nothing is
// guessed and nothing written.
TEST_F(LinuxTransportFiles, ConfigurationFileThatCannotBeOpenedFails) {
  std::filesystem::create_directories(Directory + "/pci/0000:00:02.0/config");  // a directory, not a file
  TOsHandle memoryDevice(open(MemoryPath().c_str(), O_RDWR | O_CLOEXEC));
  Transport = std::make_unique<TLinuxHardwareTransport>(std::move(memoryDevice), Devices());
  u32 value = 7;
  EXPECT_FALSE(Transport->ReadPciConfig(0, 2, 0, 0, 4, value));
  EXPECT_EQ(value, 7u);
  EXPECT_FALSE(Transport->WritePciConfig(0, 2, 0, 4, 2, 0x0007));
}

// Memory requests inside the MCFG window are configuration accesses through
// the files, on any bus of the window; outside it they stay memory requests.
TEST_F(LinuxTransportFiles, EcamWindowIsServedFromTheConfigurationFiles) {
  u32 value = 0;
  ASSERT_TRUE(Transport->ReadMemory(0xF00FB040, &value, 4, kMemUnitDword));  // 00:1F.3, register 40h
  EXPECT_EQ(value, 0x43424140u);
  u16 word = 0;
  ASSERT_TRUE(Transport->ReadMemory(0xF0200102, &word, 2, kMemUnitWord));  // 02:00.0, register 102h
  EXPECT_EQ(word, (0x03u ^ 0x5A) << 8 | (0x02u ^ 0x5A));
  ASSERT_TRUE(Transport->ReadMemory(0xF00F0000, &value, 4, kMemUnitDword));  // 00:1E.0: absent
  EXPECT_EQ(value, 0xFFFFFFFFu);
  const u32 written = 0xCAFEF00D;
  ASSERT_TRUE(Transport->WriteMemory(0xF0200400, &written, 4, kMemUnitDword));
  EXPECT_EQ(ReadFileAt(ConfigPath("0000:02:00.0"), 0x400, 4), (std::vector<u8>{0x0D, 0xF0, 0xFE, 0xCA}));
}

// The last page below 2^63 cannot be mapped (its end lies beyond the largest
// file offset); the page before it maps but lies far past the end of the
// file, where any access would raise SIGBUS. A request spanning both must
// fail before touching either.
TEST_F(LinuxTransportFiles, UnmappablePageFailsTheWholeRequest) {
  const u64 lastMappable = 0x7FFFFFFFFFFFE000ull;
  std::array<u8, 16> bytes;
  bytes.fill(0x5A);
  EXPECT_FALSE(Transport->ReadMemory(lastMappable + kPage - 8, bytes.data(), bytes.size(), kMemUnitByte));
  for (u8 byte : bytes) EXPECT_EQ(byte, 0x5A);
  EXPECT_FALSE(Transport->WriteMemory(lastMappable + kPage - 8, bytes.data(), bytes.size(), kMemUnitDword));
}

TEST_F(LinuxTransportFiles, MsrIndexIsTheOffsetOnTheBoundProcessor) {
  const u64 cpu0 = 0x00000000FEE00900ull;
  const u64 cpu1 = 0x00000000FEE00800ull;
  WriteFileAt(MsrPath("0"), 0x1B, &cpu0, sizeof cpu0);
  WriteFileAt(MsrPath("1"), 0x1B, &cpu1, sizeof cpu1);

  const u32 processors = Transport->ProcessorCount();
  ASSERT_GE(processors, 1u);
  const u64 all = processors >= 64 ? ~u64{0} : (u64{1} << processors) - 1;
  ASSERT_TRUE(Transport->SetAffinity(all));
  u64 value = 0;
  ASSERT_TRUE(Transport->ReadMsr(0x1B, value));
  EXPECT_EQ(value, cpu0) << "with several processors allowed, processor 0's device answers";

  ASSERT_TRUE(Transport->WriteMsr(0x10, 0x1122334455667788ull));
  u64 written = 0;
  std::memcpy(&written, ReadFileAt(MsrPath("0"), 0x10, 8).data(), 8);
  EXPECT_EQ(written, 0x1122334455667788ull);

  // An index the device does not answer (here: past the end of the file).
  value = 7;
  EXPECT_FALSE(Transport->ReadMsr(0x1000, value));
  EXPECT_EQ(value, 7u);

  if (processors < 2) GTEST_SKIP() << "binding to processor 1 needs two processors";
  ASSERT_TRUE(Transport->SetAffinity(0b10));
  ASSERT_TRUE(Transport->ReadMsr(0x1B, value));
  EXPECT_EQ(value, cpu1);
}

TEST_F(LinuxTransportFiles, AffinityNamesOnlyPresentProcessors) {
  const u32 processors = Transport->ProcessorCount();
  EXPECT_FALSE(Transport->SetAffinity(0));
  if (processors < 64) {
    EXPECT_FALSE(Transport->SetAffinity((u64{1} << processors) | 1));
  }
  EXPECT_TRUE(Transport->SetAffinity(1));
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(CPU_COUNT(&set), 1);
  EXPECT_TRUE(CPU_ISSET(0, &set));
}

TEST_F(LinuxTransportFiles, ControlRegistersAndCountersFail) {
  u64 value = 42;
  EXPECT_FALSE(Transport->ReadCr(0, value));
  EXPECT_FALSE(Transport->WriteCr(4, 0));
  EXPECT_FALSE(Transport->ReadPmc(0, value));
  EXPECT_EQ(value, 42u);
}

// Real hardware models: QEMU's q35 machine, inside the guest the QEMU tier
// boots (it sets LIRRIN_Q35_GUEST). Elsewhere these are skipped, as they
// touch ports and physical memory.
// The read-only transport, as the word commands through the kernel's
// adapter use it: it reads the firmware area once, and nothing it is asked
// can change the machine.
TEST_F(LinuxTransportFiles, ReadOnlyTransportReadsAndChangesNothing) {
  const std::string marker = "$CN1368$";
  WriteFileAt(MemoryPath(), 0xF0010, marker.data(), marker.size());
  WriteFileAt(MemoryPath(), 0xFFFF8, "AREA END", 8);  // the whole area, as /dev/mem has it
  std::string problem;
  const std::shared_ptr<TTransport> readOnly = OpenLinuxReadOnlyTransport(problem, Devices());
  EXPECT_EQ(problem, "");
  std::array<u8, 8> bytes{};
  ASSERT_TRUE(readOnly->ReadMemory(0xF0010, bytes.data(), bytes.size(), kMemUnitByte));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), marker);
  ASSERT_TRUE(readOnly->ReadMemory(0xFFFF8, bytes.data(), bytes.size(), kMemUnitDword));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "AREA END");

  u32 value = 0;
  EXPECT_TRUE(readOnly->ReadPciConfig(0, 0x1F, 3, 0x10, 4, value));
  EXPECT_FALSE(readOnly->WritePciConfig(0, 0x1F, 3, 0x10, 4, 0xFFFFFFFF));
  EXPECT_FALSE(readOnly->WriteMemory(kPage, bytes.data(), 4, kMemUnitByte));
  EXPECT_FALSE(readOnly->WriteMsr(0x10, 1));
  EXPECT_FALSE(readOnly->ReadPort(0xCF9, 1, value));
  EXPECT_FALSE(readOnly->WritePort(0xCF9, 1, 6));
  EXPECT_EQ(ReadFileAt(ConfigPath("0000:00:1f.3"), 0x10, 4), (std::vector<u8>{0x10, 0x11, 0x12, 0x13}));
  EXPECT_EQ(ReadFileAt(MemoryPath(), kPage, 1), std::vector<u8>{Pattern(kPage)});
  EXPECT_EQ(ReadFileAt(MsrPath("0"), 0x10, 1), std::vector<u8>{0});

  // Without the memory device it says why, and configuration still reads.
  TLinuxDevices devices = Devices();
  devices.Memory = Directory + "/no-mem";
  const std::shared_ptr<TTransport> noMemory = OpenLinuxReadOnlyTransport(problem, devices);
  EXPECT_EQ(problem, "cannot read " + devices.Memory + ": No such file or directory");
  EXPECT_FALSE(noMemory->ReadMemory(0xF0010, bytes.data(), bytes.size(), kMemUnitByte));
  EXPECT_TRUE(noMemory->ReadPciConfig(0, 0x1F, 3, 0x10, 4, value));
  EXPECT_EQ(value, 0x13121110u);
}

class LinuxTransportQ35Guest : public testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("LIRRIN_Q35_GUEST") == nullptr) GTEST_SKIP() << "runs inside the QEMU q35 guest only";
    std::string reason;
    Transport = OpenLinuxHardwareTransport(reason);
    ASSERT_NE(Transport, nullptr) << reason;
  }

  std::shared_ptr<TTransport> Transport;
};

// Configuration requests through the kernel's files reach q35's functions
// (the kernel itself may use the port pair for them, under its own lock).
TEST_F(LinuxTransportQ35Guest, ConfigurationFilesReachTheIch9SMBus) {
  u32 value = 0;
  ASSERT_TRUE(Transport->ReadPciConfig(0, 0x1F, 3, 0x00, 4, value));
  EXPECT_EQ(value, 0x29308086u);
  ASSERT_TRUE(Transport->ReadPciConfig(0, 0x1F, 3, 0x02, 2, value));
  EXPECT_EQ(value, 0x2930u);
  ASSERT_TRUE(Transport->ReadPciConfig(0, 0x1F, 3, 0x0B, 1, value));
  EXPECT_EQ(value, 0x0Cu);
  ASSERT_TRUE(Transport->ReadPciConfig(0, 0x1E, 0, 0x00, 4, value));  // no such function
  EXPECT_EQ(value, 0xFFFFFFFFu);
}

// The firmware leaves the ACPI root pointer on a 16-byte boundary in the
// E and F segments; its RSDT lies in the memory it reserved at the top of
// RAM, which the kernel's /dev/mem reads through mmap only.
TEST_F(LinuxTransportQ35Guest, FirmwareTablesReadThroughPhysicalMemory) {
  std::vector<u8> segments(0x20000);
  ASSERT_TRUE(Transport->ReadMemory(0xE0000, segments.data(), static_cast<u32>(segments.size()), kMemUnitDword));
  std::size_t rsdp = segments.size();
  for (std::size_t offset = 0; offset < segments.size(); offset += 16) {
    if (std::memcmp(&segments[offset], "RSD PTR ", 8) == 0) {
      rsdp = offset;
      break;
    }
  }
  ASSERT_LT(rsdp, segments.size());
  u8 sum = 0;
  for (std::size_t i = 0; i < 20; ++i) sum = static_cast<u8>(sum + segments[rsdp + i]);
  EXPECT_EQ(sum, 0);

  u32 rsdt = 0;
  std::memcpy(&rsdt, &segments[rsdp + 16], sizeof rsdt);
  std::array<char, 4> signature{};
  ASSERT_TRUE(Transport->ReadMemory(rsdt, signature.data(), signature.size(), kMemUnitByte));
  EXPECT_EQ(std::string(signature.data(), signature.size()), "RSDT");
}

// The kernel refuses to map RAM above the first megabyte, so a request that
// runs from the F segment into RAM fails and copies nothing.
TEST_F(LinuxTransportQ35Guest, RequestReachingIntoRamFailsWhole) {
  std::array<u8, 32> bytes;
  bytes.fill(0x5A);
  EXPECT_FALSE(Transport->ReadMemory(0xFFFF0, bytes.data(), bytes.size(), kMemUnitByte));
  for (u8 byte : bytes) EXPECT_EQ(byte, 0x5A);
  EXPECT_TRUE(Transport->ReadMemory(0xFFFF0, bytes.data(), 16, kMemUnitByte));
}

// IA32_APIC_BASE: the local APIC at FEE00000h, enabled (bit 11); bit 8 marks
// the bootstrap processor, so the two processors' devices answer differently.
TEST_F(LinuxTransportQ35Guest, MsrsOfTheBoundProcessor) {
  if (Transport->ProcessorCount() < 2) GTEST_SKIP() << "needs a guest with two processors";
  cpu_set_t initial;
  ASSERT_EQ(sched_getaffinity(0, sizeof initial, &initial), 0);
  u64 value = 0;
  ASSERT_TRUE(Transport->SetAffinity(0b10));
  ASSERT_TRUE(Transport->ReadMsr(0x1B, value));
  EXPECT_EQ(value & 0xFFFFF900u, 0xFEE00800u);
  ASSERT_TRUE(Transport->SetAffinity(0b01));
  ASSERT_TRUE(Transport->ReadMsr(0x1B, value));
  EXPECT_EQ(value & 0xFFFFF900u, 0xFEE00900u);
  sched_setaffinity(0, sizeof initial, &initial);
}

}  // namespace
}  // namespace lirrin
