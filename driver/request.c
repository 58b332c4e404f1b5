/*
 * Decoding, checking and carrying out the driver's requests. Every field of
 * a request is checked before the machine is touched; every refusal is an
 * ordinary failed request with the buffer left as it came.
 */
#include "request.h"

#include <string.h>

#include "machine.h"

/* Model-specific registers that hold the system-call entry points and the
 * selectors and flags they run with. Whoever writes them runs their own
 * code in kernel mode at the next system call. */
enum {
  kMsrSysenterCs = 0x174,
  kMsrSysenterEsp = 0x175,
  kMsrSysenterEip = 0x176,
  kMsrStar = 0xC0000081u,
  kMsrLstar = 0xC0000082u,
  kMsrCstar = 0xC0000083u,
  kMsrSfmask = 0xC0000084u
};

/* Control-register bits that keep the kernel from writing read-only pages
 * (CR0.WP) and from running or touching user pages (CR4.SMEP, CR4.SMAP). */
#define CR0_WRITE_PROTECT (1ull << 16)
#define CR4_SMEP (1ull << 20)
#define CR4_SMAP (1ull << 21)

/* Legacy PCI configuration mechanism #1. */
enum { kConfigAddressPort = 0xCF8, kConfigDataPort = 0xCFC };

static uint16_t Load16(const uint8_t* at) {
  uint16_t value;
  memcpy(&value, at, sizeof value);
  return value;
}

static uint32_t Load32(const uint8_t* at) {
  uint32_t value;
  memcpy(&value, at, sizeof value);
  return value;
}

static uint64_t Load64(const uint8_t* at) {
  uint64_t value;
  memcpy(&value, at, sizeof value);
  return value;
}

static void Store32(uint8_t* at, uint32_t value) { memcpy(at, &value, sizeof value); }

static void Store64(uint8_t* at, uint64_t value) { memcpy(at, &value, sizeof value); }

/* A read of `width` bytes changes only that many low bytes of the field. */
static void StoreLow(uint8_t* at, uint32_t value, unsigned width) { memcpy(at, &value, width); }

static uint32_t LowBits(uint32_t value, unsigned width) {
  return width == 4 ? value : value & ((1u << (8 * width)) - 1);
}

/* --- physical memory ---------------------------------------------------- */

static void CopyFromDevice(uint8_t* to, const volatile uint8_t* mapping, uint32_t length, unsigned unit) {
  for (uint32_t at = 0; at < length; at += unit) {
    const uint32_t value = MachineReadMapped(mapping + at, unit);
    memcpy(to + at, &value, unit);
  }
}

static void CopyToDevice(volatile uint8_t* mapping, const uint8_t* from, uint32_t length, unsigned unit) {
  for (uint32_t at = 0; at < length; at += unit) {
    uint32_t value = 0;
    memcpy(&value, from + at, unit);
    MachineWriteMapped(mapping + at, unit, value);
  }
}

/*
 * The data travel through a scratch block so that the caller's pages are
 * touched only by the fault-reporting copies, and a write reaches the
 * device only after all of the caller's data were read.
 */
static uint32_t MoveMemory(uint64_t address, uint32_t length, unsigned unit, uint64_t user, bool write) {
  uint8_t* scratch = MachineAllocate(length);
  if (scratch == NULL) return NVK_STATUS_INSUFFICIENT_RESOURCES;
  uint32_t status = NVK_STATUS_SUCCESS;
  if (write && !MachineCopyFromUser(scratch, user, length)) {
    status = NVK_STATUS_ACCESS_VIOLATION;
  } else if (write && MachineTouchesRam(address, length)) {
    /* RAM holds the kernel's code and data; the program only ever writes
     * device memory. */
    status = NVK_STATUS_ACCESS_DENIED;
  } else {
    void* mapping = MachineMapPhysical(address, length);
    if (mapping == NULL) {
      status = NVK_STATUS_UNSUCCESSFUL;
    } else {
      if (write) {
        CopyToDevice(mapping, scratch, length, unit);
      } else {
        CopyFromDevice(scratch, mapping, length, unit);
      }
      MachineUnmapPhysical(mapping, length);
      if (!write && !MachineCopyToUser(user, scratch, length)) status = NVK_STATUS_ACCESS_VIOLATION;
    }
  }
  MachineFree(scratch);
  return status;
}

static uint32_t ServeMemory(TDeviceRequest* request, bool write) {
  const uint8_t* buffer = request->Buffer;
  const uint64_t address = Load64(buffer + 0);
  const uint32_t length = Load32(buffer + 8);
  const uint32_t unitCode = Load32(buffer + 12);
  const uint64_t user = Load64(buffer + 16);
  if (unitCode > 2) return NVK_STATUS_INVALID_PARAMETER;
  const unsigned unit = 1u << unitCode;
  if (length % unit != 0 || length > NVK_MEMORY_REQUEST_LIMIT) return NVK_STATUS_INVALID_PARAMETER;
  if (address + length < address) return NVK_STATUS_INVALID_PARAMETER;
  /* Only the calling process's own pages: a pointer into the kernel would
   * let the caller read or overwrite the kernel through this driver. */
  const uint64_t userLimit = MachineUserLimit();
  if (user > userLimit || length > userLimit - user) return NVK_STATUS_ACCESS_VIOLATION;
  request->Returned = write ? 0 : kMemoryRequestSize;
  if (length == 0) return NVK_STATUS_SUCCESS;
  return MoveMemory(address, length, unit, user, write);
}

