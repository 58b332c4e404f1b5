/*
 * The rules of what the driver serves, as tables: the register blocks of
 * the SMBus controllers and of their bridges that the controller texts
 * reach, found on the board at the time of the request.
 */
#include "policy.h"

#include <stddef.h>

#include "config_space.h"
#include "machine.h"
#include "smbus_rule.h"

#define COUNT(table) (sizeof(table) / sizeof((table)[0]))

/* The driver's own walk of the firmware's structures, once, before the
 * first request is judged (memory reads, below). */
static void WalkFirmware(TPolicyState* state);

static void KnowTheFirmware(TPolicyState* state) {
  if (!state->ReadableKnown) WalkFirmware(state);
}

/* --- which function a rule is about ------------------------------------ */

/* A function by its identity dword (device << 16 | vendor) under a mask,
 * and its base class and subclass (0: any). */
typedef struct {
  uint32_t Id;
  uint32_t IdMask;
  uint16_t ClassCode;
} TIdentity;

enum { kClassIsaBridge = 0x0601, kClassSMBus = 0x0C05 };

/* A function of bus 0. Every chipset the controller texts know keeps its
 * SMBus controller and its bridges there, so the driver never walks
 * further buses for a request. */
typedef struct {
  uint8_t Device;
  uint8_t Function;
  uint32_t Id;
  uint16_t ClassCode;
} TFunction;

static bool ReadIdentity(const TPolicyState* state, uint8_t bus, uint8_t device, uint8_t function, uint32_t* id,
                         uint16_t* classCode) {
  uint32_t classDword;
  if (!ConfigRead(&state->Window, bus, device, function, 0x00, 4, id) ||
      !ConfigRead(&state->Window, bus, device, function, 0x08, 4, &classDword)) {
    return false;
  }
  *classCode = (uint16_t)(classDword >> 16);
  const uint16_t vendor = (uint16_t)*id;
  return vendor != 0xFFFF && vendor != 0x0000;
}

/* Lists the functions of bus 0 into the state. A device that is not
 * multi-function is asked only for its function 0, since some decode the
 * same registers at every function number. */
static void ListFunctions(TPolicyState* state) {
  state->FunctionCount = 0;
  for (uint8_t device = 0; device < 32; ++device) {
    for (uint8_t function = 0; function < 8; ++function) {
      uint32_t id;
      uint16_t classCode;
      if (!ReadIdentity(state, 0, device, function, &id, &classCode)) {
        if (function == 0) break;
        continue;
      }
      if (state->FunctionCount < NVK_POLICY_FUNCTIONS) { /* always: 32 devices of 8 functions */
        state->Functions[state->FunctionCount].Device = device;
        state->Functions[state->FunctionCount].Function = function;
        state->Functions[state->FunctionCount].Id = id;
        state->Functions[state->FunctionCount].ClassCode = classCode;
        ++state->FunctionCount;
      }
      uint32_t header;
      if (function == 0 && (!ConfigRead(&state->Window, 0, device, 0, 0x0C, 4, &header) || (header & 0x00800000u) == 0)) {
        break;
      }
    }
  }
  state->FunctionsKnown = true;
}

static bool Matches(const TIdentity* who, uint32_t id, uint16_t classCode) {
  return (id & who->IdMask) == who->Id && (who->ClassCode == 0 || who->ClassCode == classCode);
}

/* Starts with *cursor == 0; false when the list has no further function
 * that some rule wants (judged by the identity it was listed with) and
 * that still shows that identity. Only wanted functions are asked again,
 * so a port request costs configuration reads for the controller's
 * functions alone. */
static bool NextFunction(TPolicyState* state, unsigned* cursor, bool (*wanted)(uint32_t id, uint16_t classCode),
                         TFunction* found) {
  if (*cursor == 0 && !state->FunctionsKnown) ListFunctions(state);
  while (*cursor < state->FunctionCount) {
    const unsigned at = (*cursor)++;
    found->Device = state->Functions[at].Device;
    found->Function = state->Functions[at].Function;
    found->Id = state->Functions[at].Id;
    found->ClassCode = state->Functions[at].ClassCode;
    if (!wanted(found->Id, found->ClassCode)) continue;
    uint32_t id;
    uint16_t classCode;
    if (ReadIdentity(state, 0, found->Device, found->Function, &id, &classCode) && id == found->Id &&
        classCode == found->ClassCode) {
      return true;
    }
  }
  return false;
}

/* --- ports ------------------------------------------------------------- */

/* Ports no SMBus controller is ever decoded at, whatever a base register
 * says: DMA, the interrupt controllers, the timer, the keyboard controller
 * (and its reset line), CMOS, POST, fast A20 and reset at 92h, the SMI
 * command port at B2h; the legacy ATA command and control blocks; the
 * interrupt edge/level registers; and the configuration mechanism with the
 * reset control register at CF9h. A window over any of them is not a
 * controller's and allows nothing. */
static const struct {
  uint16_t First, Last;
} kProtectedPorts[] = {
    {0x0000, 0x00FF}, {0x0170, 0x0177}, {0x01F0, 0x01F7}, {0x0376, 0x0376},
    {0x03F6, 0x03F6}, {0x04D0, 0x04D1}, {0x0CF8, 0x0CFF},
};

static bool Overlaps(uint32_t first, uint32_t last, uint32_t otherFirst, uint32_t otherLast) {
  return first <= otherLast && otherFirst <= last;
}

static bool TouchesProtectedPort(uint32_t first, uint32_t last) {
  for (size_t i = 0; i < COUNT(kProtectedPorts); ++i) {
    if (Overlaps(first, last, kProtectedPorts[i].First, kProtectedPorts[i].Last)) return true;
  }
  return false;
}

