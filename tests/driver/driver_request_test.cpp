// The driver's request handling against a model machine: decoding and byte
// layouts of every request, the exact buffer sizes, and each refusal that
// keeps a caller from reaching the kernel through the driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fake_machine.h"

extern "C" {
#include "request.h"
}

namespace {

using TBytes = std::vector<uint8_t>;

void Put32(TBytes& buffer, size_t at, uint32_t value) { std::memcpy(buffer.data() + at, &value, 4); }
void Put64(TBytes& buffer, size_t at, uint64_t value) { std::memcpy(buffer.data() + at, &value, 8); }
uint32_t Get32(const TBytes& buffer, size_t at) {
  uint32_t value;
  std::memcpy(&value, buffer.data() + at, 4);
  return value;
}
uint32_t WidthMask(unsigned width) { return width == 4 ? 0xFFFFFFFF : (1u << (8 * width)) - 1; }
uint64_t Get64(const TBytes& buffer, size_t at) {
  uint64_t value;
  std::memcpy(&value, buffer.data() + at, 8);
  return value;
}

struct TOutcome {
  uint32_t Status;
  uint32_t Returned;
};

class DriverRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    gMachine = TFakeMachine{};
    Policy = TPolicyState{};
  }
  void TearDown() override {
    EXPECT_TRUE(gMachine.OpenMappings.empty()) << "a mapping was left open";
    EXPECT_EQ(gMachine.MappingMisuses, 0) << "a store through a read-only mapping, or a stray unmapping";
    EXPECT_EQ(gMachine.OpenAllocations, 0) << "scratch memory was not freed";
  }

  // Sends `buffer` as input and output, as the program does.
  static TOutcome Serve(uint32_t code, TBytes& buffer, TProcessorMode mode = kMode64) {
    return Serve(code, buffer, static_cast<uint32_t>(buffer.size()), static_cast<uint32_t>(buffer.size()), mode);
  }
  static TOutcome Serve(uint32_t code, TBytes& buffer, uint32_t in, uint32_t out, TProcessorMode mode = kMode64) {
    TDeviceRequest request{code, buffer.data(), in, out, 0xDEADBEEF};
    const uint32_t status = ServeRequest(&request, mode, &Policy);
    return {status, request.Returned};
  }

  static inline TPolicyState Policy;

  static TBytes MemoryRequest(uint64_t address, uint32_t length, uint32_t unit, uint64_t user) {
    TBytes buffer(24);
    Put64(buffer, 0, address);
    Put32(buffer, 8, length);
    Put32(buffer, 12, unit);
    Put64(buffer, 16, user);
    return buffer;
  }

  static TBytes IndexedRequest(uint32_t index, uint64_t value = 0x5A5A5A5A5A5A5A5A) {
    TBytes buffer(16, 0x77);
    Put32(buffer, 0, index);
    Put64(buffer, 8, value);
    return buffer;
  }

  static bool MachineUntouched() {
    return gMachine.PortLog.empty() && gMachine.ConfigLog.empty() && gMachine.Mappings == 0;
  }
};

struct TCodeSize {
  uint32_t Code;
  uint32_t Size;
};

constexpr TCodeSize kEveryCode[] = {
    {0x222808, 24}, {0x22280C, 24}, {0x222810, 8},  {0x222814, 8},  {0x222818, 8},  {0x22281C, 8},  {0x222820, 8},
    {0x222824, 8},  {0x222830, 12}, {0x222834, 12}, {0x222838, 12}, {0x22283C, 12}, {0x222840, 12}, {0x222844, 12},
    {0x222848, 16}, {0x22284C, 16}, {0x222864, 8},  {0x222868, 16}, {0x22286C, 16}, {0x222870, 16},
};

TEST_F(DriverRequest, EveryCodeTakesExactlyItsBufferSize) {
  for (const auto& [code, size] : kEveryCode) {
    SCOPED_TRACE(::testing::Message() << std::hex << "code 0x" << code);
    const std::pair<uint32_t, uint32_t> wrong[] = {
        {size - 1, size - 1}, {size + 1, size + 1}, {size, size - 1}, {size - 1, size}, {size, 0}, {0, 0}};
    for (const auto& [in, out] : wrong) {
      TBytes buffer(size + 8, 0x33);
      const TBytes before = buffer;
      const TOutcome outcome = Serve(code, buffer, in, out);
      EXPECT_EQ(outcome.Status, NVK_STATUS_INFO_LENGTH_MISMATCH) << "in " << in << " out " << out;
      EXPECT_EQ(outcome.Returned, 0u);
      EXPECT_EQ(buffer, before);
    }
  }
  EXPECT_TRUE(MachineUntouched());
}

