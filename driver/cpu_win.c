/*
 * The processor accesses of the kernel build and the copies to and from
 * the caller's memory, each run under a structured exception handler.
 *
 * MinGW's GCC has no __try/__except, so this one file is compiled by clang
 * for the MSVC-compatible target (i386: frame-based handlers through the
 * kernel's _except_handler3; x64: unwind tables with __C_specific_handler)
 * and linked with the rest of the driver. It includes no system header.
 *
 * A fault inside a guarded step (a user page that is not there, RDMSR of a
 * register the processor lacks, RDPMC of a counter it lacks, a port access
 * from a driver host that runs in user mode) unwinds to the guard, and the
 * request fails. Only faults of this file's own code are caught this way:
 * the unwinder needs an entry for every frame between the fault and the
 * guard, and a foreign function may have none.
 *
 * The driver writes no model-specific or control register, so this file
 * holds no instruction that could.
 */
#include "machine.h"

typedef struct {
  uint32_t Index;
  uint64_t Value;
  volatile uint8_t* To;
  const volatile uint8_t* From;
  uint32_t Length;
} TStepArgs;

typedef void (*TStep)(TStepArgs*);

/*
 * The step is a separate function reached through a call, because clang
 * scopes a __try by its calls: an instruction written inline in the guarded
 * block would not be covered.
 */
__attribute__((noinline)) static bool Guarded(TStep step, TStepArgs* args) {
  __try {
    step(args);
  } __except (1) {
    return false;
  }
  return true;
}

#define STEP __attribute__((noinline)) static void

STEP InByte(TStepArgs* a) {
  uint8_t value;
  __asm__ volatile("inb %w1, %b0" : "=a"(value) : "Nd"((uint16_t)a->Index));
  a->Value = value;
}

STEP InWord(TStepArgs* a) {
  uint16_t value;
  __asm__ volatile("inw %w1, %w0" : "=a"(value) : "Nd"((uint16_t)a->Index));
  a->Value = value;
}

STEP InDword(TStepArgs* a) {
  uint32_t value;
  __asm__ volatile("inl %w1, %k0" : "=a"(value) : "Nd"((uint16_t)a->Index));
  a->Value = value;
}

STEP OutByte(TStepArgs* a) { __asm__ volatile("outb %b0, %w1" : : "a"((uint8_t)a->Value), "Nd"((uint16_t)a->Index)); }

STEP OutWord(TStepArgs* a) { __asm__ volatile("outw %w0, %w1" : : "a"((uint16_t)a->Value), "Nd"((uint16_t)a->Index)); }

STEP OutDword(TStepArgs* a) { __asm__ volatile("outl %k0, %w1" : : "a"((uint32_t)a->Value), "Nd"((uint16_t)a->Index)); }

/* The privilege level the code runs at is the low two bits of CS: 0 in a
 * real kernel, 3 in a driver host that runs drivers as a user process. */
bool InKernelMode(void) {
  uint16_t codeSelector;
  __asm__ volatile("mov %%cs, %0" : "=r"(codeSelector));
  return (codeSelector & 3) == 0;
}

STEP Rdmsr(TStepArgs* a) {
  uint32_t low, high;
  __asm__ volatile("rdmsr" : "=a"(low), "=d"(high) : "c"(a->Index));
  a->Value = (uint64_t)high << 32 | low;
}

STEP Rdtsc(TStepArgs* a) {
  uint32_t low, high;
  __asm__ volatile("rdtsc" : "=a"(low), "=d"(high));
  a->Value = (uint64_t)high << 32 | low;
}

STEP Rdpmc(TStepArgs* a) {
  uint32_t low, high;
  __asm__ volatile("rdpmc" : "=a"(low), "=d"(high) : "c"(a->Index));
  a->Value = (uint64_t)high << 32 | low;
}

/* Control registers are as wide as the processor mode. */
STEP ReadCr0(TStepArgs* a) {
  uintptr_t value;
  __asm__ volatile("mov %%cr0, %0" : "=r"(value));
  a->Value = value;
}

STEP ReadCr2(TStepArgs* a) {
  uintptr_t value;
  __asm__ volatile("mov %%cr2, %0" : "=r"(value));
  a->Value = value;
}

STEP ReadCr3(TStepArgs* a) {
  uintptr_t value;
  __asm__ volatile("mov %%cr3, %0" : "=r"(value));
  a->Value = value;
}

STEP ReadCr4(TStepArgs* a) {
  uintptr_t value;
  __asm__ volatile("mov %%cr4, %0" : "=r"(value));
  a->Value = value;
}

#if defined(__x86_64__)
STEP ReadCr8(TStepArgs* a) {
  uintptr_t value;
  __asm__ volatile("mov %%cr8, %0" : "=r"(value));
  a->Value = value;
}
#endif

STEP CopyBytes(TStepArgs* a) {
  for (uint32_t at = 0; at < a->Length; ++at) a->To[at] = a->From[at];
}

bool MachinePortIn(uint16_t port, unsigned width, uint32_t* value) {
  TStepArgs args = {.Index = port};
  if (!Guarded(width == 1 ? InByte : width == 2 ? InWord : InDword, &args)) return false;
  *value = (uint32_t)args.Value;
  return true;
}

bool MachinePortOut(uint16_t port, unsigned width, uint32_t value) {
  TStepArgs args = {.Index = port, .Value = value};
  return Guarded(width == 1 ? OutByte : width == 2 ? OutWord : OutDword, &args);
}

bool MachineReadMsr(uint32_t index, uint64_t* value) {
  TStepArgs args = {.Index = index};
  if (!Guarded(Rdmsr, &args)) return false;
  *value = args.Value;
  return true;
}

bool MachineReadTsc(uint64_t* value) {
  TStepArgs args = {0};
  if (!Guarded(Rdtsc, &args)) return false;
  *value = args.Value;
  return true;
}

bool MachineReadPmc(uint32_t index, uint64_t* value) {
  TStepArgs args = {.Index = index};
  if (!Guarded(Rdpmc, &args)) return false;
  *value = args.Value;
  return true;
}

static TStep CrReadStep(unsigned index) {
  switch (index) {
    case 0: return ReadCr0;
    case 2: return ReadCr2;
    case 3: return ReadCr3;
    case 4: return ReadCr4;
#if defined(__x86_64__)
    case 8: return ReadCr8;
#endif
    default: return 0;
  }
}

bool MachineReadCr(unsigned index, uint64_t* value) {
  TStep step = CrReadStep(index);
  TStepArgs args = {0};
  if (step == 0 || !Guarded(step, &args)) return false;
  *value = args.Value;
  return true;
}

bool MachineCopyFromUser(void* to, uint64_t from, uint32_t length) {
  TStepArgs args = {.To = to, .From = (const volatile uint8_t*)(uintptr_t)from, .Length = length};
  return Guarded(CopyBytes, &args);
}

bool MachineCopyToUser(uint64_t to, const void* from, uint32_t length) {
  TStepArgs args = {.To = (volatile uint8_t*)(uintptr_t)to, .From = from, .Length = length};
  return Guarded(CopyBytes, &args);
}