/*
 * What a window's ports are, where a write acts beyond its register: the
 * host interface of an SMBus controller, whose start write sends a
 * transaction to the slave latched in its address register, or the ICH's
 * TCO control bytes.
 */
typedef enum {
  kPiixHost,   /* PIIX4 layout (ICH, PCH, ATI, ServerWorks, VIA) */
  kUliHost,    /* ULi M1563-M1575: the PIIX4 registers, protocol in bits 5:3 */
  kSchHost,    /* Intel SCH */
  kSisHost,    /* SiS 96x */
  kNforceHost, /* nVidia nForce2 and later */
  kTcoControl  /* TCO1_CNT's high byte and TCO2_CNT's low byte */
} TWindowKind;

/* Where each host interface latches the slave address and which write
 * starts a transaction: a write of the start register with StartBit set,
 * or, where StartBit is 0, any write of it (nVidia's protocol register). */
static const struct {
  uint8_t AddressRegister;
  uint8_t StartRegister;
  uint8_t StartBit;
} kHostRegisters[] = {
    [kPiixHost] = {4, 2, 0x40}, [kUliHost] = {4, 2, 0x40}, [kSchHost] = {4, 0, 0x10},
    [kSisHost] = {4, 3, 0x10},  [kNforceHost] = {2, 0, 0},
};

/*
 * An I/O window: Length ports from First above the base that the function
 * holds in its 16-bit register BaseRegister under BaseMask, or, where
 * BaseRegister is 0, in the dword of device memory at BaseMemory (bit 0
 * its enable). The window is there only while the chipset decodes it:
 * IoBar asks for the base register's I/O space bit and the function's I/O
 * enable in its command register; EnableMask names enable bits of the
 * configuration dword at EnableRegister that must all be set. A part that
 * has the memory-mapped base only from a revision on names that revision.
 */
typedef struct {
  TIdentity Who;
  uint16_t BaseRegister;
  uint32_t BaseMemory;
  uint16_t BaseMask;
  uint16_t First;
  uint16_t Length;
  TWindowKind Kind;
  bool IoBar;
  uint16_t EnableRegister;
  uint32_t EnableMask;
  uint8_t MinRevision;
} TPortWindow;