TEST_F(DriverRequest, CodesOutsideTheSetFailWithInvalidParameter) {
  // The legacy driver's codes, codes the program never sends, the gaps,
  // and the right function with another method, access or device type.
  for (const uint32_t code : {0x222800u, 0x222804u, 0x222828u, 0x22282Cu, 0x222850u, 0x222854u, 0x222860u,
                              0x222874u, 0x222809u, 0x22280Bu, 0x22E808u, 0x122808u, 0x0u, 0xFFFFFFFFu}) {
    TBytes buffer(24, 0x44);
    const TBytes before = buffer;
    const TOutcome outcome = Serve(code, buffer);
    EXPECT_EQ(outcome.Status, NVK_STATUS_INVALID_PARAMETER) << std::hex << code;
    EXPECT_EQ(outcome.Returned, 0u);
    EXPECT_EQ(buffer, before);
  }
  EXPECT_TRUE(MachineUntouched());
}

// The ports below are the SMBus controller's, which the driver serves.
TEST_F(DriverRequest, PortReadsFillOnlyTheirWidthOfTheValue) {
  gMachine.AddIch10(0x100000);
  gMachine.PortValues[0x404] = 0xAABBCCDD;
  const struct {
    uint32_t Code;
    unsigned Width;
    uint32_t Value;
  } reads[] = {{0x222810, 1, 0x111111DD}, {0x222818, 2, 0x1111CCDD}, {0x222820, 4, 0xAABBCCDD}};
  for (const auto& read : reads) {
    gMachine.PortLog.clear();
    TBytes buffer(8, 0x11);
    Put32(buffer, 0, 0xFFFF0404);  // the driver takes bits 15..0
    const TOutcome outcome = Serve(read.Code, buffer);
    EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS);
    EXPECT_EQ(outcome.Returned, 8u);
    EXPECT_EQ(Get32(buffer, 4), read.Value) << "width " << read.Width;
    EXPECT_EQ(Get32(buffer, 0), 0xFFFF0404u);
    EXPECT_EQ(gMachine.PortLog,
              (std::vector<TPortAccess>{{false, 0x404, read.Width, read.Value & WidthMask(read.Width)}}))
        << "width " << read.Width;
  }
}

TEST_F(DriverRequest, PortWritesSendOnlyTheirWidthOfTheValue) {
  gMachine.AddIch10(0x100000);
  const struct {
    uint32_t Code;
    unsigned Width;
    uint32_t Sent;
  } writes[] = {{0x222814, 1, 0x78}, {0x22281C, 2, 0x5678}, {0x222824, 4, 0x12345678}};
  for (const auto& write : writes) {
    gMachine.PortLog.clear();
    TBytes buffer(8);
    Put32(buffer, 0, 0x10000 | 0x408);
    Put32(buffer, 4, 0x12345678);
    const TOutcome outcome = Serve(write.Code, buffer);
    EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS);
    EXPECT_EQ(outcome.Returned, 0u);
    EXPECT_EQ(gMachine.PortLog, (std::vector<TPortAccess>{{true, 0x408, write.Width, write.Sent}}));
  }
}

TBytes ConfigRequest(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, uint32_t value = 0x99999999) {
  TBytes buffer(12, 0x66);
  buffer[0] = bus;
  buffer[1] = device;
  buffer[2] = function;
  std::memcpy(buffer.data() + 4, &offset, 2);
  Put32(buffer, 8, value);
  return buffer;
}

