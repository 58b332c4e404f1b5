// The loader against the running system's service manager and file system,
// with a stand-in image (the real driver images are not built into the
// tests): first and second run, a stale image file, an existing service
// whose path is kept. A stand-in image never loads, so every run ends with
// the error message and the invalid handle; what the test checks is what
// was written and registered on the way.
//
// Run by the 32-bit build in a 64-bit prefix (the process under WOW64), in a
// 32-bit one (native), and with the 95/98/Me family reported; run by the
// 64-bit build natively in the 64-bit prefix. Wine cannot load a
// 95/98/Me dynamic driver: opening "\\.\" + the image path opens the file
// itself (and deletes it when that handle closes), so there the test checks
// only the file and that no service is involved.
//
// Each test registers a service of its own name: a deleted service whose
// start is still pending lingers for a while.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "hw/load_driver.h"
#include "support/message_box.h"
#include "support/text.h"
#include "support/os_version.h"

namespace lirrin {
namespace {

const std::vector<unsigned char> kFirstImage = {'M', 'Z', 0x90, 0x00, 0x01, 0x02, 0x03, 0xFF};
const std::vector<unsigned char> kSecondImage = {'M', 'Z', 0x90, 0x00, 0x09, 0x09};

bool UnderWow64() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64 != FALSE;
}

std::string Directory(UINT(WINAPI* query)(LPSTR, UINT)) {
  char path[MAX_PATH] = {};
  query(path, MAX_PATH);
  return path;
}

std::vector<unsigned char> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct TServiceConfig {
  bool Exists = false;
  DWORD Type = 0, Start = 0, ErrorControl = 0;
  std::string Path;
};

TServiceConfig QueryService(const char* name) {
  TServiceConfig config;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_CONFIG) : nullptr;
  if (service != nullptr) {
    std::vector<char> buffer(8192);
    DWORD needed = 0;
    auto* info = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (QueryServiceConfigA(service, info, static_cast<DWORD>(buffer.size()), &needed)) {
      config = {true, info->dwServiceType, info->dwStartType, info->dwErrorControl,
                info->lpBinaryPathName ? info->lpBinaryPathName : ""};
    }
    CloseServiceHandle(service);
  }
  if (manager) CloseServiceHandle(manager);
  return config;
}

void RemoveService(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_ALL_ACCESS) : nullptr;
  if (service != nullptr) {
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    DeleteService(service);
    CloseServiceHandle(service);
  }
  if (manager) CloseServiceHandle(manager);
}

bool RetargetService(const char* name, const std::string& path) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_ALL_ACCESS) : nullptr;
  const bool changed = service != nullptr && ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                                                  SERVICE_NO_CHANGE, path.c_str(), nullptr, nullptr,
                                                                  nullptr, nullptr, nullptr, nullptr);
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  return changed;
}

class LoadDriverSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxRecorder([this](const TMessageBox& box) { Boxes.push_back(box.Text); });
    const TOsVersion& os = *TOsVersion::Instance();
    Platform = {os.Family(0xFFFF), os.IsNative(), os.IsX64(), os.IsIA64(), ProgramIs64Bit()};
    // The harness says which kind of prefix this is, so that a native run
    // cannot pass for a WOW64 one.
    if (const char* wow64 = std::getenv("LIRRIN_EXPECT_WOW64")) {
      ASSERT_EQ(UnderWow64(), std::string(wow64) == "1");
    }
    Legacy = Platform.Family == 16;
    Name = std::string("LirrinTest") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ImageFile = Legacy    ? Directory(GetSystemDirectoryA) + "\\" + Name.c_str() + ".vxd"
                : UnderWow64() ? Directory(GetWindowsDirectoryA) + "\\SysWOW64\\Drivers\\" + Name.c_str() + ".sys"
                               : Directory(GetSystemDirectoryA) + "\\Drivers\\" + Name.c_str() + ".sys";
    RemoveService(Name.c_str());
    DeleteFileA(ImageFile.c_str());
    // Windows has a SysWOW64\Drivers folder; a fresh Wine prefix does not.
    if (UnderWow64()) CreateDirectoryA((Directory(GetWindowsDirectoryA) + "\\SysWOW64\\Drivers").c_str(), nullptr);
  }

  void TearDown() override {
    RemoveService(Name.c_str());
    DeleteFileA(ImageFile.c_str());
    SetMessageBoxRecorder({});
  }

  // One program run: the loader opens the driver and is freed again.
  // `whileOpen` looks at the system before the loader goes.
  std::intptr_t Run(const std::vector<unsigned char>& image, const std::function<void()>& whileOpen = [] {}) {
    TLoadDriver loader(MakeWin32DriverSystem(), Platform, {});
    const std::intptr_t handle = loader.Open(Name, image.data(), static_cast<u32>(image.size()));
    EXPECT_EQ(loader.Paths(Name).ImageFile, ImageFile);
    whileOpen();
    return handle;
  }

  TLoaderPlatform Platform;
  bool Legacy = false;
  std::string Name;
  std::string ImageFile;
  std::vector<TText> Boxes;
};