static const TPortWindow kPortWindows[] = {
    /* ATI SB400-SB800 and AMD Hudson SMBus: base at 90h; the SB800 (from
     * revision 40h) and Hudson keep it in their ACPI MMIO block instead
     * (PM register 2Ch at FED80300h, bit 0 its enable). */
    {{0x43721002, 0xFFFFFFFF, kClassSMBus}, 0x90, 0, 0xFFF0, 0, 16, kPiixHost, true, 0, 0, 0},
    {{0x43851002, 0xFFFFFFFF, kClassSMBus}, 0x90, 0, 0xFFF0, 0, 16, kPiixHost, true, 0, 0, 0},
    {{0x780B1022, 0xFFFFFFFF, kClassSMBus}, 0x90, 0, 0xFFF0, 0, 16, kPiixHost, true, 0, 0, 0},
    {{0x43851002, 0xFFFFFFFF, kClassSMBus}, 0, 0xFED8032C, 0xFFF0, 0, 16, kPiixHost, false, 0, 0, 0x40},
    {{0x780B1022, 0xFFFFFFFF, kClassSMBus}, 0, 0xFED8032C, 0xFFF0, 0, 16, kPiixHost, false, 0, 0, 0},
    /* Intel ICH and PCH SMBus functions: 32 ports at BAR 20h. */
    {{0x00008086, 0x0000FFFF, kClassSMBus}, 0x20, 0, 0xFFF0, 0, 32, kPiixHost, true, 0, 0, 0},
    /* Intel ICH LPC bridges: TCO1_CNT's high byte and TCO2_CNT's low byte
     * (PMBASE + 69h, 6Ah), which halt the TCO timer's SMBus use. */
    {{0x24008086, 0xFF00FFFF, kClassIsaBridge}, 0x40, 0, 0xFFF0, 0x69, 2, kTcoControl, false, 0, 0, 0},
    {{0x26008086, 0xFF00FFFF, kClassIsaBridge}, 0x40, 0, 0xFFF0, 0x69, 2, kTcoControl, false, 0, 0, 0},
    {{0x27008086, 0xFF00FFFF, kClassIsaBridge}, 0x40, 0, 0xFFF0, 0x69, 2, kTcoControl, false, 0, 0, 0},
    {{0x28008086, 0xFF00FFFF, kClassIsaBridge}, 0x40, 0, 0xFFF0, 0x69, 2, kTcoControl, false, 0, 0, 0},
    {{0x29008086, 0xFF00FFFF, kClassIsaBridge}, 0x40, 0, 0xFFF0, 0x69, 2, kTcoControl, false, 0, 0, 0},
    {{0x3A008086, 0xFF00FFFF, kClassIsaBridge}, 0x40, 0, 0xFFF0, 0x69, 2, kTcoControl, false, 0, 0, 0},
    /* Intel SCH: a 64-port SMBus block at LPC 40h, decoded while bit 31 is set. */
    {{0x81198086, 0xFFFFFFFF, kClassIsaBridge}, 0x40, 0, 0xFFC0, 0, 64, kSchHost, false, 0x40, 0x80000000u, 0},
    /* ServerWorks OSB4/CSB5: base at 90h of the south bridge, host interface enable D2h bit 0. */
    {{0x02001166, 0xFF00FFFF, kClassIsaBridge}, 0x90, 0, 0xFFF0, 0, 16, kPiixHost, true, 0xD0, 0x00010000u, 0},
    /* SiS 962/963: SMBus function 1039:0016, BAR 20h. */
    {{0x00161039, 0xFFFFFFFF, kClassSMBus}, 0x20, 0, 0xFFF0, 0, 32, kSisHost, true, 0, 0, 0},
    /* SiS 964-966: the SMBus registers inside the ACPI block (LPC 74h),
     * decoded while the ACPI enable (40h bit 7) is set. */
    {{0x09641039, 0xFFFFFFFF, kClassIsaBridge}, 0x74, 0, 0xFFFF, 0xE0, 32, kSisHost, false, 0x40, 0x80, 0},
    {{0x09651039, 0xFFFFFFFF, kClassIsaBridge}, 0x74, 0, 0xFFFF, 0xD0, 32, kSisHost, false, 0x40, 0x80, 0},
    {{0x09661039, 0xFFFFFFFF, kClassIsaBridge}, 0x74, 0, 0xFFFF, 0xD0, 32, kSisHost, false, 0x40, 0x80, 0},
    /* SiS 968: base in the high byte of LPC 9Ah, enable bits 1:0 of its low byte. */
    {{0x09681039, 0xFFFFFFFF, kClassIsaBridge}, 0x9A, 0, 0xFF00, 0, 32, kSisHost, false, 0x98, 0x00030000u, 0},
    /* ULi M1563/M1573/M1575: base and enable (bit 0) in one word at 80h. */
    {{0x156310B9, 0xFFFFFFFF, 0}, 0x80, 0, 0xFFF0, 0, 16, kUliHost, false, 0x80, 0x01, 0},
    {{0x157310B9, 0xFFFFFFFF, 0}, 0x80, 0, 0xFFF0, 0, 16, kUliHost, false, 0x80, 0x01, 0},
    {{0x157510B9, 0xFFFFFFFF, 0}, 0x80, 0, 0xFFF0, 0, 16, kUliHost, false, 0x80, 0x01, 0},
    /* VIA VT8235-VT8251 and VX900: base at D0h of the south bridge, enable D2h bit 0. */
    {{0x30001106, 0xF000FFFF, kClassIsaBridge}, 0xD0, 0, 0xFFF0, 0, 16, kPiixHost, false, 0xD0, 0x00010000u, 0},
    {{0x80001106, 0xF000FFFF, kClassIsaBridge}, 0xD0, 0, 0xFFF0, 0, 16, kPiixHost, false, 0xD0, 0x00010000u, 0},
    /* nVidia nForce2, nForce3 and CK804: two controllers at 50h and 54h;
     * the later MCPs at BARs 20h and 24h of their SMBus-class function. */
    {{0x008410DE, 0xFFFFFFFF, 0}, 0x50, 0, 0xFFF0, 0, 64, kNforceHost, true, 0, 0, 0},
    {{0x008410DE, 0xFFFFFFFF, 0}, 0x54, 0, 0xFFF0, 0, 64, kNforceHost, true, 0, 0, 0},
    {{0x00E410DE, 0xFFFFFFFF, 0}, 0x50, 0, 0xFFF0, 0, 64, kNforceHost, true, 0, 0, 0},
    {{0x00E410DE, 0xFFFFFFFF, 0}, 0x54, 0, 0xFFF0, 0, 64, kNforceHost, true, 0, 0, 0},
    {{0x005210DE, 0xFFFFFFFF, 0}, 0x50, 0, 0xFFF0, 0, 64, kNforceHost, true, 0, 0, 0},
    {{0x005210DE, 0xFFFFFFFF, 0}, 0x54, 0, 0xFFF0, 0, 64, kNforceHost, true, 0, 0, 0},
    {{0x000010DE, 0x0000FFFF, kClassSMBus}, 0x20, 0, 0xFFF0, 0, 64, kNforceHost, true, 0, 0, 0},
    {{0x000010DE, 0x0000FFFF, kClassSMBus}, 0x24, 0, 0xFFF0, 0, 64, kNforceHost, true, 0, 0, 0},
};

enum { kCommandIoEnable = 0x01, kBaseIoSpace = 0x01 };

static bool ReadDeviceDword(uint32_t address, uint32_t* value) {
  void* mapping = MachineMapPhysical(address, 4, false);
  if (mapping == NULL) return false;
  *value = MachineReadMapped(mapping, 4);
  MachineUnmapPhysical(mapping, 4);
  return true;
}

/* Whether the function decodes the window now: an absent function and an
 * all-ones register (a bus that nothing answered) decode nothing. */
static bool Decoded(const TPolicyState* state, const TPortWindow* window, const TFunction* function,
                    uint32_t base) {
  uint32_t value;
  if (window->IoBar) {
    if ((base & kBaseIoSpace) == 0) return false; /* a memory BAR is no port base */
    if (!ConfigRead(&state->Window, 0, function->Device, function->Function, 0x04, 2, &value) || value == 0xFFFF ||
        (value & kCommandIoEnable) == 0) {
      return false;
    }
  }
  if (window->EnableMask == 0) return true;
  return ConfigRead(&state->Window, 0, function->Device, function->Function, window->EnableRegister, 4, &value) &&
         value != 0xFFFFFFFFu && (value & window->EnableMask) == window->EnableMask;
}