TEST_F(DriverRequest, ConfigurationAccessesUseMechanismOneWithExtendedRegisterBits) {
  gMachine.AddFunction(3, 5, 2, 0x29308086, 0x0C0500);
  gMachine.SetConfig(3, 5, 2, 0x1FC, 0xAB000000);
  gMachine.SetConfig(3, 5, 2, 0xFFC, 0xBEEF0000);
  const struct {
    uint32_t Code;
    uint16_t Offset;
    unsigned Width;
    uint32_t Address;
    uint16_t DataPort;
    uint32_t Value;  // the value field afterwards
  } cases[] = {
      // Register 1FFh: bit 8 goes to address bit 24, the byte lane to port 0CFFh.
      {0x222830, 0x1FF, 1, 0x81000000u + (3 << 16) + (5 << 11) + (2 << 8) + 0xFC, 0xCFF, 0x999999AB},
      {0x222838, 0xFFE, 2, 0x8F000000u + (3 << 16) + (5 << 11) + (2 << 8) + 0xFC, 0xCFE, 0x9999BEEF},
      {0x222840, 0x000, 4, 0x80000000u + (3 << 16) + (5 << 11) + (2 << 8), 0xCFC, 0x29308086},
  };
  for (const auto& c : cases) {
    gMachine.ConfigLog.clear();
    TBytes buffer = ConfigRequest(3, 5, 2, c.Offset);
    const TOutcome outcome = Serve(c.Code, buffer);
    EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS);
    EXPECT_EQ(outcome.Returned, 12u);
    EXPECT_EQ(Get32(buffer, 8), c.Value) << std::hex << c.Offset;
    EXPECT_EQ(gMachine.ConfigLog,
              (std::vector<TConfigCycle>{{c.Address, c.DataPort, c.Width, false, c.Value & WidthMask(c.Width)}}))
        << std::hex << c.Offset;
  }

  // A write the policy allows (a ServerWorks bridge's host enable byte)
  // takes the byte lane of its register.
  gMachine.AddFunction(0, 15, 0, 0x02001166, 0x060100);
  gMachine.ConfigLog.clear();
  TBytes write = ConfigRequest(0, 15, 0, 0x0D2, 0x12345601);
  const TOutcome outcome = Serve(0x222834, write);
  EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS);
  EXPECT_EQ(outcome.Returned, 0u);
  ASSERT_FALSE(gMachine.ConfigLog.empty());
  EXPECT_EQ(gMachine.ConfigLog.back(), (TConfigCycle{0x80000000u + (15 << 11) + 0xD0, 0xCFE, 1, true, 0x01}));
  EXPECT_EQ(gMachine.ConfigDword(0, 15, 0, 0xD0), 0x00010000u);
}

TEST_F(DriverRequest, ConfigurationFieldsOutOfRangeAreRefusedBeforeAnyPortAccess) {
  // Device 32 would become bus bit 0 of the address, function 8 device bit 0.
  const TBytes refused[] = {ConfigRequest(0, 32, 0, 0), ConfigRequest(0, 0, 8, 0), ConfigRequest(0, 0, 0, 0x1000),
                            ConfigRequest(0, 255, 255, 0xFFFF)};
  for (TBytes buffer : refused) {
    const TBytes before = buffer;
    EXPECT_EQ(Serve(0x222840, buffer).Status, NVK_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(buffer, before);
  }
  EXPECT_TRUE(MachineUntouched());
}

TEST_F(DriverRequest, MsrReadFillsEaxAndEdxFromTheIndexInEcx) {
  gMachine.Msrs[0x1A2] = 0x0000000400850089;
  TBytes buffer(16);
  Put32(buffer, 0, 0x11111111);
  Put32(buffer, 4, 0x22222222);
  Put32(buffer, 8, 0x1A2);
  Put32(buffer, 12, 0x44444444);
  const TOutcome outcome = Serve(0x222848, buffer);
  EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS);
  EXPECT_EQ(outcome.Returned, 16u);
  EXPECT_EQ(Get32(buffer, 0), 0x00850089u);
  EXPECT_EQ(Get32(buffer, 4), 0x22222222u);
  EXPECT_EQ(Get32(buffer, 8), 0x1A2u);
  EXPECT_EQ(Get32(buffer, 12), 0x4u);
}