// The message, then the line the system's error gives (the image here is
// no driver, which each system refuses with an error of its own).
bool SaysWhyTheStartFailed(const TText& box) {
  const TText start = TText(kDriverLoadFailedText) + u"\n\n";
  return box.starts_with(start) && box.find(u"(error ", start.size()) != TText::npos;
}

TEST_F(LoadDriverSystemTest, LegacyFamilyWritesTheDynamicDriver) {
  if (!Legacy) GTEST_SKIP() << "the NT family registers a service instead";
  // The open handle shares nothing, so only the file's size can be read.
  WIN32_FILE_ATTRIBUTE_DATA file{};
  bool found = false;
  Run(kFirstImage, [&] { found = GetFileAttributesExA(ImageFile.c_str(), GetFileExInfoStandard, &file); });
  ASSERT_TRUE(found);
  EXPECT_EQ(file.nFileSizeLow, kFirstImage.size());
  EXPECT_FALSE(QueryService(Name.c_str()).Exists);
}

TEST_F(LoadDriverSystemTest, FirstAndSecondRun) {
  if (Legacy) GTEST_SKIP() << "Wine cannot load a 95/98/Me dynamic driver";
  EXPECT_EQ(Run(kFirstImage), kInvalidDevice);
  EXPECT_EQ(FileBytes(ImageFile), kFirstImage);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_TRUE(SaysWhyTheStartFailed(Boxes[0])) << ToUtf8(Boxes[0]);

  const TServiceConfig service = QueryService(Name.c_str());
  ASSERT_TRUE(service.Exists);
  EXPECT_EQ(service.Type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(service.Start, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(service.ErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(service.Path, ImageFile);

  // The second run finds the file and leaves it as it is, although its image
  // differs (a stale image of another version is used as found).
  EXPECT_EQ(Run(kSecondImage), kInvalidDevice);
  EXPECT_EQ(FileBytes(ImageFile), kFirstImage);
  EXPECT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(QueryService(Name.c_str()).Path, ImageFile);
}

// Without a Drivers folder the probe does not report a missing file, so no
// image is written; the service then has nothing to load and the user gets
// the message.
TEST_F(LoadDriverSystemTest, MissingDriverFolder) {
  if (Legacy) GTEST_SKIP() << "Wine cannot load a 95/98/Me dynamic driver";
  const std::string folder = ImageFile.substr(0, ImageFile.rfind('\\'));
  const std::string moved = folder + ".away";
  ASSERT_TRUE(MoveFileA(folder.c_str(), moved.c_str()));
  const std::intptr_t handle = Run(kFirstImage);
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  ASSERT_TRUE(MoveFileA(moved.c_str(), folder.c_str()));
  EXPECT_EQ(handle, kInvalidDevice);
  EXPECT_EQ(attributes, INVALID_FILE_ATTRIBUTES);  // nothing was created there
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_TRUE(SaysWhyTheStartFailed(Boxes[0])) << ToUtf8(Boxes[0]);
}

TEST_F(LoadDriverSystemTest, ExistingServiceKeepsItsPath) {
  if (Legacy) GTEST_SKIP() << "no services on the 95/98/Me family";
  ASSERT_EQ(Run(kFirstImage), kInvalidDevice);
  const std::string elsewhere = "C:\\windows\\temp\\" + std::string(Name.c_str()) + ".sys";
  ASSERT_TRUE(RetargetService(Name.c_str(), elsewhere));
  ASSERT_EQ(QueryService(Name.c_str()).Path, elsewhere);
  DeleteFileA(ImageFile.c_str());
  EXPECT_EQ(Run(kSecondImage), kInvalidDevice);
  EXPECT_EQ(QueryService(Name.c_str()).Path, elsewhere);
  EXPECT_EQ(FileBytes(ImageFile), kSecondImage);  // the missing file was written again
}

}  // namespace
}  // namespace lirrin