/* --- ports and PCI configuration space -------------------------------- */

static uint32_t ServePort(TDeviceRequest* request, unsigned width, bool write) {
  uint8_t* buffer = request->Buffer;
  const uint16_t port = (uint16_t)Load32(buffer + 0);
  if (write) {
    request->Returned = 0;
    return MachinePortOut(port, width, LowBits(Load32(buffer + 4), width)) ? NVK_STATUS_SUCCESS
                                                                          : NVK_STATUS_PRIVILEGED_INSTRUCTION;
  }
  uint32_t value;
  if (!MachinePortIn(port, width, &value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  StoreLow(buffer + 4, value, width);
  request->Returned = kPortRequestSize;
  return NVK_STATUS_SUCCESS;
}

static uint32_t ServeConfig(TDeviceRequest* request, unsigned width, bool write) {
  uint8_t* buffer = request->Buffer;
  const uint32_t bus = buffer[0], device = buffer[1], function = buffer[2];
  const uint32_t offset = Load16(buffer + 4);
  /* A device above 31 or a function above 7 would spill into the bus and
   * device bits of the address and reach another function. */
  if (device > 31 || function > 7 || offset > 0xFFF) return NVK_STATUS_INVALID_PARAMETER;
  /* Register bits 8..11 travel in address bits 24..27, the extended form
   * that processors with that feature enabled accept. */
  const uint32_t address = 0x80000000u | ((offset >> 8) & 0xF) << 24 | bus << 16 | device << 11 | function << 8 |
                           (offset & 0xFC);
  const uint16_t dataPort = (uint16_t)(kConfigDataPort + (offset & 3));
  if (!MachinePortOut(kConfigAddressPort, 4, address)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  if (write) {
    request->Returned = 0;
    return MachinePortOut(dataPort, width, LowBits(Load32(buffer + 8), width)) ? NVK_STATUS_SUCCESS
                                                                              : NVK_STATUS_PRIVILEGED_INSTRUCTION;
  }
  uint32_t value;
  if (!MachinePortIn(dataPort, width, &value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  StoreLow(buffer + 8, value, width);
  request->Returned = kConfigRequestSize;
  return NVK_STATUS_SUCCESS;
}

/* --- processor registers ---------------------------------------------- */

static bool IsSystemCallMsr(uint32_t index) {
  switch (index) {
    case kMsrSysenterCs:
    case kMsrSysenterEsp:
    case kMsrSysenterEip:
    case kMsrStar:
    case kMsrLstar:
    case kMsrCstar:
    case kMsrSfmask:
      return true;
    default:
      return false;
  }
}

/* The register request is Eax at 0, Ebx at 4, Ecx at 8, Edx at 12. */
static uint32_t ServeMsr(TDeviceRequest* request, bool write) {
  uint8_t* buffer = request->Buffer;
  const uint32_t index = Load32(buffer + 8);
  if (write) {
    if (IsSystemCallMsr(index)) return NVK_STATUS_ACCESS_DENIED;
    const uint64_t value = (uint64_t)Load32(buffer + 12) << 32 | Load32(buffer + 0);
    request->Returned = 0;
    return MachineWriteMsr(index, value) ? NVK_STATUS_SUCCESS : NVK_STATUS_PRIVILEGED_INSTRUCTION;
  }
  uint64_t value;
  if (!MachineReadMsr(index, &value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  Store32(buffer + 0, (uint32_t)value);
  Store32(buffer + 12, (uint32_t)(value >> 32));
  request->Returned = kRegisterRequestSize;
  return NVK_STATUS_SUCCESS;
}

static uint32_t ServeTsc(TDeviceRequest* request) {
  uint64_t value;
  if (!MachineReadTsc(&value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  Store64(request->Buffer, value);
  request->Returned = kCounterRequestSize;
  return NVK_STATUS_SUCCESS;
}

static uint32_t ServePmc(TDeviceRequest* request) {
  uint64_t value;
  if (!MachineReadPmc(Load32(request->Buffer), &value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  Store64(request->Buffer + 8, value);
  request->Returned = kIndexedRequestSize;
  return NVK_STATUS_SUCCESS;
}

/* CR8 exists only in 64-bit mode: in 32-bit mode its encoding is an
 * invalid opcode. */
static bool IsReadableCr(uint32_t index, TProcessorMode mode) {
  return index == 0 || index == 2 || index == 3 || index == 4 || (index == 8 && mode == kMode64);
}

static bool IsWritableCr(uint32_t index, TProcessorMode mode) { return index != 2 && IsReadableCr(index, mode); }

static uint32_t ServeReadCr(TDeviceRequest* request, TProcessorMode mode) {
  const uint32_t index = Load32(request->Buffer);
  if (!IsReadableCr(index, mode)) return NVK_STATUS_INVALID_PARAMETER;
  uint64_t value;
  if (!MachineReadCr(index, &value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  /* A 32-bit register is handed out sign-extended to 64 bits. */
  if (mode == kMode32) value = (uint64_t)(int64_t)(int32_t)(uint32_t)value;
  Store64(request->Buffer + 8, value);
  request->Returned = kIndexedRequestSize;
  return NVK_STATUS_SUCCESS;
}

static bool ClearsBit(uint64_t current, uint64_t next, uint64_t bit) { return (current & bit) && !(next & bit); }

/*
 * A write may not switch off the protections above, nor change CR3 or CR8:
 * Windows owns the address space (CR3) and keeps the interrupt level in
 * CR8, and a request that returns with either changed brings the system
 * down. Writing back the current value stays allowed.
 */
static bool IsSafeCrWrite(uint32_t index, uint64_t current, uint64_t next) {
  switch (index) {
    case 0:
      return !ClearsBit(current, next, CR0_WRITE_PROTECT);
    case 4:
      return !ClearsBit(current, next, CR4_SMEP) && !ClearsBit(current, next, CR4_SMAP);
    default:
      return next == current;
  }
}

static uint32_t ServeWriteCr(TDeviceRequest* request, TProcessorMode mode) {
  const uint32_t index = Load32(request->Buffer);
  if (!IsWritableCr(index, mode)) return NVK_STATUS_INVALID_PARAMETER;
  uint64_t next = Load64(request->Buffer + 8);
  /* The 32-bit driver loads the low half. */
  if (mode == kMode32) next = (uint32_t)next;
  uint64_t current;
  if (!MachineReadCr(index, &current)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  if (!IsSafeCrWrite(index, current, next)) return NVK_STATUS_ACCESS_DENIED;
  request->Returned = 0;
  return MachineWriteCr(index, next) ? NVK_STATUS_SUCCESS : NVK_STATUS_PRIVILEGED_INSTRUCTION;
}

/* --- dispatch ---------------------------------------------------------- */

/* The buffer size of a known request code, or 0 for an unknown code. */
static uint32_t RequestSize(uint32_t code) {
  switch (code) {
    case kReadMemory:
    case kWriteMemory:
      return kMemoryRequestSize;
    case kReadPort8:
    case kWritePort8:
    case kReadPort16:
    case kWritePort16:
    case kReadPort32:
    case kWritePort32:
      return kPortRequestSize;
    case kReadConfig8:
    case kWriteConfig8:
    case kReadConfig16:
    case kWriteConfig16:
    case kReadConfig32:
    case kWriteConfig32:
      return kConfigRequestSize;
    case kReadMsr:
    case kWriteMsr:
      return kRegisterRequestSize;
    case kReadTsc:
      return kCounterRequestSize;
    case kReadPmc:
    case kReadCr:
    case kWriteCr:
      return kIndexedRequestSize;
    default:
      return 0;
  }
}

uint32_t ServeRequest(TDeviceRequest* request, TProcessorMode mode) {
  request->Returned = 0;
  const uint32_t size = RequestSize(request->Code);
  if (size == 0) return NVK_STATUS_INVALID_PARAMETER;
  if (request->InputLength != size || request->OutputLength != size || request->Buffer == NULL) {
    return NVK_STATUS_INFO_LENGTH_MISMATCH;
  }
  /* A refused request hands nothing back, whatever a handler set. */
  uint32_t status;
  switch (request->Code) {
    case kReadMemory: status = ServeMemory(request, false); break;
    case kWriteMemory: status = ServeMemory(request, true); break;
    case kReadPort8: status = ServePort(request, 1, false); break;
    case kWritePort8: status = ServePort(request, 1, true); break;
    case kReadPort16: status = ServePort(request, 2, false); break;
    case kWritePort16: status = ServePort(request, 2, true); break;
    case kReadPort32: status = ServePort(request, 4, false); break;
    case kWritePort32: status = ServePort(request, 4, true); break;
    case kReadConfig8: status = ServeConfig(request, 1, false); break;
    case kWriteConfig8: status = ServeConfig(request, 1, true); break;
    case kReadConfig16: status = ServeConfig(request, 2, false); break;
    case kWriteConfig16: status = ServeConfig(request, 2, true); break;
    case kReadConfig32: status = ServeConfig(request, 4, false); break;
    case kWriteConfig32: status = ServeConfig(request, 4, true); break;
    case kReadMsr: status = ServeMsr(request, false); break;
    case kWriteMsr: status = ServeMsr(request, true); break;
    case kReadTsc: status = ServeTsc(request); break;
    case kReadPmc: status = ServePmc(request); break;
    case kReadCr: status = ServeReadCr(request, mode); break;
    default: status = ServeWriteCr(request, mode); break; /* kWriteCr, the last known code */
  }
  if (status != NVK_STATUS_SUCCESS) request->Returned = 0;
  return status;
}
