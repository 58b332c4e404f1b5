// Loads the I/O driver image given on the command line as the kernel-driver
// service "NvkDrv101", opens its device and checks the requests that a
// driver host without real hardware can answer:
//
//   driver_probe IMAGE.sys
//
// The image is copied to the system's Drivers folder, registered, started,
// and removed again at the end, so the prefix is left as it was. Each check
// prints one line; the exit code is the number of failed checks (or 100 when
// the driver does not load at all).
//
// A plain program rather than a GoogleTest one: it is built for x86 and for
// x64, and the driver host runs only an image of the registering program's
// own bitness.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "request.h"

namespace {

constexpr wchar_t kServiceName[] = L"NvkDrv101";

int failures = 0;

void Check(bool passed, const char* name, const char* detail = "") {
  std::printf("%s %s%s%s\n", passed ? "ok  " : "FAIL", name, *detail ? ": " : "", detail);
  if (!passed) ++failures;
}

struct TOutcome {
  bool Succeeded;
  DWORD Error;
  DWORD Returned;
};

// One request with the buffer as input and output, as the program sends it.
TOutcome Request(HANDLE device, DWORD code, void* buffer, DWORD inLength, DWORD outLength) {
  DWORD returned = 0xDEADBEEF;
  SetLastError(0);
  const BOOL ok = DeviceIoControl(device, code, buffer, inLength, buffer, outLength, &returned, nullptr);
  return {ok != FALSE, ok ? 0 : GetLastError(), returned};
}

TOutcome Request(HANDLE device, DWORD code, void* buffer, DWORD length) {
  return Request(device, code, buffer, length, length);
}

std::string Describe(const TOutcome& outcome) {
  char text[80];
  std::snprintf(text, sizeof text, "succeeded=%d error=%lu returned=%lu", outcome.Succeeded ? 1 : 0,
                static_cast<unsigned long>(outcome.Error), static_cast<unsigned long>(outcome.Returned));
  return text;
}

void ExpectFailure(const TOutcome& outcome, DWORD error, const char* name) {
  Check(!outcome.Succeeded && outcome.Error == error, name, Describe(outcome).c_str());
}

struct TMemoryRequest {
  uint64_t Address;
  uint32_t Length;
  uint32_t Unit;
  uint64_t Data;
};
static_assert(sizeof(TMemoryRequest) == 24, "memory request layout");

uint64_t ReadTsc(HANDLE device, TOutcome& outcome) {
  uint64_t value = 0;
  outcome = Request(device, kReadTsc, &value, sizeof value);
  return value;
}

void CheckRequests(HANDLE device) {
  TOutcome outcome{};
  const uint64_t first = ReadTsc(device, outcome);
  Check(outcome.Succeeded && outcome.Returned == 8 && first != 0, "time-stamp counter read", Describe(outcome).c_str());
  const uint64_t second = ReadTsc(device, outcome);
  Check(outcome.Succeeded && second > first, "time-stamp counter advances");

  // Codes outside the request set, among them the neighbours of real ones.
  for (const DWORD code : {0x222800ul, 0x222850ul, 0x222874ul, 0x222867ul}) {
    uint8_t buffer[24] = {};
    char name[48];
    std::snprintf(name, sizeof name, "unknown code 0x%06lX refused", static_cast<unsigned long>(code));
    ExpectFailure(Request(device, code, buffer, sizeof buffer), ERROR_INVALID_PARAMETER, name);
  }

  {
    uint8_t buffer[16];
    std::memset(buffer, 0x5A, sizeof buffer);
    std::memset(buffer, 0, 4);
    buffer[0] = 1;
    ExpectFailure(Request(device, kReadCr, buffer, sizeof buffer), ERROR_INVALID_PARAMETER,
                  "control register 1 refused");
    bool untouched = buffer[0] == 1;
    for (int i = 4; i < 16; ++i) untouched = untouched && buffer[i] == 0x5A;
    Check(untouched, "refused control-register read leaves the buffer");
  }

  // Wrong buffer sizes: short, long, and output unlike input.
  {
    uint8_t buffer[32] = {};
    ExpectFailure(Request(device, kReadTsc, buffer, 4), ERROR_BAD_LENGTH, "short counter buffer refused");
    ExpectFailure(Request(device, kReadTsc, buffer, 16), ERROR_BAD_LENGTH, "long counter buffer refused");
    ExpectFailure(Request(device, kReadPort8, buffer, 8, 0), ERROR_BAD_LENGTH, "port read without output refused");
    ExpectFailure(Request(device, kReadConfig32, buffer, 8), ERROR_BAD_LENGTH, "short configuration buffer refused");
    ExpectFailure(Request(device, kReadMemory, buffer, 16), ERROR_BAD_LENGTH, "short memory request refused");
  }

  // The caller's data pointer: outside user space it is refused unread; an
  // unmapped user page faults inside the driver, which must catch the fault
  // and fail the request instead of taking its host down.
  {
    TMemoryRequest request{0xF0000, 16, 0, ~uint64_t{0} - 0xFFF};
    ExpectFailure(Request(device, kReadMemory, &request, sizeof request), ERROR_NOACCESS,
                  "data pointer above user space refused");
    request = TMemoryRequest{0xF0000, 16, 0, 0x1000};
    ExpectFailure(Request(device, kWriteMemory, &request, sizeof request), ERROR_NOACCESS,
                  "unmapped data page fails the write");
    request = TMemoryRequest{0xF0000, 6, 2, 0x1000};
    ExpectFailure(Request(device, kReadMemory, &request, sizeof request), ERROR_INVALID_PARAMETER,
                  "length not a multiple of the unit refused");
    ReadTsc(device, outcome);
    Check(outcome.Succeeded, "driver still serves after the fault");
  }

  // Wine's driver host runs in user mode: there the driver has no
  // configuration space to give, and RDPMC faults, which the driver's
  // exception guard must turn into a failed request.
  for (const DWORD code : {static_cast<DWORD>(kReadConfig32), static_cast<DWORD>(kReadPmc)}) {
    // Counter 0, or register 0 of function 0:0.0; the rest is a pattern.
    uint8_t buffer[16];
    std::memset(buffer, 0x3C, sizeof buffer);
    std::memset(buffer, 0, 8);
    const DWORD length = code == kReadPmc ? kIndexedRequestSize : kConfigRequestSize;
    outcome = Request(device, code, buffer, length);
    bool untouched = true;
    for (DWORD i = 0; i < length; ++i) untouched = untouched && buffer[i] == (i < 8 ? 0 : 0x3C);
    Check(!outcome.Succeeded && outcome.Error != ERROR_ACCESS_DENIED && untouched,
          code == kReadPmc ? "faulting counter read fails cleanly" : "faulting configuration read fails cleanly",
          Describe(outcome).c_str());
  }
  ReadTsc(device, outcome);
  Check(outcome.Succeeded, "driver still serves after processor faults");

#if defined(__i386__)
  // Wine emulates reading CR0 with bit 31 (paging) set; the 32-bit driver
  // hands it out sign-extended.
  {
    uint8_t buffer[16] = {};
    outcome = Request(device, kReadCr, buffer, sizeof buffer);
    uint64_t value;
    std::memcpy(&value, buffer + 8, 8);
    Check(outcome.Succeeded && (value & 0x80000000) != 0 && (value >> 32) == 0xFFFFFFFF,
          "CR0 read is sign-extended", Describe(outcome).c_str());
  }
#endif

  // Wine's kernel cannot list the machine's RAM (its function for that is
  // a stub that raises): the driver must survive asking, and then refuses
  // every memory request, as it does wherever the system cannot say.
  {
    uint8_t data[16];
    std::memset(data, 0xA5, sizeof data);
    TMemoryRequest request{0xF0000, sizeof data, 0, reinterpret_cast<uintptr_t>(data)};
    ExpectFailure(Request(device, kReadMemory, &request, sizeof request), ERROR_ACCESS_DENIED,
                  "memory read refused where RAM is unknown");
    bool untouched = true;
    for (const uint8_t byte : data) untouched = untouched && byte == 0xA5;
    Check(untouched, "refused memory read leaves the data buffer");
  }

  // Refused by the policy before the machine is touched, so they fail the
  // same way here as on a real machine.
  {
    uint32_t registers[4] = {0, 0, 0xC0000082, 0};  // LSTAR
    ExpectFailure(Request(device, kWriteMsr, registers, sizeof registers), ERROR_ACCESS_DENIED,
                  "system-call entry register write refused");
    uint8_t cr3[16] = {3};
    ExpectFailure(Request(device, kReadCr, cr3, sizeof cr3), ERROR_ACCESS_DENIED, "CR3 read refused");
    uint32_t reset[2] = {0xCF9, 0x06};
    ExpectFailure(Request(device, kWritePort8, reset, sizeof reset), ERROR_ACCESS_DENIED, "reset port write refused");
  }
}

std::wstring DriversFolderPath() {
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system, length) + L"\\drivers\\NvkDrv101.sys";
}