TEST_F(DriverRequest, ProcessorFaultsFailTheRequestAndLeaveTheBuffer) {
  // No package thermal MSR, no counter 7, no CR4 in this model, and port
  // 404h and configuration space fault: the processor refuses.
  gMachine.AddIch10(0x100000);
  gMachine.Crs = {{0, 0x80050033}};
  gMachine.FaultingPorts = {0x404};
  TBytes msr(16, 0x21);
  Put32(msr, 8, 0x1B1);
  TBytes pmc = IndexedRequest(7);
  TBytes cr = IndexedRequest(4);
  TBytes port(8, 0x43);
  Put32(port, 0, 0x404);
  for (const auto& [code, buffer] : {std::pair{0x222848u, &msr}, std::pair{0x222868u, &pmc},
                                     std::pair{0x22286Cu, &cr}, std::pair{0x222810u, &port},
                                     std::pair{0x222818u, &port}, std::pair{0x222814u, &port}}) {
    const TBytes before = *buffer;
    const TOutcome outcome = Serve(code, *buffer);
    EXPECT_EQ(outcome.Status, NVK_STATUS_PRIVILEGED_INSTRUCTION) << std::hex << code;
    EXPECT_EQ(outcome.Returned, 0u);
    EXPECT_EQ(*buffer, before) << std::hex << code;
  }

  gMachine.ConfigFaults = true;
  for (const uint32_t code : {0x222840u, 0x222830u}) {
    TBytes config = ConfigRequest(0, 0x1F, 3, 0x20);
    const TBytes before = config;
    const TOutcome outcome = Serve(code, config);
    EXPECT_EQ(outcome.Status, NVK_STATUS_PRIVILEGED_INSTRUCTION) << std::hex << code;
    EXPECT_EQ(outcome.Returned, 0u);
    EXPECT_EQ(config, before);
  }
}

TEST_F(DriverRequest, CountersAreReadWhole) {
  gMachine.Tsc = 0x0123456789ABCDEF;
  TBytes tsc(8);
  TOutcome outcome = Serve(0x222864, tsc);
  EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS);
  EXPECT_EQ(outcome.Returned, 8u);
  EXPECT_EQ(Get64(tsc, 0), 0x0123456789ABCDEFu);

  gMachine.Pmcs[0x40000001] = 0xFEDCBA9876;
  TBytes pmc = IndexedRequest(0x40000001);
  outcome = Serve(0x222868, pmc);
  EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS);
  EXPECT_EQ(outcome.Returned, 16u);
  EXPECT_EQ(Get32(pmc, 0), 0x40000001u);
  EXPECT_EQ(Get64(pmc, 8), 0xFEDCBA9876u);
}

TEST_F(DriverRequest, ControlRegisterReadsByIndexAndMode) {
  const struct {
    TProcessorMode Mode;
    uint32_t Index;
    uint64_t Register;
    uint32_t Status;
    uint64_t Value;  // the value field afterwards
  } cases[] = {
      // The 32-bit driver sign-extends its 32-bit registers.
      {kMode32, 0, 0x80050033, NVK_STATUS_SUCCESS, 0xFFFFFFFF80050033},
      {kMode32, 4, 0x000006F9, NVK_STATUS_SUCCESS, 0x6F9},
      {kMode64, 0, 0x80050033, NVK_STATUS_SUCCESS, 0x80050033},
      {kMode64, 8, 0x2, NVK_STATUS_SUCCESS, 0x2},
      // CR2 and CR3 locate the kernel: refused in both modes.
      {kMode32, 3, 0x7FFFF000, NVK_STATUS_ACCESS_DENIED, 0x5A5A5A5A5A5A5A5A},
      {kMode32, 2, 0xC0001234, NVK_STATUS_ACCESS_DENIED, 0x5A5A5A5A5A5A5A5A},
      {kMode64, 3, 0x00000001AD000002, NVK_STATUS_ACCESS_DENIED, 0x5A5A5A5A5A5A5A5A},
      // CR8 exists only in 64-bit mode; 1, 5, 6, 7 and 9 do not exist.
      {kMode32, 8, 0x2, NVK_STATUS_INVALID_PARAMETER, 0x5A5A5A5A5A5A5A5A},
      {kMode64, 1, 0x1, NVK_STATUS_INVALID_PARAMETER, 0x5A5A5A5A5A5A5A5A},
      {kMode64, 5, 0x1, NVK_STATUS_INVALID_PARAMETER, 0x5A5A5A5A5A5A5A5A},
      {kMode64, 7, 0x1, NVK_STATUS_INVALID_PARAMETER, 0x5A5A5A5A5A5A5A5A},
      {kMode64, 9, 0x1, NVK_STATUS_INVALID_PARAMETER, 0x5A5A5A5A5A5A5A5A},
      {kMode64, 0x100, 0x1, NVK_STATUS_INVALID_PARAMETER, 0x5A5A5A5A5A5A5A5A},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << (c.Mode == kMode32 ? 32 : 64) << " CR" << c.Index);
    gMachine.Crs.clear();
    for (unsigned index = 0; index <= 9; ++index) gMachine.Crs[index] = 0xDDDD;
    gMachine.Crs[c.Index] = c.Register;
    TBytes buffer = IndexedRequest(c.Index);
    const TOutcome outcome = Serve(0x22286C, buffer, c.Mode);
    EXPECT_EQ(outcome.Status, c.Status);
    EXPECT_EQ(outcome.Returned, c.Status == NVK_STATUS_SUCCESS ? 16u : 0u);
    EXPECT_EQ(Get64(buffer, 8), c.Value);
    EXPECT_EQ(Get32(buffer, 0), c.Index);
  }
}

