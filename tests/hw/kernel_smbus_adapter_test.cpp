// The kernel-adapter path against a sysfs tree, device files and a group file
// built in a temporary directory: finding the controller the kernel owns,
// and the one-line problems that say what is missing. Word transfers on a
// real adapter run inside the QEMU guest of tests/qemu.
#include "hw/kernel_smbus_adapter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "hw/kernel_board_view.h"

namespace lirrin {
namespace {

class KernelSMBusTree : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "lirrin-i2c-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Directory = pattern;
    std::filesystem::create_directories(Directory + "/pci");
    std::filesystem::create_directories(Directory + "/dev");
    std::ofstream(Directory + "/group") << "root:x:0:\ni2c:x:" << kI2cGroup << ":\n";
  }
  void TearDown() override {
    if (!Directory.empty()) std::filesystem::remove_all(Directory);
  }

  TLinuxDevices Devices() const {
    TLinuxDevices devices;
    devices.PciDirectory = Directory + "/pci";
    devices.DeviceDirectory = Directory + "/dev";
    devices.GroupFile = Directory + "/group";
    return devices;
  }

  // A PCI function with its class and, when named, the driver bound to it.
  std::string Function(const std::string& name, const char* classCode, const char* driver) {
    const std::string directory = Directory + "/pci/" + name;
    std::filesystem::create_directories(directory);
    std::ofstream(directory + "/class") << classCode << "\n";
    if (driver != nullptr) {
      std::filesystem::create_directories(Directory + "/drivers/" + driver);
      std::filesystem::create_directory_symlink(Directory + "/drivers/" + driver, directory + "/driver");
    }
    return directory;
  }

  // The problem Open gives for the i801 function at 00:1f.3.
  std::string OpenProblem() {
    TKernelSMBusAdapter adapter;
    EXPECT_FALSE(adapter.Open({"i801_smbus", "0000:00:1f.3", ""}, Devices()));
    return adapter.Problem();
  }

  static constexpr gid_t kI2cGroup = 4242;
  std::string Directory;
};

// The SMBus controller a kernel driver owns: an SMBus-class function with a
// driver, or an ISA bridge with a driver and an I2C adapter of its own.
TEST_F(KernelSMBusTree, FindsTheControllerAKernelDriverOwns) {
  const TLinuxDevices devices = Devices();
  Function("0000:00:1f.3", "0x0c0500", nullptr);
  Function("0000:00:02.0", "0x030000", "i915");
  std::filesystem::create_directories(devices.PciDirectory + "/0000:00:02.0/i2c-3");  // a display's bus
  EXPECT_FALSE(KernelOwnedSMBusController(devices));
  const std::string bridge = Function("0000:00:11.0", "0x060100", "vt596_smbus");
  EXPECT_FALSE(KernelOwnedSMBusController(devices));  // a bridge without an adapter
  std::filesystem::create_directories(bridge + "/i2c-0");
  ASSERT_TRUE(KernelOwnedSMBusController(devices));
  EXPECT_EQ(KernelOwnedSMBusController(devices)->Text(), "vt596_smbus at 0000:00:11.0");
  std::filesystem::remove_all(bridge);
  Function("0000:00:1f.4", "0x0c0500", "i801_smbus");
  const std::optional<TKernelSMBusOwner> owner = KernelOwnedSMBusController(devices);
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->Driver, "i801_smbus");
  EXPECT_EQ(owner->Function, "0000:00:1f.4");
}

// An adapter directory with the name its driver gives it.
void Adapter(const std::string& directory, const char* name) {
  std::filesystem::create_directories(directory + "/i2c-dev");
  std::ofstream(directory + "/name") << name << "\n";
}