/* The window's first port on this function, or 0 when it has none. */
static uint32_t WindowStart(const TPolicyState* state, const TPortWindow* window, const TFunction* function) {
  uint32_t base;
  if (window->BaseRegister != 0) {
    if (!ConfigRead(&state->Window, 0, function->Device, function->Function, window->BaseRegister, 2, &base) ||
        base == 0xFFFF) {
      return 0;
    }
  } else {
    uint32_t revision;
    if (!ConfigRead(&state->Window, 0, function->Device, function->Function, 0x08, 1, &revision) ||
        revision < window->MinRevision || MachineTouchesRam(window->BaseMemory, 4) ||
        !ReadDeviceDword(window->BaseMemory, &base) || base == 0xFFFFFFFFu || (base & 1) == 0) {
      return 0;
    }
  }
  if (!Decoded(state, window, function, base) || (base &= window->BaseMask) == 0) return 0;
  const uint32_t first = base + window->First, last = first + window->Length - 1u;
  return last <= 0xFFFF && !TouchesProtectedPort(first, last) ? first : 0;
}

static bool HasPortWindow(uint32_t id, uint16_t classCode) {
  for (size_t i = 0; i < COUNT(kPortWindows); ++i) {
    if (Matches(&kPortWindows[i].Who, id, classCode)) return true;
  }
  return false;
}

/* Whether a started transaction sends the slave data: the protocols that
 * write before they read (process calls) and every protocol in the write
 * direction, which the address's bit 0 gives, or on nVidia the protocol's. */
static bool WritesData(TWindowKind kind, uint8_t start, uint8_t address) {
  switch (kind) {
    case kPiixHost: {
      const uint8_t protocol = start & 0x1C;
      if (protocol == 0x10 || protocol == 0x1C) return true;
      break;
    }
    case kSisHost:
      if ((start & 0x07) == 4) return true;
      break;
    case kNforceHost: {
      const uint8_t protocol = start & 0x7F;
      return (protocol & 1) == 0 || protocol == 0x0D;
    }
    default:
      break;
  }
  return (address & 1) == 0;
}

/* A write inside an SMBus host interface: a start must be one byte, so
 * that no wide write sets the address and starts at once, and goes only to
 * a slave the bus rule allows (smbus_rule.h), judged by the address the
 * controller has latched. */
static TPolicyVerdict CheckHostWrite(TWindowKind kind, uint32_t first, uint16_t port, unsigned width, uint32_t value) {
  const uint32_t startPort = first + kHostRegisters[kind].StartRegister;
  if (startPort < port || startPort > (uint32_t)port + width - 1u) return kPolicyAllowed;
  if (width != 1) return kRefusedWideStart;
  const uint8_t startBit = kHostRegisters[kind].StartBit;
  if (startBit != 0 && (value & startBit) == 0) return kPolicyAllowed;
  uint32_t address;
  if (!MachinePortIn((uint16_t)(first + kHostRegisters[kind].AddressRegister), 1, &address)) {
    return kRefusedSMBusSlave;
  }
  const bool writes = WritesData(kind, (uint8_t)value, (uint8_t)address);
  return SMBusTransactionAllowed((uint8_t)((address >> 1) & 0x7F), writes) ? kPolicyAllowed : kRefusedSMBusSlave;
}

/* The TCO control bytes take the timer halt value the controller texts
 * write (08h) or the byte the port held before the driver first wrote it,
 * which their Restore puts back; nothing that sends an NMI, sets TCO_LOCK
 * or starts a watchdog the firmware left halted. */
enum { kTcoHalt = 0x08 };

static TPolicyVerdict CheckTcoWrite(TPolicyState* state, uint16_t port, unsigned width, uint32_t value) {
  if (width != 1) return kRefusedTcoValue;
  unsigned i = 0;
  while (i < state->TcoCount && state->Tco[i].Port != port) ++i;
  if (i == state->TcoCount) {
    uint32_t found;
    if (i == NVK_POLICY_TCO_PORTS || !MachinePortIn(port, 1, &found)) return kRefusedTcoValue;
    state->Tco[i].Port = port;
    state->Tco[i].Value = (uint8_t)found;
    ++state->TcoCount;
  }
  return value == kTcoHalt || value == state->Tco[i].Value ? kPolicyAllowed : kRefusedTcoValue;
}

TPolicyVerdict PolicyCheckPort(TPolicyState* state, uint16_t port, unsigned width, bool write, uint32_t value) {
  KnowTheFirmware(state);
  const uint32_t last = (uint32_t)port + width - 1u;
  if (TouchesProtectedPort(port, last)) return kRefusedProtectedPort;
  unsigned cursor = 0;
  TFunction function;
  while (NextFunction(state, &cursor, HasPortWindow, &function)) {
    for (size_t i = 0; i < COUNT(kPortWindows); ++i) {
      const TPortWindow* window = &kPortWindows[i];
      if (!Matches(&window->Who, function.Id, function.ClassCode)) continue;
      const uint32_t first = WindowStart(state, window, &function);
      if (first == 0 || port < first || last >= first + window->Length) continue;
      if (!write) return kPolicyAllowed;
      return window->Kind == kTcoControl ? CheckTcoWrite(state, port, width, value)
                                         : CheckHostWrite(window->Kind, first, port, width, value);
    }
  }
  return kRefusedPortOutsideSMBus;
}

/* --- configuration space ----------------------------------------------- */

typedef enum {
  kBaseValue,   /* Bits hold a base: only 0, the default base, the current one or the firmware's */
  kNoBusMaster, /* a command register: the controller never masters the bus */
  kOnlyBits     /* an enable or a register shared with other functions: only Bits, the ones
                 * the controller texts change, may change */
} TValueRule;