TEST_F(DriverRequest, MemoryReadsCopyTheRangeIntoTheCallersBuffer) {
  for (size_t i = 0; i < 64; ++i) gMachine.PhysicalAt(0xF0000)[i] = static_cast<uint8_t>(0x80 + i);
  for (const uint32_t unit : {0u, 1u, 2u}) {
    std::fill(gMachine.User.begin(), gMachine.User.end(), 0xEE);
    TBytes buffer = MemoryRequest(0xF0010, 32, unit, gMachine.UserBase + 0x100);
    const TBytes before = buffer;
    const TOutcome outcome = Serve(0x222808, buffer);
    EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS) << "unit " << unit;
    EXPECT_EQ(outcome.Returned, 24u);
    EXPECT_EQ(buffer, before);
    EXPECT_EQ(TBytes(gMachine.UserAt(gMachine.UserBase + 0x100), gMachine.UserAt(gMachine.UserBase + 0x120)),
              TBytes(gMachine.PhysicalAt(0xF0010), gMachine.PhysicalAt(0xF0030)))
        << "unit " << unit;
    EXPECT_EQ(*gMachine.UserAt(gMachine.UserBase + 0xFF), 0xEE);
    EXPECT_EQ(*gMachine.UserAt(gMachine.UserBase + 0x120), 0xEE);
  }
}

// The one register the driver writes in device memory: ICH10's Function
// Disable at RCBA + 3418h, whose bit 3 hides the SMBus function.
TEST_F(DriverRequest, MemoryWritesReachTheRegisterAsOneDword) {
  gMachine.AddIch10(0x100000);
  const uint64_t functionDisable = 0x103418;
  const uint32_t before = 0x00000009, after = 0x00000001;
  std::memcpy(gMachine.PhysicalAt(functionDisable), &before, 4);
  std::memcpy(gMachine.UserAt(gMachine.UserBase), &after, 4);
  TBytes buffer = MemoryRequest(functionDisable, 4, 2, gMachine.UserBase);
  const TOutcome outcome = Serve(0x22280C, buffer);
  EXPECT_EQ(outcome.Status, NVK_STATUS_SUCCESS);
  EXPECT_EQ(outcome.Returned, 0u);
  uint32_t stored;
  std::memcpy(&stored, gMachine.PhysicalAt(functionDisable), 4);
  EXPECT_EQ(stored, after);
  // The policy read the register once; the write is one dword access.
  EXPECT_EQ(gMachine.MappedLog.back(), (TFakeMachine::TMappedAccess{functionDisable - 0xC0000, 4, true}));
}

// Device registers react to every access: each unit is one access of the
// unit's width, from the lowest address up.
TEST_F(DriverRequest, MemoryIsReadInUnitsFromTheLowestAddressUp) {
  TBytes first = MemoryRequest(0xF0000, 4, 0, gMachine.UserBase);  // the driver's own walk of the firmware
  ASSERT_EQ(Serve(0x222808, first).Status, NVK_STATUS_SUCCESS);
  for (const uint32_t unit : {0u, 1u, 2u}) {
    gMachine.MappedLog.clear();
    TBytes buffer = MemoryRequest(0xE0008, 8, unit, gMachine.UserBase);
    EXPECT_EQ(Serve(0x222808, buffer).Status, NVK_STATUS_SUCCESS);
    const unsigned width = 1u << unit;
    std::vector<TFakeMachine::TMappedAccess> expected;
    for (uint64_t offset = 0; offset < 8; offset += width) expected.push_back({0x20008 + offset, width, false});
    EXPECT_EQ(gMachine.MappedLog, expected) << "unit " << unit;
  }
}

