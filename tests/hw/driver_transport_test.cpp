// The driver transport's requests against a recording device: codes, byte
// layouts, buffer reuse and what reads give when a request fails; and the
// 95/98/Me family's direct mode with its memory windows.
#include "hw/driver_transport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hw/read_write.h"

namespace lirrin {
namespace {

struct TRequest {
  u32 Code;
  const void* Buffer;
  std::vector<u8> Sent;  // the buffer as the program sent it
};

// Records every request; `Answer` plays the driver (it may change the
// buffer) and decides the outcome.
class TRecordingDevice final : public TDeviceCall {
 public:
  explicit TRecordingDevice(std::vector<TRequest>& requests) : Requests(requests) {}
  bool Control(u32 code, void* buffer, u32 size) override {
    const u8* bytes = static_cast<const u8*>(buffer);
    Requests.push_back({code, buffer, std::vector<u8>(bytes, bytes + size)});
    return Answer ? Answer(code, static_cast<u8*>(buffer), size) : true;
  }
  std::function<bool(u32, u8*, u32)> Answer;

 private:
  std::vector<TRequest>& Requests;
};

void PutValue(u8* at, u32 value) { std::memcpy(at, &value, sizeof value); }

std::vector<u8> Bytes(std::initializer_list<int> values) {
  std::vector<u8> bytes;
  for (int v : values) bytes.push_back(static_cast<u8>(v));
  return bytes;
}

class DriverTransportTest : public ::testing::Test {
 protected:
  DriverTransportTest() {
    auto device = std::make_unique<TRecordingDevice>(Requests);
    Device = device.get();
    Transport = std::make_unique<TDriverTransport>(std::move(device), nullptr, 193, 4);
  }
  const TRequest& Last() { return Requests.back(); }