typedef struct {
  TIdentity Who;
  uint16_t Offset;
  uint8_t Width;
  TValueRule Rule;
  uint32_t Bits;
} TConfigWriteRule;

/* The base the controller texts give a controller that the firmware left
 * without one. */
enum { kDefaultBase = 0x0C00 };

static const TConfigWriteRule kConfigWrites[] = {
    /* Intel SMBus functions: host configuration, command, BAR 20h. */
    {{0x00008086, 0x0000FFFF, kClassSMBus}, 0x40, 1, kOnlyBits, 0x1F},
    {{0x00008086, 0x0000FFFF, kClassSMBus}, 0x04, 1, kNoBusMaster, 0},
    {{0x00008086, 0x0000FFFF, kClassSMBus}, 0x20, 2, kBaseValue, 0xFFF0},
    /* ICH2-ICH6 LPC: the function-disable byte F2h, SMBus bit only. */
    {{0x24008086, 0xFF00FFFF, kClassIsaBridge}, 0xF2, 1, kOnlyBits, 0x08},
    {{0x26008086, 0xFF00FFFF, kClassIsaBridge}, 0xF2, 1, kOnlyBits, 0x08},
    /* Intel SCH: SMBASE with its decode-enable bit 31. */
    {{0x81198086, 0xFFFFFFFF, kClassIsaBridge}, 0x40, 4, kBaseValue, 0xFFC0},
    /* ServerWorks: host enable D2h, base 90h. */
    {{0x02001166, 0xFF00FFFF, kClassIsaBridge}, 0xD2, 1, kOnlyBits, 0x01},
    {{0x02001166, 0xFF00FFFF, kClassIsaBridge}, 0x90, 2, kBaseValue, 0xFFF0},
    /* SiS 962/963: the LPC bridge's SMBus-hiding bit 4 of 77h, and the
     * SMBus function's host enable, BAR and command register. */
    {{0x00081039, 0xFFFFFFFF, kClassIsaBridge}, 0x77, 1, kOnlyBits, 0x10},
    {{0x00161039, 0xFFFFFFFF, kClassSMBus}, 0x40, 1, kOnlyBits, 0x01},
    {{0x00161039, 0xFFFFFFFF, kClassSMBus}, 0x20, 2, kBaseValue, 0xFFF0},
    {{0x00161039, 0xFFFFFFFF, kClassSMBus}, 0x04, 1, kNoBusMaster, 0},
    /* SiS 964-968: the SMBus enable bits of the LPC bridge. */
    {{0x09641039, 0xFFFFFFFF, kClassIsaBridge}, 0x76, 1, kOnlyBits, 0x03},
    {{0x09651039, 0xFFFFFFFF, kClassIsaBridge}, 0x76, 1, kOnlyBits, 0x03},
    {{0x09661039, 0xFFFFFFFF, kClassIsaBridge}, 0x76, 1, kOnlyBits, 0x03},
    {{0x09681039, 0xFFFFFFFF, kClassIsaBridge}, 0x9A, 1, kOnlyBits, 0x03},
    /* ULi: base and enable bits in one word at 80h. */
    {{0x156310B9, 0xFFFFFFFF, 0}, 0x80, 2, kBaseValue, 0xFFF0},
    {{0x157310B9, 0xFFFFFFFF, 0}, 0x80, 2, kBaseValue, 0xFFF0},
    {{0x157510B9, 0xFFFFFFFF, 0}, 0x80, 2, kBaseValue, 0xFFF0},
    /* VIA: host enable D2h, base D0h. */
    {{0x30001106, 0xF000FFFF, kClassIsaBridge}, 0xD2, 1, kOnlyBits, 0x01},
    {{0x30001106, 0xF000FFFF, kClassIsaBridge}, 0xD0, 2, kBaseValue, 0xFFF0},
    {{0x80001106, 0xF000FFFF, kClassIsaBridge}, 0xD2, 1, kOnlyBits, 0x01},
    {{0x80001106, 0xF000FFFF, kClassIsaBridge}, 0xD0, 2, kBaseValue, 0xFFF0},
};

enum { kCommandBusMaster = 0x04 };

static const uint32_t* RememberedBase(const TPolicyState* state, uint32_t key) {
  for (unsigned i = 0; i < state->BaseCount; ++i) {
    if (state->Bases[i].Register == key) return &state->Bases[i].Value;
  }
  return NULL;
}

static bool AllowedBase(TPolicyState* state, uint32_t key, uint32_t current, uint32_t value, uint32_t mask) {
  const uint32_t* remembered = RememberedBase(state, key);
  if (remembered == NULL && state->BaseCount < NVK_POLICY_REMEMBERED_BASES) {
    /* The first write the driver sees finds the firmware's base. */
    state->Bases[state->BaseCount].Register = key;
    state->Bases[state->BaseCount].Value = current;
    remembered = &state->Bases[state->BaseCount++].Value;
  }
  const uint32_t base = value & mask;
  return base == 0 || base == kDefaultBase || base == (current & mask) ||
         (remembered != NULL && base == (*remembered & mask));
}

static TPolicyVerdict CheckConfigValue(TPolicyState* state, const TConfigWriteRule* rule, uint8_t bus, uint8_t device,
                                       uint8_t function, uint32_t value) {
  if (rule->Rule == kNoBusMaster) return value & kCommandBusMaster ? kRefusedConfigValue : kPolicyAllowed;
  uint32_t current;
  if (!ConfigRead(&state->Window, bus, device, function, rule->Offset, rule->Width, &current)) {
    return kRefusedConfigValue;
  }
  if (rule->Rule == kOnlyBits) return ((value ^ current) & ~rule->Bits) != 0 ? kRefusedConfigValue : kPolicyAllowed;
  const uint32_t key = ConfigAddress(bus, device, function, rule->Offset);
  return AllowedBase(state, key, current, value, rule->Bits) ? kPolicyAllowed : kRefusedConfigValue;
}

