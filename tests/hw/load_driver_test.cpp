// The loader's steps against a model of the system: files, services, a
// driver that loads when its service starts, and a record of every call.
#include "hw/load_driver.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "support/message_box.h"
#include "support/text.h"

namespace lirrin {
namespace {

constexpr std::intptr_t kDevice = 0x44;

// The system as the loader sees it. A service's start loads its image when
// that file exists; from then on the device opens.
class TModelSystem final : public TDriverSystem {
 public:
  std::map<std::string, std::vector<unsigned char>> Files;
  std::map<std::string, std::string> Services;  // name -> image path
  std::vector<std::string>* Calls = nullptr;  // kept by the test, so it outlives the loader
  bool Loaded = false;
  bool FolderWritable = true;
  bool ManagerOpens = true;
  bool ServiceOpens = true;
  std::string DeviceLoadedBy;  // the image file the running driver came from

  std::string SystemDirectory() override { return System9x ? "C:\\WINDOWS\\SYSTEM" : "C:\\WINDOWS\\system32"; }
  std::string WindowsDirectory() override { return "C:\\WINDOWS"; }
  bool FileNotFound(const std::string& path) override {
    Calls->push_back("probe " + path);
    return Files.count(path) == 0;
  }
  bool WriteImageFile(const std::string& path, const unsigned char* bytes, u32 size) override {
    Calls->push_back("write " + path);
    if (!FolderWritable) return false;
    Files[path].assign(bytes, bytes + size);
    return true;
  }
  std::intptr_t OpenDevice(const std::string& path) override {
    Calls->push_back("open " + path);
    return Loaded ? kDevice : kInvalidDevice;
  }
  std::intptr_t OpenDynamicDriver(const std::string& path) override {
    Calls->push_back("dynamic " + path);
    return Files.count(path.substr(4)) != 0 && DynamicLoads ? kDevice : kInvalidDevice;
  }
  void CloseDevice(std::intptr_t device) override { Calls->push_back("close " + std::to_string(device)); }
  bool OpenServiceManager() override {
    Calls->push_back("manager");
    return ManagerOpens;
  }
  bool CreateDriverService(const std::string& name, const std::string& imagePath, bool& exists) override {
    Calls->push_back("create " + name + " " + imagePath);
    exists = Services.count(name) != 0;
    if (exists) return false;
    Services[name] = imagePath;
    Current = name;
    return true;
  }
  bool OpenDriverService(const std::string& name) override {
    Calls->push_back("service " + name);
    if (!ServiceOpens || Services.count(name) == 0) return false;
    Current = name;
    return true;
  }
  u32 StartDriverService() override {
    Calls->push_back("start");
    if (StartRefusal != 0) return StartRefusal;
    if (Files.count(Services[Current]) != 0) {
      Loaded = true;
      DeviceLoadedBy = Services[Current];
    }
    return 0;
  }
  void StopDriverService() override { Calls->push_back("stop"); }
  void DeleteDriverService() override { Calls->push_back("delete"); }
  void CloseDriverService() override { Calls->push_back("close service"); }
  void CloseServiceManager() override { Calls->push_back("close manager"); }

  bool System9x = false;
  bool DynamicLoads = true;
  u32 StartRefusal = 0;  // the system's error for a start it refuses

 private:
  std::string Current;
};

constexpr TLoaderPlatform kXp{32, true, false, false};
constexpr TLoaderPlatform kWin7Wow64{193, false, true, false};
constexpr TLoaderPlatform kWin98{16, true, false, false};
constexpr TLoaderPlatform kWin7X64Program{193, true, true, false, true};

const unsigned char kImage[] = {'M', 'Z', 0x90, 0x00, 0x03, 0xFF};
constexpr u32 kImageSize = sizeof kImage;
const std::string kNativeImage = "C:\\WINDOWS\\system32\\Drivers\\NvkDrv101.sys";
const std::string kWow64Image = "C:\\WINDOWS\\SysWOW64\\Drivers\\NvkDrv101.sys";

class LoadDriverTest : public ::testing::Test {
 public:
  LoadDriverTest() {
    SetMessageBoxRecorder([this](const TMessageBox& box) { Boxes.push_back(box.Text); });
  }
  ~LoadDriverTest() override { SetMessageBoxRecorder({}); }