TEST_F(DriverRequest, MemoryRequestFieldsOutsideTheLimitsAreRefusedUnmapped) {
  gMachine.UserLimit = 0x7FFF0000;
  gMachine.UserBase = 0x7FFE0000;
  const uint64_t user = gMachine.UserBase;
  const struct {
    const char* What;
    TBytes Request;
    uint32_t Status;
  } cases[] = {
      {"unit 3", MemoryRequest(0xF0000, 8, 3, user), NVK_STATUS_INVALID_PARAMETER},
      {"unit above 3", MemoryRequest(0xF0000, 8, 0x80000001, user), NVK_STATUS_INVALID_PARAMETER},
      {"words, odd length", MemoryRequest(0xF0000, 7, 1, user), NVK_STATUS_INVALID_PARAMETER},
      {"dwords, length 6", MemoryRequest(0xF0000, 6, 2, user), NVK_STATUS_INVALID_PARAMETER},
      {"over 1 MiB", MemoryRequest(0xF0000, 0x100004, 2, user), NVK_STATUS_INVALID_PARAMETER},
      {"4 GiB less one", MemoryRequest(0xF0000, 0xFFFFFFFF, 0, user), NVK_STATUS_INVALID_PARAMETER},
      {"address wraps", MemoryRequest(0xFFFFFFFFFFFFFFF0, 0x20, 0, user), NVK_STATUS_INVALID_PARAMETER},
      {"pointer in the kernel", MemoryRequest(0xF0000, 8, 0, 0x80000000), NVK_STATUS_ACCESS_VIOLATION},
      {"pointer across the user limit", MemoryRequest(0xF0000, 16, 0, 0x7FFF0000 - 8), NVK_STATUS_ACCESS_VIOLATION},
      {"pointer wraps", MemoryRequest(0xF0000, 16, 0, 0xFFFFFFFFFFFFFFF8), NVK_STATUS_ACCESS_VIOLATION},
      {"32-bit pointer with a high half", MemoryRequest(0xF0000, 8, 0, 0x100000000 | user),
       NVK_STATUS_ACCESS_VIOLATION},
  };
  for (const auto& c : cases) {
    for (const uint32_t code : {0x222808u, 0x22280Cu}) {
      TBytes buffer = c.Request;
      const TOutcome outcome = Serve(code, buffer);
      EXPECT_EQ(outcome.Status, c.Status) << c.What << std::hex << " code 0x" << code;
      EXPECT_EQ(outcome.Returned, 0u);
      EXPECT_EQ(buffer, c.Request);
    }
  }
  EXPECT_TRUE(MachineUntouched());
}

TEST_F(DriverRequest, MemoryRequestsUpToOneMebibyteAreServed) {
  std::fill(gMachine.Physical.begin(), gMachine.Physical.end(), 0xC3);
  gMachine.AddFirmwareTables(0xC0000, 0);  // bus 0's configuration window: 1 MiB from C0000h
  gMachine.User.assign(0x100000, 0);
  gMachine.UserLimit = 0x7FFF0000;
  gMachine.UserBase = 0x7FFF0000 - 0x100000;  // ends right at the limit
  TBytes buffer = MemoryRequest(0xC0000, 0x100000, 2, gMachine.UserBase);
  EXPECT_EQ(Serve(0x222808, buffer).Status, NVK_STATUS_SUCCESS);
  EXPECT_EQ(gMachine.User.front(), 0xC3);
  EXPECT_EQ(gMachine.User.back(), 0xC3);

  TBytes empty = MemoryRequest(0x0, 0, 2, gMachine.UserBase);
  const int mappings = gMachine.Mappings;
  EXPECT_EQ(Serve(0x22280C, empty).Status, NVK_STATUS_SUCCESS);
  EXPECT_EQ(gMachine.Mappings, mappings);
}

TEST_F(DriverRequest, UnmappableRangeFailsAndLeavesTheCallersBufferUntouched) {
  std::fill(gMachine.User.begin(), gMachine.User.end(), 0xA5);
  gMachine.AddFirmwareTables(0xE0000000, 0);  // a configuration window the model cannot map
  TBytes buffer = MemoryRequest(0xE0000000, 16, 0, gMachine.UserBase);
  const TOutcome outcome = Serve(0x222808, buffer);
  EXPECT_EQ(outcome.Status, NVK_STATUS_UNSUCCESSFUL);
  EXPECT_EQ(outcome.Returned, 0u);
  EXPECT_TRUE(std::all_of(gMachine.User.begin(), gMachine.User.end(), [](uint8_t byte) { return byte == 0xA5; }));
}