TPolicyVerdict PolicyCheckConfig(TPolicyState* state, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                                 unsigned width, bool write, uint32_t value) {
  KnowTheFirmware(state);
  /* An access past its register's dword would reach data ports beyond
   * CFFh, which belong to other devices. */
  if (offset % width != 0) return kRefusedUnalignedConfig;
  if (!write) return kPolicyAllowed;
  /* Every register the controller texts write is on bus 0; a bus number
   * the caller picks could reach a bridge behind which the same identity
   * sits on another function. */
  if (bus != 0) return kRefusedConfigBus;
  uint32_t id;
  uint16_t classCode;
  if (!ReadIdentity(state, bus, device, function, &id, &classCode)) return kRefusedConfigWrite;
  for (size_t i = 0; i < COUNT(kConfigWrites); ++i) {
    const TConfigWriteRule* rule = &kConfigWrites[i];
    if (rule->Offset == offset && rule->Width == width && Matches(&rule->Who, id, classCode)) {
      const TPolicyVerdict verdict = CheckConfigValue(state, rule, bus, device, function, value);
      if (verdict == kPolicyAllowed) state->FunctionsKnown = false;
      return verdict;
    }
  }
  return kRefusedConfigWrite;
}

/* --- memory ------------------------------------------------------------ */

/*
 * A register in a chipset's memory-mapped block: the dword at Offset above
 * the block's base, which the function holds in config dword BaseRegister
 * under BaseMask. Only ChangeableBits may change.
 */
typedef struct {
  TIdentity Who;
  uint16_t BaseRegister;
  uint32_t BaseMask;
  uint32_t Offset;
  uint32_t ChangeableBits;
} TMemoryWriteRule;

static const TMemoryWriteRule kMemoryWrites[] = {
    /* ICH7-ICH10: Function Disable in the root complex register block
     * (RCBA at LPC F0h); bit 3 hides the SMBus function. */
    {{0x27008086, 0xFF00FFFF, kClassIsaBridge}, 0xF0, 0xFFFFC000, 0x3418, 0x08},
    {{0x28008086, 0xFF00FFFF, kClassIsaBridge}, 0xF0, 0xFFFFC000, 0x3418, 0x08},
    {{0x29008086, 0xFF00FFFF, kClassIsaBridge}, 0xF0, 0xFFFFC000, 0x3418, 0x08},
    {{0x3A008086, 0xFF00FFFF, kClassIsaBridge}, 0xF0, 0xFFFFC000, 0x3418, 0x08},
};

static bool HasMemoryWrite(uint32_t id, uint16_t classCode) {
  for (size_t i = 0; i < COUNT(kMemoryWrites); ++i) {
    if (Matches(&kMemoryWrites[i].Who, id, classCode)) return true;
  }
  return false;
}

/* The rule of a function on bus 0 whose register dword, where its base
 * puts it now, holds all of [address, address + length); NULL when none. */
static const TMemoryWriteRule* MemoryRuleAt(TPolicyState* state, uint64_t address, uint32_t length) {
  unsigned cursor = 0;
  TFunction function;
  while (NextFunction(state, &cursor, HasMemoryWrite, &function)) {
    for (size_t i = 0; i < COUNT(kMemoryWrites); ++i) {
      const TMemoryWriteRule* rule = &kMemoryWrites[i];
      uint32_t base;
      if (!Matches(&rule->Who, function.Id, function.ClassCode) ||
          !ConfigRead(&state->Window, 0, function.Device, function.Function, rule->BaseRegister, 4, &base) ||
          (base & rule->BaseMask) == 0) {
        continue;
      }
      const uint64_t dword = (uint64_t)(base & rule->BaseMask) + rule->Offset;
      if (address >= dword && address + length <= dword + 4) return rule;
    }
  }
  return NULL;
}

static TPolicyVerdict CheckMemoryWrite(TPolicyState* state, uint64_t address, uint32_t length, unsigned unit,
                                       const uint8_t* data) {
  const TMemoryWriteRule* rule = MemoryRuleAt(state, address, length);
  if (rule == NULL || length != 4 || unit != 4) return kRefusedMemoryWrite;
  uint32_t current;
  if (!ReadDeviceDword((uint32_t)address, &current)) return kRefusedMemoryWriteBits;
  const uint32_t value = (uint32_t)data[0] | (uint32_t)data[1] << 8 | (uint32_t)data[2] << 16 | (uint32_t)data[3] << 24;
  if (((value ^ current) & ~rule->ChangeableBits) != 0) return kRefusedMemoryWriteBits;
  state->FunctionsKnown = false;
  return kPolicyAllowed;
}

/*
 * What the program reads of physical memory: the legacy firmware area
 * (the board information block, the SMBIOS entry point and the ACPI root
 * pointer lie there), the ACPI tables the root pointer leads to, each as
 * long as its header says, with the FADT's FACS and DSDT, PCI Express
 * configuration space in the window the MCFG table gives (configuration
 * reads are served anyway), the SMBIOS structure table, and the device
 * dwords that the other rules name. The driver walks the firmware's
 * structures itself, once, before it judges its first request; everything else a
 * read could reach (a TPM's buffers, graphics apertures onto RAM, the flash
 * mirror, registers that change when read) is refused.
 */
