#ifndef NVK_DRIVER_MACHINE_H
#define NVK_DRIVER_MACHINE_H
/*
 * What the request handling needs from the machine and the kernel. The
 * kernel build implements these in cpu_win.c and kernel_win.c; the host's
 * unit tests implement them over a model.
 *
 * Every processor access reports whether the processor took it: an absent
 * model-specific register, a counter index the processor does not have or a
 * reserved control-register bit raise a fault, which must end as a failed
 * request rather than a crash.
 */

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* IN and OUT of 1, 2 or 4 bytes. */
bool MachinePortIn(uint16_t port, unsigned width, uint32_t* value);
bool MachinePortOut(uint16_t port, unsigned width, uint32_t value);
/*
 * One configuration access of `width` bytes (*value in or out), made so
 * that no other configuration access of any processor comes between its
 * address and its data. An absent function reads as all ones.
 */
bool MachineConfigAccess(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, unsigned width, bool write,
                         uint32_t* value);

bool MachineReadMsr(uint32_t index, uint64_t* value);
bool MachineReadTsc(uint64_t* value);
bool MachineReadPmc(uint32_t index, uint64_t* value);
/* Control registers 0, 2, 3, 4 and (64-bit mode only) 8, at the mode's width. */
bool MachineReadCr(unsigned index, uint64_t* value);

/*
 * An uncached mapping of [address, address + length), or null. Only a
 * mapping asked for as writable may be written through.
 */
void* MachineMapPhysical(uint64_t address, uint32_t length, bool writable);
void MachineUnmapPhysical(void* mapping, uint32_t length);
/* One access of 1, 2 or 4 bytes inside such a mapping. Devices see every
 * access, so each is made exactly once at exactly this width. */
uint32_t MachineReadMapped(const volatile void* at, unsigned width);
void MachineWriteMapped(volatile void* at, unsigned width, uint32_t value);
/*
 * Whether [address, address + length) touches memory the system reports as
 * RAM. When the system cannot say, the answer is true.
 */
bool MachineTouchesRam(uint64_t address, uint64_t length);

/* Scratch memory for one request. */
void* MachineAllocate(uint32_t length);
void MachineFree(void* block);

/* The first address above the calling process's user space. */
uint64_t MachineUserLimit(void);
/*
 * Copies between the driver's memory and the calling process's user space;
 * false when a page of the user range is not there or not writable.
 */
bool MachineCopyFromUser(void* to, uint64_t from, uint32_t length);
bool MachineCopyToUser(uint64_t to, const void* from, uint32_t length);

/* A line in the debug log for a refused request. */
void MachineLogRefusal(uint32_t code, const char* reason);

#ifdef __cplusplus
}
#endif

#endif