TEST_F(DriverRequest, BadUserPointersFailWithoutReachingTheDevice) {
  std::fill(gMachine.Physical.begin(), gMachine.Physical.end(), 0x3C);
  // Below the user limit but not mapped in the process: the copy faults.
  const uint64_t unmapped = gMachine.UserBase + gMachine.User.size() + 0x1000;
  TBytes write = MemoryRequest(0xE0000, 16, 0, unmapped);
  EXPECT_EQ(Serve(0x22280C, write).Status, NVK_STATUS_ACCESS_VIOLATION);
  EXPECT_EQ(gMachine.Mappings, 0) << "a write must read all of the caller's data before touching the device";
  EXPECT_EQ(*gMachine.PhysicalAt(0xE0000), 0x3C);

  // A buffer whose tail runs off the end of the process's block.
  TBytes straddling = MemoryRequest(0xE0000, 16, 0, gMachine.UserBase + gMachine.User.size() - 8);
  EXPECT_EQ(Serve(0x22280C, straddling).Status, NVK_STATUS_ACCESS_VIOLATION);
  EXPECT_EQ(Serve(0x222808, straddling).Status, NVK_STATUS_ACCESS_VIOLATION);
}

// RAM holds the kernel, its page tables and every process: neither reads
// nor writes reach it, and where the system cannot list its RAM no memory
// request does.
TEST_F(DriverRequest, RamIsNeitherReadNorWritten) {
  gMachine.RamRanges = {{0x1000, 0xDF000}, {0x100000, 0x7FF00000}};
  gMachine.PhysicalBase = 0x0;
  gMachine.Physical.assign(0x200000, 0x11);
  std::fill(gMachine.User.begin(), gMachine.User.end(), 0x22);
  const struct {
    uint64_t Address;
    uint32_t Length;
    bool Refused;
  } cases[] = {
      {0x1000, 4, true},
      {0xDFFFC, 4, true},   // last dword of the low range
      {0xDFFFC, 8, true},   // from RAM into the firmware area
      {0xE0000, 4, false},  // first dword after it
      {0xFFFF8, 8, false},  // last bytes before the next range
      {0xFFFFC, 8, true},   // into the next range
      {0x150000, 16, true},
  };
  for (const auto& c : cases) {
    TBytes buffer = MemoryRequest(c.Address, c.Length, 0, gMachine.UserBase);
    EXPECT_EQ(Serve(0x222808, buffer).Status, c.Refused ? NVK_STATUS_ACCESS_DENIED : NVK_STATUS_SUCCESS)
        << std::hex << c.Address;
    EXPECT_EQ(*gMachine.UserAt(gMachine.UserBase), c.Refused ? 0x22 : 0x11) << std::hex << c.Address;
    std::fill(gMachine.User.begin(), gMachine.User.end(), 0x22);
    EXPECT_EQ(Serve(0x22280C, buffer).Status, NVK_STATUS_ACCESS_DENIED) << std::hex << c.Address;
    EXPECT_EQ(gMachine.Physical[c.Address + c.Length - 1], 0x11) << std::hex << c.Address;
  }

  gMachine.RamKnown = false;
  TBytes firmware = MemoryRequest(0xF0000, 4, 0, gMachine.UserBase);
  EXPECT_EQ(Serve(0x222808, firmware).Status, NVK_STATUS_ACCESS_DENIED);
  EXPECT_EQ(*gMachine.UserAt(gMachine.UserBase), 0x22);
}

// Conditions the kernel can meet: no buffer, no scratch memory.
TEST_F(DriverRequest, MissingBufferAndScratchMemoryFailCleanly) {
  TDeviceRequest noBuffer{0x222864, nullptr, 8, 8, 0xDEADBEEF};
  EXPECT_EQ(ServeRequest(&noBuffer, kMode64, &Policy), NVK_STATUS_INFO_LENGTH_MISMATCH);
  EXPECT_EQ(noBuffer.Returned, 0u);

  gMachine.AllocationFails = true;
  std::fill(gMachine.User.begin(), gMachine.User.end(), 0x22);
  TBytes read = MemoryRequest(0xF0000, 16, 0, gMachine.UserBase);
  const TOutcome outcome = Serve(0x222808, read);
  EXPECT_EQ(outcome.Status, NVK_STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(outcome.Returned, 0u);
  EXPECT_EQ(*gMachine.UserAt(gMachine.UserBase), 0x22);
  EXPECT_EQ(gMachine.Mappings, 0);
}

}  // namespace