enum {
  kFirmwareArea = 0xE0000,
  kFirmwareAreaSize = 0x20000,
  kSmbiosArea = 0xF0000,
  kAcpiHeaderSize = 36,
  kLargestTable = 0x100000,
};

static uint32_t Le32(const uint8_t* at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

static uint64_t Le64(const uint8_t* at) { return Le32(at) | (uint64_t)Le32(at + 4) << 32; }

static bool HasSignature(const uint8_t* at, const char* signature) {
  for (; *signature != 0; ++signature, ++at) {
    if (*at != (uint8_t)*signature) return false;
  }
  return true;
}

static bool SumsToZero(const uint8_t* bytes, uint32_t length) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = (uint8_t)(sum + bytes[i]);
  return sum == 0;
}

/* Reads [address, address + length) byte by byte from the lowest address;
 * false for RAM that Windows manages or memory that cannot be mapped. */
static bool ReadFirmware(uint64_t address, uint8_t* to, uint32_t length) {
  if (MachineTouchesRam(address, length)) return false;
  const volatile uint8_t* mapping = MachineMapPhysical(address, length, false);
  if (mapping == NULL) return false;
  for (uint32_t i = 0; i < length; ++i) to[i] = (uint8_t)MachineReadMapped(mapping + i, 1);
  MachineUnmapPhysical((void*)mapping, length);
  return true;
}

static void AddReadable(TPolicyState* state, uint64_t first, uint64_t length) {
  if (length == 0 || first + length < first || state->ReadableCount == NVK_POLICY_READABLE_RANGES) return;
  state->Readable[state->ReadableCount].First = first;
  state->Readable[state->ReadableCount].Length = length;
  ++state->ReadableCount;
}

/* Adds an ACPI table as long as its header says; the header (36 bytes) is
 * left in `header`. False when there is no table there. */
static bool AddTable(TPolicyState* state, uint64_t address, uint8_t* header, uint32_t* length) {
  if (address == 0 || !ReadFirmware(address, header, kAcpiHeaderSize)) return false;
  *length = Le32(header + 4);
  if (*length < 8 || *length > kLargestTable) return false;
  AddReadable(state, address, *length);
  return true;
}

/* The FADT's FACS and DSDT (32-bit fields, and the 64-bit ones of ACPI 2.0
 * and later), and MCFG's configuration windows. */
static void AddTablesNamedBy(TPolicyState* state, const uint8_t* table, uint32_t length) {
  uint8_t header[kAcpiHeaderSize];
  uint32_t named;
  if (HasSignature(table, "FACP")) {
    if (length >= 44) {
      AddTable(state, Le32(table + 36), header, &named);
      AddTable(state, Le32(table + 40), header, &named);
    }
    if (length >= 148) {
      AddTable(state, Le64(table + 132), header, &named);
      AddTable(state, Le64(table + 140), header, &named);
    }
  } else if (HasSignature(table, "MCFG")) {
    for (uint32_t at = 44; at + 16 <= length; at += 16) {
      const uint64_t base = Le64(table + at);
      const uint16_t segment = (uint16_t)(table[at + 8] | table[at + 9] << 8);
      const uint8_t firstBus = table[at + 10], lastBus = table[at + 11];
      if (base == 0 || lastBus < firstBus) continue;
      AddReadable(state, base + ((uint64_t)firstBus << 20), (uint64_t)(lastBus - firstBus + 1) << 20);
      if (segment == 0 && state->Window.Base == 0) {
        state->Window.Base = base;
        state->Window.FirstBus = firstBus;
        state->Window.LastBus = lastBus;
      }
    }
  }
}

/* The tables a root (RSDT: 4-byte entries, XSDT: 8-byte ones) lists. */
static void AddRootTables(TPolicyState* state, uint64_t root, unsigned entrySize) {
  uint8_t header[kAcpiHeaderSize];
  uint32_t length;
  if (!AddTable(state, root, header, &length) || length < kAcpiHeaderSize) return;
  uint8_t* table = MachineAllocate(length);
  if (table == NULL) return;
  if (ReadFirmware(root, table, length)) {
    for (uint32_t at = kAcpiHeaderSize; at + entrySize <= length; at += entrySize) {
      const uint64_t address = entrySize == 8 ? Le64(table + at) : Le32(table + at);
      uint32_t entryLength;
      if (!AddTable(state, address, header, &entryLength)) continue;
      uint8_t* entry = MachineAllocate(entryLength);
      if (entry == NULL) continue;
      if (ReadFirmware(address, entry, entryLength)) AddTablesNamedBy(state, entry, entryLength);
      MachineFree(entry);
    }
  }
  MachineFree(table);
}

/* The root pointer (16-byte aligned, 20 bytes summing to 0) and the
 * SMBIOS 2.x and 3.0 entry points (16-byte aligned in F0000h-FFFFFh) in
 * the firmware area, and what they lead to. Only the first dword of each
 * 16-byte step is read until one begins a signature. */