// On SCH boards the adapter belongs to a platform device that the ISA
// bridge's driver made (a link elsewhere in sysfs is not a host); on SB800
// and later each port is an adapter, and port 0 is the board's whatever
// number the kernel gave it.
TEST_F(KernelSMBusTree, FindsPlatformHostsAndPortZero) {
  const TLinuxDevices devices = Devices();
  const std::string bridge = Function("0000:00:1f.0", "0x060100", "lpc_sch");
  std::filesystem::create_directories(Directory + "/elsewhere/i2c-9");
  std::filesystem::create_directory_symlink(Directory + "/elsewhere", bridge + "/firmware_node");
  EXPECT_FALSE(KernelOwnedSMBusController(devices));
  const std::string host = bridge + "/isch_smbus.1";
  std::filesystem::create_directories(host);
  std::filesystem::create_directories(Directory + "/drivers/isch_smbus");
  std::filesystem::create_directory_symlink(Directory + "/drivers/isch_smbus", host + "/driver");
  Adapter(host + "/i2c-0", "SMBus SCH adapter at 0400");
  std::optional<TKernelSMBusOwner> owner = KernelOwnedSMBusController(devices);
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->Text(), "isch_smbus at 0000:00:1f.0");
  TKernelSMBusAdapter sch;
  EXPECT_FALSE(sch.Open(*owner, devices));
  EXPECT_EQ(sch.AdapterName(), "i2c-0");
  EXPECT_EQ(sch.AdapterTitle(), "SMBus SCH adapter at 0400");
  EXPECT_EQ(sch.Problem(), Directory + "/dev/i2c-0 does not exist although i2c-dev is loaded (no devtmpfs or udev "
                                       "on /dev)");

  std::filesystem::remove_all(bridge);
  const std::string sb800 = Function("0000:00:14.0", "0x0c0500", "piix4_smbus");
  Adapter(sb800 + "/i2c-1", "SMBus PIIX4 adapter port 2 at 0b00");
  Adapter(sb800 + "/i2c-3", "SMBus PIIX4 adapter port 0 at 0b00");
  Adapter(sb800 + "/i2c-4", "SMBus PIIX4 adapter port 3 at 0b00");
  owner = KernelOwnedSMBusController(devices);
  ASSERT_TRUE(owner);
  TKernelSMBusAdapter ports;
  EXPECT_FALSE(ports.Open(*owner, devices));
  EXPECT_EQ(ports.AdapterName(), "i2c-3");
  EXPECT_EQ(ports.AdapterTitle(), "SMBus PIIX4 adapter port 0 at 0b00");
}

// Each step from the PCI function to a usable device, missing in turn.
TEST_F(KernelSMBusTree, SaysWhatIsMissingOnTheWayToTheDevice) {
  const std::string function = Function("0000:00:1f.3", "0x0c0500", "i801_smbus");
  EXPECT_EQ(OpenProblem(), "the kernel driver i801_smbus at 0000:00:1f.3 shows no I2C adapter in sysfs");

  // The lowest-numbered adapter is the controller's own; a mux's or a
  // second port's come after it.
  std::filesystem::create_directories(function + "/i2c-12");
  std::filesystem::create_directories(function + "/i2c-7");
  std::filesystem::create_directories(function + "/i2c-70/i2c-dev");
  EXPECT_EQ(OpenProblem(), "the kernel module i2c-dev is not loaded: load it (modprobe i2c-dev) to reach i2c-7 of "
                           "i801_smbus");

  std::filesystem::create_directories(function + "/i2c-7/i2c-dev/i2c-7");
  EXPECT_EQ(OpenProblem(), Directory + "/dev/i2c-7 does not exist although i2c-dev is loaded (no devtmpfs or udev "
                           "on /dev)");

  // A file that is no adapter device answers no request.
  std::ofstream(Directory + "/dev/i2c-7") << "";
  EXPECT_EQ(OpenProblem(), "cannot ask i2c-7 of i801_smbus for its transfers: Inappropriate ioctl for device");
}

