#ifndef NVK_DRIVER_REQUEST_H
#define NVK_DRIVER_REQUEST_H
/*
 * The device-control requests the I/O driver serves: codes, buffer layouts
 * and the checks every request passes before it touches the machine. The
 * driver, the program's transport and the tests all take the contract
 * from here.
 *
 * This file knows nothing of the kernel. It reaches the hardware and the
 * caller's memory only through the functions of machine.h, so the same
 * request handling runs in the kernel and, against a fake machine, in the
 * host's unit tests.
 */

#include <stdbool.h>
#include <stdint.h>

#include "policy.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Device type 22h, any access, buffered transfer, functions from A00h up. */
#define NVK_REQUEST_CODE(function) (0x222800u + 4u * ((function) - 0xA00u))

enum {
  kReadMemory = NVK_REQUEST_CODE(0xA02),
  kWriteMemory = NVK_REQUEST_CODE(0xA03),
  kReadPort8 = NVK_REQUEST_CODE(0xA04),
  kWritePort8 = NVK_REQUEST_CODE(0xA05),
  kReadPort16 = NVK_REQUEST_CODE(0xA06),
  kWritePort16 = NVK_REQUEST_CODE(0xA07),
  kReadPort32 = NVK_REQUEST_CODE(0xA08),
  kWritePort32 = NVK_REQUEST_CODE(0xA09),
  kReadConfig8 = NVK_REQUEST_CODE(0xA0C),
  kWriteConfig8 = NVK_REQUEST_CODE(0xA0D),
  kReadConfig16 = NVK_REQUEST_CODE(0xA0E),
  kWriteConfig16 = NVK_REQUEST_CODE(0xA0F),
  kReadConfig32 = NVK_REQUEST_CODE(0xA10),
  kWriteConfig32 = NVK_REQUEST_CODE(0xA11),
  kReadMsr = NVK_REQUEST_CODE(0xA12),
  kWriteMsr = NVK_REQUEST_CODE(0xA13),
  kReadTsc = NVK_REQUEST_CODE(0xA19),
  kReadPmc = NVK_REQUEST_CODE(0xA1A),
  kReadCr = NVK_REQUEST_CODE(0xA1B),
  kWriteCr = NVK_REQUEST_CODE(0xA1C)
};

/* Buffer sizes; each request's input and output are exactly this long. */
enum {
  kMemoryRequestSize = 24,
  kPortRequestSize = 8,
  kConfigRequestSize = 12,
  kRegisterRequestSize = 16,
  kCounterRequestSize = 8,
  kIndexedRequestSize = 16
};

/* Field offsets in the buffers. Values of 1, 2 or 4 bytes fill or take
 * the low bytes of their field by the access width; the rest of the field
 * is not touched. */
enum {
  /* memory: u64 physical address, u32 length, u32 unit (0 bytes, 1 words,
   * 2 dwords), u64 address of the data in the calling process */
  kMemoryAddressField = 0,
  kMemoryLengthField = 8,
  kMemoryUnitField = 12,
  kMemoryDataField = 16,
  /* port: u32 port (bits 15..0 used), u32 value */
  kPortNumberField = 0,
  kPortValueField = 4,
  /* configuration: u8 bus, device, function, unused; u16 offset (0..0FFFh),
   * unused; u32 value */
  kConfigBusField = 0,
  kConfigDeviceField = 1,
  kConfigFunctionField = 2,
  kConfigOffsetField = 4,
  kConfigValueField = 8,
  /* register: the processor's Eax, Ebx, Ecx, Edx as u32 each */
  kRegisterEaxField = 0,
  kRegisterEbxField = 4,
  kRegisterEcxField = 8,
  kRegisterEdxField = 12,
  /* counter: u64 value at 0; indexed: u32 index, unused, u64 value */
  kCounterValueField = 0,
  kIndexField = 0,
  kIndexedValueField = 8
};

/* The largest physical range one memory request may copy. */
#define NVK_MEMORY_REQUEST_LIMIT (1024u * 1024u)

/*
 * NT status values the requests end with (the kernel build checks that they
 * equal the system's own definitions).
 */
#define NVK_STATUS_SUCCESS 0x00000000u
#define NVK_STATUS_UNSUCCESSFUL 0xC0000001u           /* the range cannot be mapped */
#define NVK_STATUS_INFO_LENGTH_MISMATCH 0xC0000004u   /* a buffer of the wrong size */
#define NVK_STATUS_ACCESS_VIOLATION 0xC0000005u       /* the caller's data pointer is bad */
#define NVK_STATUS_INVALID_PARAMETER 0xC000000Du      /* unknown code, bad field value */
#define NVK_STATUS_ACCESS_DENIED 0xC0000022u          /* refused by the driver's policy (policy.h) */
#define NVK_STATUS_INSUFFICIENT_RESOURCES 0xC000009Au /* no memory for the copy */
#define NVK_STATUS_PRIVILEGED_INSTRUCTION 0xC0000096u /* the processor refused the access */

/* Which processor mode the driver runs in; it decides the control registers. */
typedef enum { kMode32, kMode64 } TProcessorMode;

/* One device-control request on the device's one shared buffer. */
typedef struct {
  uint32_t Code;
  uint8_t* Buffer;       /* input on entry, output on return */
  uint32_t InputLength;  /* bytes the caller sent */
  uint32_t OutputLength; /* bytes the caller can take back */
  uint32_t Returned;     /* set on success: bytes of Buffer handed back */
} TDeviceRequest;

/*
 * Serves one request and returns its NT status.
 *
 * A request that fails, for whatever reason, hands nothing back: the
 * returned byte count is 0 and the request buffer is left exactly as it
 * came, so a read that failed gives the caller whatever its buffer held
 * before. The one exception is a memory read whose data pointer fails part
 * way: the pages of the caller's data before the bad one may have been
 * filled.
 *
 * `policy` carries what the policy remembers between requests; the driver
 * keeps one for its lifetime and serves one request at a time.
 */
uint32_t ServeRequest(TDeviceRequest* request, TProcessorMode mode, TPolicyState* policy);

#ifdef __cplusplus
}
#endif

#endif