static void WalkFirmware(TPolicyState* state) {
  enum { kRootHead = 0x20445352u /* "RSD " */, kSmbiosHead = 0x5F4D535Fu /* "_SM_" */, kSmbios3Head = 0x334D535Fu };
  state->ReadableKnown = true;
  AddReadable(state, kFirmwareArea, kFirmwareAreaSize);
  if (MachineTouchesRam(kFirmwareArea, kFirmwareAreaSize)) return;
  const volatile uint8_t* area = MachineMapPhysical(kFirmwareArea, kFirmwareAreaSize, false);
  if (area == NULL) return;
  bool rootFound = false;
  for (uint32_t at = 0; at + 36 <= kFirmwareAreaSize; at += 16) {
    const uint32_t head = MachineReadMapped(area + at, 4);
    const bool inSmbiosArea = kFirmwareArea + at >= kSmbiosArea;
    if (head != kRootHead && !(inSmbiosArea && (head == kSmbiosHead || head == kSmbios3Head))) continue;
    uint8_t here[36];
    for (uint32_t i = 0; i < sizeof here; ++i) here[i] = (uint8_t)MachineReadMapped(area + at + i, 1);
    if (!rootFound && HasSignature(here, "RSD PTR ") && SumsToZero(here, 20)) {
      rootFound = true;
      AddRootTables(state, Le32(here + 16), 4);
      if (here[15] >= 2) AddRootTables(state, Le64(here + 24), 8);
    } else if (HasSignature(here, "_SM_") && here[5] <= 32 && SumsToZero(here, here[5])) {
      AddReadable(state, Le32(here + 0x18), Le32(here + 0x16) & 0xFFFF);
    } else if (HasSignature(here, "_SM3_") && here[6] <= 32 && SumsToZero(here, here[6])) {
      AddReadable(state, Le64(here + 0x10), Le32(here + 0x0C));
    }
  }
  MachineUnmapPhysical((void*)area, kFirmwareAreaSize);
}

static bool InReadableRange(const TPolicyState* state, uint64_t address, uint32_t length) {
  for (unsigned i = 0; i < state->ReadableCount; ++i) {
    const uint64_t first = state->Readable[i].First;
    if (address >= first && address - first <= state->Readable[i].Length &&
        length <= state->Readable[i].Length - (address - first)) {
      return true;
    }
  }
  return false;
}

/* The dwords the other rules read themselves: the SB800's PM register 2Ch
 * and the ICH's Function Disable register, which the controller texts read
 * before they change their SMBus bit. */
static bool IsNamedDeviceDword(TPolicyState* state, uint64_t address, uint32_t length) {
  if (length > 4) return false;
  if (MemoryRuleAt(state, address, length) != NULL) return true;
  for (size_t i = 0; i < COUNT(kPortWindows); ++i) {
    const uint32_t dword = kPortWindows[i].BaseMemory;
    if (dword != 0 && address >= dword && address + length <= (uint64_t)dword + 4) return true;
  }
  return false;
}

TPolicyVerdict PolicyCheckMemory(TPolicyState* state, uint64_t address, uint32_t length, unsigned unit, bool write,
                                 const uint8_t* data) {
  /* RAM holds the kernel, its page tables and every process: the program
   * reads only firmware areas and tables, which Windows leaves alone. */
  if (MachineTouchesRam(address, length)) return kRefusedManagedMemory;
  KnowTheFirmware(state);
  if (write) return CheckMemoryWrite(state, address, length, unit, data);
  return InReadableRange(state, address, length) || IsNamedDeviceDword(state, address, length)
             ? kPolicyAllowed
             : kRefusedMemoryRead;
}

/* --- processor registers ----------------------------------------------- */

/* Counters and thermal and frequency readings, which monitoring tools show:
 * the time-stamp counter, platform ID and information, MPERF and APERF,
 * performance status, thermal status, temperature target, and package
 * thermal status. */
static const uint32_t kReadableMsrs[] = {0x010, 0x017, 0x0CE, 0x0E7, 0x0E8, 0x198, 0x19C, 0x1A2, 0x1B1};

TPolicyVerdict PolicyCheckMsrRead(uint32_t index) {
  for (size_t i = 0; i < COUNT(kReadableMsrs); ++i) {
    if (kReadableMsrs[i] == index) return kPolicyAllowed;
  }
  return kRefusedMsrRead;
}

TPolicyVerdict PolicyCheckControlRegisterRead(uint32_t index) {
  /* CR2 holds the last faulting address and CR3 the page tables' root:
   * both locate the kernel for an attacker. */
  return index == 2 || index == 3 ? kRefusedControlRegisterRead : kPolicyAllowed;
}

const char* PolicyVerdictText(TPolicyVerdict verdict) {
  switch (verdict) {
    case kPolicyAllowed: return "allowed";
    case kRefusedProtectedPort: return "a legacy platform port or the configuration mechanism's";
    case kRefusedPortOutsideSMBus: return "a port outside the SMBus controllers' registers";
    case kRefusedUnalignedConfig: return "a configuration access not aligned to its width";
    case kRefusedConfigWrite: return "a configuration register the controller texts never write";
    case kRefusedConfigValue: return "a configuration value that moves a base or enables bus mastering";
    case kRefusedManagedMemory: return "memory that Windows manages";
    case kRefusedMemoryWrite: return "device memory the controller texts never write";
    case kRefusedMemoryWriteBits: return "a chipset register's bits beyond the SMBus ones";
    case kRefusedMsrRead: return "a model-specific register outside the readable few";
    case kRefusedMsrWrite: return "a model-specific register write";
    case kRefusedControlRegisterRead: return "a control register that locates the kernel";
    case kRefusedControlRegisterWrite: return "a control register write";
    case kRefusedSMBusSlave: return "an SMBus transaction the bus rule forbids (memory modules' EEPROMs)";
    case kRefusedWideStart: return "a write wider than a byte over an SMBus controller's start register";
    case kRefusedTcoValue: return "a TCO control value other than the timer halt or the firmware's";
    case kRefusedConfigBus: return "a configuration write beyond bus 0";
    case kRefusedMemoryRead: return "memory outside the firmware area and the firmware's own tables";
    case kPolicyVerdictEnd: break;
  }
  return "unknown";
}