  // A loader over a fresh model that the test keeps looking at.
  std::unique_ptr<TLoadDriver> Loader(const TLoaderPlatform& platform, TLoaderOptions options = {}) {
    auto model = std::make_unique<TModelSystem>();
    model->Files = Files;
    model->Services = Services;
    model->Loaded = Loaded;
    model->FolderWritable = FolderWritable;
    model->ManagerOpens = ManagerOpens;
    model->ServiceOpens = ServiceOpens;
    model->System9x = platform.Family == 16;
    model->DynamicLoads = DynamicLoads;
    model->StartRefusal = StartRefusal;
    Calls.clear();
    model->Calls = &Calls;
    Model = model.get();
    return std::make_unique<TLoadDriver>(std::move(model), platform, options);
  }

  std::map<std::string, std::vector<unsigned char>> Files;
  std::map<std::string, std::string> Services;
  bool Loaded = false;
  bool FolderWritable = true;
  bool ManagerOpens = true;
  bool ServiceOpens = true;
  bool DynamicLoads = true;
  u32 StartRefusal = 0;
  TModelSystem* Model = nullptr;
  std::vector<std::string> Calls;
  std::vector<TText> Boxes;
};

TEST(DriverImageChoice, FirstMatchingRowWins) {
  struct Case {
    TLoaderPlatform platform;
    TDriverImageKind expected;
    const char* system;
  };
  const Case cases[] = {
      {{16, true, false, false}, TDriverImageKind::Legacy, "98"},
      {{0, true, false, false}, TDriverImageKind::Legacy, "unclassified"},
      {{32, true, false, false}, TDriverImageKind::X86, "XP"},
      {{193, true, true, false}, TDriverImageKind::X86, "a native 32-bit process on x64 (not WOW64)"},
      {{193, true, true, false, true}, TDriverImageKind::X64, "a 64-bit program on 7 x64"},
      {{449, true, true, false, true}, TDriverImageKind::X64, "a 64-bit program on 8 x64"},
      {{193, false, true, false}, TDriverImageKind::X64, "7 x64 under WOW64"},
      {{34, false, false, true}, TDriverImageKind::IA64, "Server 2003 Itanium under WOW64"},
      {{35, false, true, true}, TDriverImageKind::IA64, "both bits: Itanium first"},
      {{192, false, false, false}, TDriverImageKind::None, "WOW64 without a known architecture"},
  };
  for (const Case& c : cases) EXPECT_EQ(SelectDriverImage(c.platform), c.expected) << c.system;
}

TEST(DriverImageChoice, AbsentImagesAreEmpty) {
  // Until the driver is built into the program, every image is absent; the
  // legacy and Itanium images never are built here.
  for (TDriverImageKind kind : {TDriverImageKind::Legacy, TDriverImageKind::IA64, TDriverImageKind::None}) {
    const TDriverImageBytes image = DriverImageOf(kind);
    EXPECT_EQ(image.Bytes, nullptr);
    EXPECT_EQ(image.Size, 0u);
  }
}

TEST_F(LoadDriverTest, PathsPerSystem) {
  const TDriverPaths native = Loader(kXp)->Paths(kDriverName);
  EXPECT_EQ(native.ImageFile, kNativeImage);
  EXPECT_EQ(native.Device, "\\\\.\\NvkDrv101");
  const TDriverPaths wow64 = Loader(kWin7Wow64)->Paths(kDriverName);
  EXPECT_EQ(wow64.Directory, "C:\\WINDOWS\\SysWOW64");
  EXPECT_EQ(wow64.ImageFile, kWow64Image);
  EXPECT_EQ(wow64.Device, "\\\\.\\NvkDrv101");
  // A 64-bit program sees the real system folder and puts the x64 image there.
  const auto x64Loader = Loader(kWin7X64Program);
  EXPECT_EQ(x64Loader->Paths(kDriverName).ImageFile, kNativeImage);
  EXPECT_EQ(x64Loader->Image().Bytes, X64DriverImage().Bytes);
  const TDriverPaths legacy = Loader(kWin98)->Paths(kDriverName);
  EXPECT_EQ(legacy.ImageFile, "C:\\WINDOWS\\SYSTEM\\NvkDrv101.vxd");
  EXPECT_EQ(legacy.Device, "\\\\.\\C:\\WINDOWS\\SYSTEM\\NvkDrv101.vxd");
}

TEST_F(LoadDriverTest, FirstRunWritesRegistersStartsAndOpens) {
  auto loader = Loader(kXp);
  EXPECT_EQ(loader->Open(kDriverName, kImage, kImageSize), kDevice);
  EXPECT_EQ(loader->Handle(), kDevice);
  EXPECT_EQ(Model->Files[kNativeImage], std::vector<unsigned char>(kImage, kImage + kImageSize));
  const std::vector<std::string> expected = {
      "probe " + kNativeImage, "write " + kNativeImage, "open \\\\.\\NvkDrv101", "manager",
      "create NvkDrv101 " + kNativeImage, "start", "close service", "close manager", "open \\\\.\\NvkDrv101"};
  EXPECT_EQ(Calls, expected);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(LoadDriverTest, SecondRunKeepsTheFileAndStillStartsTheService) {
  Files[kNativeImage] = {'o', 'l', 'd'};  // a stale image of another version
  Services[kDriverName] = kNativeImage;
  Loaded = true;
  auto loader = Loader(kXp);
  EXPECT_EQ(loader->Open(kDriverName, kImage, kImageSize), kDevice);
  EXPECT_EQ(Model->Files[kNativeImage], (std::vector<unsigned char>{'o', 'l', 'd'}));
  const std::vector<std::string> expected = {"probe " + kNativeImage, "open \\\\.\\NvkDrv101", "close 68", "manager",
                                             "service NvkDrv101", "start", "close service", "close manager",
                                             "open \\\\.\\NvkDrv101"};
  EXPECT_EQ(Calls, expected);
}

TEST_F(LoadDriverTest, ExistingServiceKeepsItsPath) {
  const std::string elsewhere = "C:\\Other\\NvkDrv101.sys";
  Services[kDriverName] = elsewhere;
  Files[elsewhere] = {1, 2, 3};
  auto loader = Loader(kWin7Wow64);
  EXPECT_EQ(loader->Open(kDriverName, kImage, kImageSize), kDevice);
  EXPECT_EQ(Model->Services[kDriverName], elsewhere);
  EXPECT_EQ(Model->DeviceLoadedBy, elsewhere);
  EXPECT_EQ(Model->Files.count(kWow64Image), 1u);  // written all the same
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(LoadDriverTest, OverwriteReplacesAnExistingFile) {
  Files[kNativeImage] = {'o', 'l', 'd'};
  auto loader = Loader(kXp, {true, false, false});
  loader->Open(kDriverName, kImage, kImageSize);
  EXPECT_EQ(Model->Files[kNativeImage], std::vector<unsigned char>(kImage, kImage + kImageSize));
}

TEST_F(LoadDriverTest, FailuresGiveTheInvalidHandle) {
  struct Case {
    const char* situation;
    std::function<void(LoadDriverTest&)> arrange;
    TLoaderPlatform platform;
    bool image;
    bool message;
  };
  const Case cases[] = {
      {"unwritable driver folder", [](LoadDriverTest& t) { t.FolderWritable = false; }, kXp, true, false},
      {"unclassified system", [](LoadDriverTest&) {}, {0, true, false, false}, true, false},
      {"no image and no file: the service has nothing to load", [](LoadDriverTest&) {}, kXp, false, true},
      {"no service manager", [](LoadDriverTest& t) { t.ManagerOpens = false; }, kXp, true, true},
      {"existing service that cannot be opened",
       [](LoadDriverTest& t) {
         t.Services[kDriverName] = kNativeImage;
         t.ServiceOpens = false;
       },
       kXp, true, true},
      {"98: the dynamic driver does not load", [](LoadDriverTest& t) { t.DynamicLoads = false; }, kWin98, true, true},
  };
  for (const Case& c : cases) {
    Files.clear();
    Services.clear();
    FolderWritable = ManagerOpens = ServiceOpens = DynamicLoads = true;
    Boxes.clear();
    c.arrange(*this);
    auto loader = Loader(c.platform);
    EXPECT_EQ(loader->Open(kDriverName, c.image ? kImage : nullptr, c.image ? kImageSize : 0), kInvalidDevice)
        << c.situation;
    EXPECT_EQ(loader->Handle(), kInvalidDevice) << c.situation;
    if (c.message) {
      ASSERT_EQ(Boxes.size(), 1u) << c.situation;
      EXPECT_EQ(Boxes[0], kDriverLoadFailedText);
    } else {
      EXPECT_TRUE(Boxes.empty()) << c.situation;
    }
  }
}

// A service the system refuses to start: the message says why in one line
// after the usual text, for the signature check, a blocking policy, an
// antivirus and any other error.
TEST_F(LoadDriverTest, ARefusedStartSaysWhy) {
  const struct {
    u32 Error;
    const char* Reason;
  } cases[] = {
      {577, "Windows refused the driver's signature (error 577): 64-bit Windows loads a test-signed driver only in "
            "test-signing mode, which needs Secure Boot off"},
      {1275, "Windows blocked the driver by policy (error 1275)"},
      {225, "the antivirus blocked the driver file NvkDrv101.sys (error 225)"},
      {1058, "the driver's service did not start (error 1058)"},
  };
  for (const auto& c : cases) {
    StartRefusal = c.Error;
    Boxes.clear();
    const std::unique_ptr<TLoadDriver> loader = Loader(kWin7X64Program);
    EXPECT_EQ(loader->Open("NvkDrv101", kImage, kImageSize), kInvalidDevice);
    EXPECT_EQ(loader->StartError(), c.Error);
    ASSERT_EQ(Boxes.size(), 1u);
    const std::string text = ToUtf8(Boxes[0]);
    EXPECT_TRUE(text.starts_with(ToUtf8(kDriverLoadFailedText) + "\n\n" + c.Reason)) << text;
  }
  StartRefusal = 0;
  Boxes.clear();
  EXPECT_NE(Loader(kWin7X64Program)->Open("NvkDrv101", kImage, kImageSize), kInvalidDevice);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(LoadDriverTest, UnclassifiedSystemTouchesNothing) {
  auto loader = Loader({0, true, false, false});
  loader->Open(kDriverName, kImage, kImageSize);
  EXPECT_TRUE(Calls.empty());
}

TEST_F(LoadDriverTest, LegacyFamilyLoadsTheDynamicDriverByItsPath) {
  auto loader = Loader(kWin98);
  EXPECT_EQ(loader->Open(kDriverName, kImage, kImageSize), kDevice);
  const std::vector<std::string> expected = {"probe C:\\WINDOWS\\SYSTEM\\NvkDrv101.vxd",
                                             "write C:\\WINDOWS\\SYSTEM\\NvkDrv101.vxd",
                                             "dynamic \\\\.\\C:\\WINDOWS\\SYSTEM\\NvkDrv101.vxd"};
  EXPECT_EQ(Calls, expected);
}

TEST_F(LoadDriverTest, LegacyDriverGoesWithItsHandle) {
  auto loader = Loader(kWin98, {false, true, true});
  ASSERT_EQ(loader->Open(kDriverName, kImage, kImageSize), kDevice);
  const std::size_t opened = Calls.size();
  loader.reset();
  // No service manager on that family: only the handle is closed.
  EXPECT_EQ(std::vector<std::string>(Calls.begin() + static_cast<std::ptrdiff_t>(opened), Calls.end()),
            std::vector<std::string>{"close 68"});
}

TEST_F(LoadDriverTest, DeviceOpenButServiceUnreachableReopensTheDevice) {
  Loaded = true;
  ServiceOpens = false;
  auto loader = Loader(kXp);
  EXPECT_EQ(loader->Open(kDriverName, kImage, kImageSize), kDevice);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(LoadDriverTest, DestructionClosesAndHonoursTheOptions) {
  struct Case {
    TLoaderOptions options;
    std::vector<std::string> tail;
  };
  const Case cases[] = {
      {{false, false, false}, {"close 68"}},
      {{false, true, true},
       {"close 68", "manager", "service NvkDrv101", "stop", "close service", "close manager", "manager",
        "service NvkDrv101", "delete", "close service", "close manager"}},
  };
  for (const Case& c : cases) {
    auto loader = Loader(kXp, c.options);
    ASSERT_EQ(loader->Open(kDriverName, kImage, kImageSize), kDevice);
    const std::size_t opened = Calls.size();
    loader.reset();
    EXPECT_EQ(std::vector<std::string>(Calls.begin() + static_cast<std::ptrdiff_t>(opened), Calls.end()), c.tail);
  }
}

TEST_F(LoadDriverTest, DestructionWithoutADeviceDoesNothing) {
  ManagerOpens = false;
  auto loader = Loader(kXp, {false, true, true});
  ASSERT_EQ(loader->Open(kDriverName, kImage, kImageSize), kInvalidDevice);
  const std::size_t opened = Calls.size();
  loader.reset();
  EXPECT_EQ(Calls.size(), opened);
}

}  // namespace
}  // namespace lirrin
