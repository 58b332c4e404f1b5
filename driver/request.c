/*
 * Decoding, checking and carrying out the driver's requests. Every field of
 * a request is checked, and the request held against the policy, before
 * the machine is touched; every refusal is an ordinary failed request with
 * the buffer left as it came and a line in the debug log.
 */
#include "request.h"

#include <string.h>

#include "config_space.h"
#include "machine.h"

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

static uint32_t Refuse(const TDeviceRequest* request, TPolicyVerdict verdict) {
  MachineLogRefusal(request->Code, PolicyVerdictText(verdict));
  return NVK_STATUS_ACCESS_DENIED;
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
static uint32_t MoveMemory(TDeviceRequest* request, TPolicyState* policy, uint64_t address, uint32_t length,
                           unsigned unit, uint64_t user, bool write) {
  uint8_t* scratch = MachineAllocate(length);
  if (scratch == NULL) return NVK_STATUS_INSUFFICIENT_RESOURCES;
  uint32_t status = NVK_STATUS_SUCCESS;
  TPolicyVerdict verdict;
  if (write && !MachineCopyFromUser(scratch, user, length)) {
    status = NVK_STATUS_ACCESS_VIOLATION;
  } else if ((verdict = PolicyCheckMemory(policy, address, length, unit, write, scratch)) != kPolicyAllowed) {
    status = Refuse(request, verdict);
  } else {
    void* mapping = MachineMapPhysical(address, length, write);
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

static uint32_t ServeMemory(TDeviceRequest* request, TPolicyState* policy, bool write) {
  const uint8_t* buffer = request->Buffer;
  const uint64_t address = Load64(buffer + kMemoryAddressField);
  const uint32_t length = Load32(buffer + kMemoryLengthField);
  const uint32_t unitCode = Load32(buffer + kMemoryUnitField);
  const uint64_t user = Load64(buffer + kMemoryDataField);
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
  return MoveMemory(request, policy, address, length, unit, user, write);
}

/* --- ports and PCI configuration space -------------------------------- */

static uint32_t ServePort(TDeviceRequest* request, TPolicyState* policy, unsigned width, bool write) {
  uint8_t* buffer = request->Buffer;
  const uint16_t port = (uint16_t)Load32(buffer + kPortNumberField);
  const uint32_t value = LowBits(Load32(buffer + kPortValueField), width);
  const TPolicyVerdict verdict = PolicyCheckPort(policy, port, width, write, value);
  if (verdict != kPolicyAllowed) return Refuse(request, verdict);
  if (write) {
    request->Returned = 0;
    return MachinePortOut(port, width, value)
               ? NVK_STATUS_SUCCESS
               : NVK_STATUS_PRIVILEGED_INSTRUCTION;
  }
  uint32_t read;
  if (!MachinePortIn(port, width, &read)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  StoreLow(buffer + kPortValueField, read, width);
  request->Returned = kPortRequestSize;
  return NVK_STATUS_SUCCESS;
}

static uint32_t ServeConfig(TDeviceRequest* request, TPolicyState* policy, unsigned width, bool write) {
  uint8_t* buffer = request->Buffer;
  const uint8_t bus = buffer[kConfigBusField], device = buffer[kConfigDeviceField];
  const uint8_t function = buffer[kConfigFunctionField];
  const uint16_t offset = Load16(buffer + kConfigOffsetField);
  /* A device above 31 or a function above 7 would spill into the bus and
   * device bits of the address and reach another function. */
  if (device > 31 || function > 7 || offset > 0xFFF) return NVK_STATUS_INVALID_PARAMETER;
  const uint32_t value = LowBits(Load32(buffer + kConfigValueField), width);
  const TPolicyVerdict verdict = PolicyCheckConfig(policy, bus, device, function, offset, width, write, value);
  if (verdict != kPolicyAllowed) return Refuse(request, verdict);
  if (write) {
    request->Returned = 0;
    return ConfigWrite(&policy->Window, bus, device, function, offset, width, value) ? NVK_STATUS_SUCCESS
                                                                    : NVK_STATUS_PRIVILEGED_INSTRUCTION;
  }
  uint32_t read;
  if (!ConfigRead(&policy->Window, bus, device, function, offset, width, &read)) {
    return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  }
  StoreLow(buffer + kConfigValueField, read, width);
  request->Returned = kConfigRequestSize;
  return NVK_STATUS_SUCCESS;
}

/* --- processor registers ---------------------------------------------- */

static uint32_t ServeReadMsr(TDeviceRequest* request) {
  uint8_t* buffer = request->Buffer;
  const uint32_t index = Load32(buffer + kRegisterEcxField);
  const TPolicyVerdict verdict = PolicyCheckMsrRead(index);
  if (verdict != kPolicyAllowed) return Refuse(request, verdict);
  uint64_t value;
  if (!MachineReadMsr(index, &value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  Store32(buffer + kRegisterEaxField, (uint32_t)value);
  Store32(buffer + kRegisterEdxField, (uint32_t)(value >> 32));
  request->Returned = kRegisterRequestSize;
  return NVK_STATUS_SUCCESS;
}

static uint32_t ServeTsc(TDeviceRequest* request) {
  uint64_t value;
  if (!MachineReadTsc(&value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  Store64(request->Buffer + kCounterValueField, value);
  request->Returned = kCounterRequestSize;
  return NVK_STATUS_SUCCESS;
}

static uint32_t ServePmc(TDeviceRequest* request) {
  uint64_t value;
  if (!MachineReadPmc(Load32(request->Buffer + kIndexField), &value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  Store64(request->Buffer + kIndexedValueField, value);
  request->Returned = kIndexedRequestSize;
  return NVK_STATUS_SUCCESS;
}

/* CR8 exists only in 64-bit mode: in 32-bit mode its encoding is an
 * invalid opcode. */
static bool IsReadableCr(uint32_t index, TProcessorMode mode) {
  return index == 0 || index == 2 || index == 3 || index == 4 || (index == 8 && mode == kMode64);
}

static uint32_t ServeReadCr(TDeviceRequest* request, TProcessorMode mode) {
  const uint32_t index = Load32(request->Buffer + kIndexField);
  if (!IsReadableCr(index, mode)) return NVK_STATUS_INVALID_PARAMETER;
  const TPolicyVerdict verdict = PolicyCheckControlRegisterRead(index);
  if (verdict != kPolicyAllowed) return Refuse(request, verdict);
  uint64_t value;
  if (!MachineReadCr(index, &value)) return NVK_STATUS_PRIVILEGED_INSTRUCTION;
  /* A 32-bit register is handed out sign-extended to 64 bits. */
  if (mode == kMode32) value = (uint64_t)(int64_t)(int32_t)(uint32_t)value;
  Store64(request->Buffer + kIndexedValueField, value);
  request->Returned = kIndexedRequestSize;
  return NVK_STATUS_SUCCESS;
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

uint32_t ServeRequest(TDeviceRequest* request, TProcessorMode mode, TPolicyState* policy) {
  request->Returned = 0;
  const uint32_t size = RequestSize(request->Code);
  if (size == 0) return NVK_STATUS_INVALID_PARAMETER;
  if (request->InputLength != size || request->OutputLength != size || request->Buffer == NULL) {
    return NVK_STATUS_INFO_LENGTH_MISMATCH;
  }
  /* A refused request hands nothing back, whatever a handler set. */
  uint32_t status;
  switch (request->Code) {
    case kReadMemory: status = ServeMemory(request, policy, false); break;
    case kWriteMemory: status = ServeMemory(request, policy, true); break;
    case kReadPort8: status = ServePort(request, policy, 1, false); break;
    case kWritePort8: status = ServePort(request, policy, 1, true); break;
    case kReadPort16: status = ServePort(request, policy, 2, false); break;
    case kWritePort16: status = ServePort(request, policy, 2, true); break;
    case kReadPort32: status = ServePort(request, policy, 4, false); break;
    case kWritePort32: status = ServePort(request, policy, 4, true); break;
    case kReadConfig8: status = ServeConfig(request, policy, 1, false); break;
    case kWriteConfig8: status = ServeConfig(request, policy, 1, true); break;
    case kReadConfig16: status = ServeConfig(request, policy, 2, false); break;
    case kWriteConfig16: status = ServeConfig(request, policy, 2, true); break;
    case kReadConfig32: status = ServeConfig(request, policy, 4, false); break;
    case kWriteConfig32: status = ServeConfig(request, policy, 4, true); break;
    case kReadMsr: status = ServeReadMsr(request); break;
    /* The program writes no processor register, and these writes are what
     * attackers use to take the kernel: the driver has no code for them. */
    case kWriteMsr: status = Refuse(request, kRefusedMsrWrite); break;
    case kReadTsc: status = ServeTsc(request); break;
    case kReadPmc: status = ServePmc(request); break;
    case kReadCr: status = ServeReadCr(request, mode); break;
    default: status = Refuse(request, kRefusedControlRegisterWrite); break; /* kWriteCr, the last known code */
  }
  if (status != NVK_STATUS_SUCCESS) request->Returned = 0;
  return status;
}