void RemoveService(SC_HANDLE manager) {
  SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (service == nullptr) return;
  SERVICE_STATUS status;
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  DeleteService(service);
  CloseServiceHandle(service);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: driver_probe IMAGE.sys\n");
    return 100;
  }
  const std::wstring imagePath = DriversFolderPath();
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    std::printf("FAIL service control manager: error %lu\n", GetLastError());
    return 100;
  }
  // A service left by an earlier run would keep its old image loaded.
  RemoveService(manager);
  if (!CopyFileW(argv[1], imagePath.c_str(), FALSE)) {
    std::printf("FAIL copy image: error %lu\n", GetLastError());
    return 100;
  }
  SC_HANDLE service =
      CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr, nullptr, nullptr,
                     nullptr, nullptr);
  Check(service != nullptr, "service created");
  const bool started = service != nullptr && StartServiceW(service, 0, nullptr);
  char error[32];
  std::snprintf(error, sizeof error, "error %lu", started ? 0ul : static_cast<unsigned long>(GetLastError()));
  Check(started, "service started", error);

  HANDLE device = CreateFileW(L"\\\\.\\NvkDrv101", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  Check(device != INVALID_HANDLE_VALUE, "device opened");
  const bool loaded = started && device != INVALID_HANDLE_VALUE;
  if (loaded) {
    CheckRequests(device);
    CloseHandle(device);
  }

  if (service != nullptr) CloseServiceHandle(service);
  RemoveService(manager);
  CloseServiceHandle(manager);
  DeleteFileW(imagePath.c_str());
  return loaded ? failures : 100;
}