  std::vector<TRequest> Requests;
  TRecordingDevice* Device;
  std::unique_ptr<TDriverTransport> Transport;
};

TEST_F(DriverTransportTest, PortRequests) {
  struct Case {
    bool write;
    TAccessWidth width;
    u32 code;
  };
  const Case cases[] = {{false, 1, 0x222810}, {true, 1, 0x222814}, {false, 2, 0x222818},
                        {true, 2, 0x22281C},  {false, 4, 0x222820}, {true, 4, 0x222824}};
  for (const Case& c : cases) {
    u32 value = 0;
    if (c.write) {
      Transport->WritePort(0x1234, c.width, 0xA1B2C3D4);
    } else {
      Transport->ReadPort(0x1234, c.width, value);
    }
    EXPECT_EQ(Last().Code, c.code);
    ASSERT_EQ(Last().Sent.size(), 8u);
    EXPECT_EQ(std::vector<u8>(Last().Sent.begin(), Last().Sent.begin() + 4), Bytes({0x34, 0x12, 0, 0}));
  }
}

TEST_F(DriverTransportTest, PortWriteFillsOnlyItsWidth) {
  Transport->WritePort(0x80, 4, 0x12345678);
  EXPECT_EQ(Last().Sent, Bytes({0x80, 0, 0, 0, 0x78, 0x56, 0x34, 0x12}));
  Transport->WritePort(0x81, 1, 0x9A);
  EXPECT_EQ(Last().Sent, Bytes({0x81, 0, 0, 0, 0x9A, 0x56, 0x34, 0x12}));
  Transport->WritePort(0x82, 2, 0xBCDE);
  EXPECT_EQ(Last().Sent, Bytes({0x82, 0, 0, 0, 0xDE, 0xBC, 0x34, 0x12}));
  // One buffer in the object serves every port request.
  EXPECT_EQ(Requests[0].Buffer, Requests[2].Buffer);
}

TEST_F(DriverTransportTest, ByteReadChangesOnlyByteFour) {
  Device->Answer = [](u32 code, u8* buffer, u32) {
    if (code == kReadPort32) PutValue(buffer + 4, 0xAABBCCDD);
    if (code == kReadPort8) buffer[4] = 0x5A;  // the driver fills its width only
    return true;
  };
  u32 value = 0;
  Transport->ReadPort(0x60, 4, value);
  EXPECT_EQ(value, 0xAABBCCDDu);
  Transport->ReadPort(0x61, 1, value);
  EXPECT_EQ(value, 0x5Au);
  Transport->ReadPort(0x62, 1, value);
  EXPECT_EQ(Last().Sent, Bytes({0x62, 0, 0, 0, 0x5A, 0xCC, 0xBB, 0xAA}));
}

TEST_F(DriverTransportTest, FailedReadGivesWhatTheBufferHolds) {
  Device->Answer = [](u32 code, u8* buffer, u32) {
    if (code == kReadConfig32) {
      PutValue(buffer + 8, 0x11223344);
      return true;
    }
    return false;
  };
  u32 value = 0;
  EXPECT_TRUE(Transport->ReadPciConfig(0, 31, 3, 0x20, 4, value));
  EXPECT_EQ(value, 0x11223344u);
  EXPECT_FALSE(Transport->ReadPciConfig(0, 31, 3, 0x22, 2, value));
  EXPECT_EQ(value, 0x3344u);
  // Through the I/O layer, whose port and configuration reads ignore the
  // outcome.
  TReadWrite layer(std::shared_ptr<TTransport>(std::move(Transport)));
  EXPECT_EQ(layer.ReadPciByte(0, 31, 3, 0x20), 0x44);
}

TEST_F(DriverTransportTest, ConfigurationRequestLayout) {
  struct Case {
    bool write;
    TAccessWidth width;
    u32 code;
  };
  const Case cases[] = {{false, 1, 0x222830}, {true, 1, 0x222834}, {false, 2, 0x222838},
                        {true, 2, 0x22283C},  {false, 4, 0x222840}, {true, 4, 0x222844}};
  for (const Case& c : cases) {
    u32 value = 0;
    if (c.write) {
      Transport->WritePciConfig(0x12, 0x1F, 0x05, 0x1FF, c.width, 0xCAFEF00D);
    } else {
      Transport->ReadPciConfig(0x12, 0x1F, 0x05, 0x1FF, c.width, value);
    }
    EXPECT_EQ(Last().Code, c.code);
    ASSERT_EQ(Last().Sent.size(), 12u);
    EXPECT_EQ(Last().Sent[0], 0x12);
    EXPECT_EQ(Last().Sent[1], 0x1F);
    EXPECT_EQ(Last().Sent[2], 0x05);
    EXPECT_EQ(Last().Sent[4], 0xFF);
    EXPECT_EQ(Last().Sent[5], 0x01);
  }
  // Unused bytes are never written; the value field took each write's width.
  EXPECT_EQ(Last().Sent[3], 0);
  EXPECT_EQ(Last().Sent[6], 0);
  EXPECT_EQ(Last().Sent[7], 0);
  EXPECT_EQ(std::vector<u8>(Last().Sent.begin() + 8, Last().Sent.end()), Bytes({0x0D, 0xF0, 0xFE, 0xCA}));
}

TEST_F(DriverTransportTest, MemoryRequestCarriesTheProgramsBuffer) {
  Device->Answer = [](u32 code, u8* buffer, u32) {
    u64 address, target;
    u32 length;
    std::memcpy(&address, buffer, 8);
    std::memcpy(&length, buffer + 8, 4);
    std::memcpy(&target, buffer + 16, 8);
    if (code != kReadMemory || address != 0xF0000) return false;
    // The driver writes into the program's own buffer.
    std::memset(reinterpret_cast<void*>(static_cast<std::uintptr_t>(target)), 0x5C, length);
    return true;
  };
  u32 data = 0;
  ASSERT_TRUE(Transport->ReadMemory(0xF0000, &data, 4, kMemUnitDword));
  EXPECT_EQ(data, 0x5C5C5C5Cu);
  ASSERT_EQ(Last().Sent.size(), 24u);
  u64 address, pointer;
  u32 length, unit;
  std::memcpy(&address, Last().Sent.data(), 8);
  std::memcpy(&length, Last().Sent.data() + 8, 4);
  std::memcpy(&unit, Last().Sent.data() + 12, 4);
  std::memcpy(&pointer, Last().Sent.data() + 16, 8);
  EXPECT_EQ(address, 0xF0000u);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(unit, kMemUnitDword);
  EXPECT_EQ(pointer, static_cast<u64>(reinterpret_cast<std::uintptr_t>(&data)));

  // A range the driver cannot map: the buffer stays as it was, and the I/O
  // layer's read gives its preset all ones.
  u32 untouched = 0x01020304;
  EXPECT_FALSE(Transport->ReadMemory(0x100000000ull, &untouched, 4, kMemUnitDword));
  EXPECT_EQ(untouched, 0x01020304u);
  TReadWrite layer(std::shared_ptr<TTransport>(std::move(Transport)));
  EXPECT_EQ(layer.ReadMemDword(0x100000000ull), 0xFFFFFFFFu);
}

TEST_F(DriverTransportTest, WriteMemoryRequest) {
  const u16 word = 0xBEEF;
  Transport->WriteMemory(0xFED00000, &word, 2, kMemUnitWord);
  EXPECT_EQ(Last().Code, 0x22280Cu);
  u64 pointer;
  std::memcpy(&pointer, Last().Sent.data() + 16, 8);
  EXPECT_EQ(pointer, static_cast<u64>(reinterpret_cast<std::uintptr_t>(&word)));
}

TEST_F(DriverTransportTest, RegisterCounterAndIndexedRequests) {
  Device->Answer = [](u32 code, u8* buffer, u32) {
    const u64 value = 0x8000000012345678ull;
    if (code == kReadMsr) {
      PutValue(buffer + 0, 0x89ABCDEF);  // Eax
      PutValue(buffer + 12, 0x01234567);  // Edx
    }
    if (code == kReadTsc) std::memcpy(buffer, &value, 8);
    if (code == kReadPmc || code == kReadCr) {
      u32 index;
      std::memcpy(&index, buffer, 4);
      if (index == 1 && code == kReadCr) return false;  // no CR1
      std::memcpy(buffer + 8, &value, 8);
    }
    return true;
  };
  u64 value = 0;
  ASSERT_TRUE(Transport->ReadMsr(0x1B, value));
  EXPECT_EQ(value, 0x0123456789ABCDEFull);
  EXPECT_EQ(Last().Code, 0x222848u);
  EXPECT_EQ(std::vector<u8>(Last().Sent.begin() + 8, Last().Sent.begin() + 12), Bytes({0x1B, 0, 0, 0}));

  Transport->WriteMsr(0x199, 0x1122334455667788ull);
  EXPECT_EQ(Last().Code, 0x22284Cu);
  EXPECT_EQ(Last().Sent, Bytes({0x88, 0x77, 0x66, 0x55, 0, 0, 0, 0, 0x99, 0x01, 0, 0, 0x44, 0x33, 0x22, 0x11}));

  ASSERT_TRUE(Transport->ReadTsc(value));
  EXPECT_EQ(value, 0x8000000012345678ull);
  EXPECT_EQ(Last().Code, 0x222864u);
  EXPECT_EQ(Last().Sent.size(), 8u);

  ASSERT_TRUE(Transport->ReadPmc(2, value));
  EXPECT_EQ(Last().Code, 0x222868u);
  EXPECT_EQ(Last().Sent.size(), 16u);

  value = 7;
  EXPECT_FALSE(Transport->ReadCr(1, value));
  EXPECT_EQ(value, 7u);
  ASSERT_TRUE(Transport->ReadCr(2, value));
  EXPECT_EQ(value, 0x8000000012345678ull);
  EXPECT_EQ(Last().Code, 0x22286Cu);

  Transport->WriteCr(4, 0x00000000000406F0ull);
  EXPECT_EQ(Last().Code, 0x222870u);
  EXPECT_EQ(Last().Sent, Bytes({4, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x06, 0x04, 0, 0, 0, 0, 0}));
}

TEST(DriverTransport, UnclassifiedSystemSendsNothing) {
  std::vector<TRequest> requests;
  TDriverTransport transport(std::make_unique<TRecordingDevice>(requests), nullptr, 0, 1);
  u32 value = 0;
  u64 wide = 0;
  u8 buffer[4] = {};
  EXPECT_FALSE(transport.ReadPort(0x80, 1, value));
  EXPECT_FALSE(transport.WritePort(0x80, 1, 1));
  EXPECT_FALSE(transport.ReadPciConfig(0, 0, 0, 0, 4, value));
  EXPECT_FALSE(transport.ReadMemory(0, buffer, 4, 0));
  EXPECT_FALSE(transport.ReadMsr(0x10, wide));
  EXPECT_TRUE(requests.empty());
}

std::string Described(const char* format, u32 a, u32 b = 0, u32 c = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// The 95/98/Me family: ports and configuration space by the program's own
// instructions, memory through the legacy driver's 256-byte windows.
class TRecordingDirect final : public TDirectAccess {
 public:
  std::vector<std::string> Calls;
  std::map<u32, u8> Window;  // memory behind mapped pointers
  u32 In(u16 port, TAccessWidth width) override {
    Calls.push_back(Described("in %X/%u", port, width));
    return 0xFFFFFF00u | (port & 0xFF);
  }
  void Out(u16 port, TAccessWidth width, u32 value) override {
    Calls.push_back(Described("out %X/%u=%X", port, width, value));
  }
  void CopyFromWindow(u32 pointer, void* buffer, u32 length, u32) override {
    Calls.push_back(Described("copy from %X+%u", pointer, length));
    for (u32 i = 0; i < length; ++i) static_cast<u8*>(buffer)[i] = Window[pointer + i];
  }
  void CopyToWindow(u32 pointer, const void*, u32 length, u32) override {
    Calls.push_back(Described("copy to %X+%u", pointer, length));
  }
};

TEST(DriverTransportDirect, PortsAndConfigurationByOwnInstructions) {
  std::vector<TRequest> requests;
  auto direct = std::make_unique<TRecordingDirect>();
  TRecordingDirect* calls = direct.get();
  TDriverTransport transport(std::make_unique<TRecordingDevice>(requests), std::move(direct), 16, 1);
  EXPECT_TRUE(transport.DirectMode());
  u32 value = 0;
  transport.ReadPort(0x2E, 1, value);
  EXPECT_EQ(value, 0x2Eu);
  transport.ReadPciConfig(0, 31, 3, 0x1FF, 1, value);
  transport.WritePciConfig(0, 31, 3, 0x42, 2, 0x12345);
  const std::vector<std::string> expected = {"in 2E/1", "out CF8/4=8100FBFC", "in CFF/1", "out CF8/4=8000FB40",
                                             "out CFE/2=2345"};
  EXPECT_EQ(calls->Calls, expected);
  EXPECT_TRUE(requests.empty());
}

TEST(DriverTransportDirect, MemoryThroughWindows) {
  std::vector<TRequest> requests;
  auto device = std::make_unique<TRecordingDevice>(requests);
  // The legacy driver maps physical window W at pointer 0x80000000 + W.
  device->Answer = [](u32 code, u8* buffer, u32 size) {
    EXPECT_EQ(size, 4u);
    if (code == kIoctlMapWindow) {
      u32 address;
      std::memcpy(&address, buffer, 4);
      if (address >= 0x400) address = 0x80000000u;  // not mappable: a null pointer below
      PutValue(buffer, address == 0x80000000u ? 0 : 0x80000000u + address);
    }
    return true;
  };
  auto direct = std::make_unique<TRecordingDirect>();
  TRecordingDirect* calls = direct.get();
  for (u32 i = 0; i < 0x400; ++i) calls->Window[0x80000000u + i] = static_cast<u8>(i);
  TDriverTransport transport(std::move(device), std::move(direct), 16, 1);

  std::vector<u8> buffer(300);
  ASSERT_TRUE(transport.ReadMemory(0x1F0, buffer.data(), 300, kMemUnitByte));
  for (u32 i = 0; i < 300; ++i) ASSERT_EQ(buffer[i], static_cast<u8>(0x1F0 + i)) << i;
  const std::vector<std::string> expected = {"copy from 800001F0+16", "copy from 80000200+256",
                                             "copy from 80000300+28"};
  EXPECT_EQ(calls->Calls, expected);
  // map, unmap per window; each unmap names the pointer that was mapped
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[0].Code, kIoctlMapWindow);
  EXPECT_EQ(requests[0].Sent, Bytes({0x00, 0x01, 0, 0}));
  EXPECT_EQ(requests[1].Code, kIoctlUnmapWindow);
  EXPECT_EQ(requests[1].Sent, Bytes({0x00, 0x01, 0, 0x80}));

  // A window that cannot be mapped stops the copy and fails it.
  calls->Calls.clear();
  EXPECT_FALSE(transport.ReadMemory(0x3F0, buffer.data(), 32, kMemUnitByte));
  EXPECT_EQ(calls->Calls.size(), 1u);
  EXPECT_TRUE(transport.ReadMemory(0x10, buffer.data(), 0, kMemUnitByte));
}

}  // namespace
}  // namespace lirrin