// Without permission on the device, the reason names what gives it: the
// device's group when it has one that may read and write, else a udev rule.
// Root opens any file, so the open runs in a child that has become "nobody".
TEST_F(KernelSMBusTree, NamesWhatGivesPermissionOnTheDevice) {
  if (geteuid() != 0) GTEST_SKIP() << "changing the device's owner and the test's user needs root";
  const std::string function = Function("0000:00:1f.3", "0x0c0500", "i801_smbus");
  std::filesystem::create_directories(function + "/i2c-0/i2c-dev/i2c-0");
  const std::string node = Directory + "/dev/i2c-0";
  std::ofstream(node) << "";
  ASSERT_EQ(chmod(Directory.c_str(), 0755), 0);

  auto problemAsNobody = [&] {
    int channel[2];
    EXPECT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
      TKernelSMBusAdapter adapter;
      const bool opened = adapter.Open({"i801_smbus", "0000:00:1f.3", ""}, Devices());
      const std::string& problem = adapter.Problem();
      const ssize_t written = write(channel[1], problem.data(), problem.size());
      _exit(opened || written != static_cast<ssize_t>(problem.size()) ? 1 : 0);
    }
    close(channel[1]);
    std::array<char, 512> buffer{};
    const ssize_t received = read(channel[0], buffer.data(), buffer.size());
    close(channel[0]);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "3: could not drop root, 1: the device opened";
    return std::string(buffer.data(), received > 0 ? static_cast<std::size_t>(received) : 0);
  };

  ASSERT_EQ(chown(node.c_str(), 0, kI2cGroup), 0);
  ASSERT_EQ(chmod(node.c_str(), 0660), 0);
  EXPECT_EQ(problemAsNobody(), "no permission to open " + node +
                                   ": run as root, or add the user to the group 'i2c' that owns it (usermod -aG i2c "
                                   "USER, then log in again)");

  ASSERT_EQ(chown(node.c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(node.c_str(), 0600), 0);
  EXPECT_EQ(problemAsNobody(), "no permission to open " + node +
                                   ": run as root, or give the adapters a group with a udev rule "
                                   "(KERNEL==\"i2c-[0-9]*\", GROUP=\"i2c\", MODE=\"0660\") and add the user to that "
                                   "group");
}

// The kernel's SMBus drivers report a transfer's outcome as an errno.
// Where physical memory is closed to the program, what the kernel shows of
// the board decides: a function with a supported subsystem vendor and the
// maker's name on the SMBIOS base board, both needed.
TEST_F(KernelSMBusTree, TheKernelsViewOfTheBoard) {
  struct TCase {
    const char* Vendor;  // of 0000:00:02.0; 0000:00:00.0 is always Intel's
    const char* BoardMaker;
    bool Supported;
  };
  const TCase cases[] = {
      {"0xf17a", "Norvik", true},  {"0xf17b", "Norvik\n", true}, {"0x1002", "Norvik", true},
      {"0xf17a", "QEMU", false},   {"0xf17a", nullptr, false},    {"0x8086", "Norvik", false},
      {"0xf17a", "Norvik Ltd", false},
  };
  for (const TCase& c : cases) {
    std::filesystem::remove_all(Directory + "/pci");
    std::filesystem::remove_all(Directory + "/dmi");
    Function("0000:00:00.0", "0x060000", nullptr);
    std::ofstream(Directory + "/pci/0000:00:00.0/subsystem_vendor") << "0x8086\n";
    Function("0000:00:02.0", "0x020000", nullptr);
    std::ofstream(Directory + "/pci/0000:00:02.0/subsystem_vendor") << c.Vendor << "\n";
    std::filesystem::create_directories(Directory + "/dmi");
    if (c.BoardMaker != nullptr) std::ofstream(Directory + "/dmi/board_vendor") << c.BoardMaker << "\n";
    TLinuxDevices devices = Devices();
    devices.DmiDirectory = Directory + "/dmi";
    EXPECT_EQ(ReadKernelBoardView(devices).Supported(), c.Supported) << c.Vendor << " " << (c.BoardMaker ? c.BoardMaker : "-");
  }
  TLinuxDevices devices = Devices();
  devices.DmiDirectory = Directory + "/dmi";
  EXPECT_EQ(ReadKernelBoardView(devices).Evidence(),
            "subsystem vendor F17A on 0000:00:02.0, board maker 'Norvik Ltd' (sysfs)");
  devices.DmiDirectory = Directory + "/none";
  devices.PciDirectory = Directory + "/none";
  EXPECT_EQ(ReadKernelBoardView(devices).Evidence(),
            "no function with the maker's subsystem vendor, board maker not shown (sysfs)");
}

TEST(KernelSMBusTransfer, FailureTextOfEachErrno) {
  const std::pair<int, const char*> cases[] = {
      {ENXIO, "no acknowledge"},
      {EREMOTEIO, "no acknowledge"},
      {ETIMEDOUT, "the controller never finished"},
      {EAGAIN, "lost arbitration to another bus master"},
      {EBUSY, "the bus stayed busy"},
      {EPROTO, "the slave's answer broke the SMBus protocol"},
      {EBADMSG, "the packet error check failed"},
      {EOPNOTSUPP, "the adapter does not offer this transfer"},
      {EIO, "the transfer failed: Input/output error"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(TransferFailureText(error), text) << error;
}

}  // namespace
}  // namespace lirrin
