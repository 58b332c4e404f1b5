/*
 * The driver's kernel side: the device and its link, who may open it, the
 * request dispatch, and the memory services the request handling uses.
 */
#include <ntifs.h>

#include "machine.h"
#include "request.h"

_Static_assert(STATUS_UNSUCCESSFUL == (NTSTATUS)NVK_STATUS_UNSUCCESSFUL, "status values");
_Static_assert(STATUS_INFO_LENGTH_MISMATCH == (NTSTATUS)NVK_STATUS_INFO_LENGTH_MISMATCH, "status values");
_Static_assert(STATUS_ACCESS_VIOLATION == (NTSTATUS)NVK_STATUS_ACCESS_VIOLATION, "status values");
_Static_assert(STATUS_INVALID_PARAMETER == (NTSTATUS)NVK_STATUS_INVALID_PARAMETER, "status values");
_Static_assert(STATUS_ACCESS_DENIED == (NTSTATUS)NVK_STATUS_ACCESS_DENIED, "status values");
_Static_assert(STATUS_INSUFFICIENT_RESOURCES == (NTSTATUS)NVK_STATUS_INSUFFICIENT_RESOURCES, "status values");
_Static_assert(STATUS_PRIVILEGED_INSTRUCTION == (NTSTATUS)NVK_STATUS_PRIVILEGED_INSTRUCTION, "status values");

#define DEVICE_NAME L"\\Device\\NvkDrv101"
#define LINK_NAME L"\\DosDevices\\NvkDrv101"
#define POOL_TAG 0x3176764E /* "Nvv1" in a pool dump */

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

/* cpu_win.c: whether the driver runs at the processor's kernel level. */
bool InKernelMode(void);

/* One request at a time, for the policy's memory. */
static KMUTEX RequestLock;
static TPolicyState Policy;

/* --- memory services ---------------------------------------------------- */

/*
 * Device memory is mapped uncached and, unless the request writes to it
 * (a memory write, a configuration write through the memory window),
 * read-only, so that a stray store through a read's mapping faults
 * instead of reaching a device register. MmMapIoSpaceEx (Windows 10 and
 * later) takes the page protection and never maps executable, which memory
 * integrity asks of a driver's mappings. Older kernels lack it, down to
 * XP, where the x86 image must still load, so it is looked up when the
 * driver starts, never imported; where the lookup answers null (older
 * Windows, and Wine's driver host, which does not export it) MmMapIoSpace
 * maps read-write, as it always has. MmGetSystemRoutineAddress is exported
 * since Windows 2000; MinGW-w64's kernel headers leave it out.
 */
NTKERNELAPI PVOID NTAPI MmGetSystemRoutineAddress(PUNICODE_STRING name);

typedef PVOID(NTAPI* TMapIoSpaceEx)(PHYSICAL_ADDRESS physical, SIZE_T length, ULONG protection);
static TMapIoSpaceEx MapIoSpaceEx;

static void FindMapIoSpaceEx(void) {
  UNICODE_STRING name = RTL_CONSTANT_STRING(L"MmMapIoSpaceEx");
  MapIoSpaceEx = (TMapIoSpaceEx)MmGetSystemRoutineAddress(&name);
}

void* MachineMapPhysical(uint64_t address, uint32_t length, bool writable) {
  PHYSICAL_ADDRESS physical;
  physical.QuadPart = (LONGLONG)address;
  if (MapIoSpaceEx != NULL) {
    return MapIoSpaceEx(physical, length, (writable ? PAGE_READWRITE : PAGE_READONLY) | PAGE_NOCACHE);
  }
  return MmMapIoSpace(physical, length, MmNonCached);
}

void MachineUnmapPhysical(void* mapping, uint32_t length) { MmUnmapIoSpace(mapping, length); }

uint32_t MachineReadMapped(const volatile void* at, unsigned width) {
  if (width == 1) return *(const volatile uint8_t*)at;
  if (width == 2) return *(const volatile uint16_t*)at;
  return *(const volatile uint32_t*)at;
}

void MachineWriteMapped(volatile void* at, unsigned width, uint32_t value) {
  if (width == 1) {
    *(volatile uint8_t*)at = (uint8_t)value;
  } else if (width == 2) {
    *(volatile uint16_t*)at = (uint16_t)value;
  } else {
    *(volatile uint32_t*)at = value;
  }
}

/*
 * A driver host that runs drivers as a user process (Wine's) does not know
 * the machine's memory: there the answer is "cannot say", and the caller
 * refuses. Such a host may also implement the RAM list as a stub that
 * raises an exception from a frame with no unwind entry, which no guard can
 * catch, so it is not called there at all.
 */
bool MachineTouchesRam(uint64_t address, uint64_t length) {
  if (!InKernelMode()) return true;
  PPHYSICAL_MEMORY_RANGE ranges = MmGetPhysicalMemoryRanges();
  if (ranges == NULL) return true;
  bool touches = false;
  /* The list ends with an all-zero entry. */
  for (PPHYSICAL_MEMORY_RANGE range = ranges; range->BaseAddress.QuadPart != 0 || range->NumberOfBytes.QuadPart != 0;
       ++range) {
    const uint64_t base = (uint64_t)range->BaseAddress.QuadPart;
    const uint64_t size = (uint64_t)range->NumberOfBytes.QuadPart;
    if (address < base + size && base < address + length) touches = true;
  }
  ExFreePool(ranges);
  return touches;
}

/* --- configuration space ---------------------------------------------- */

/*
 * Through the HAL's bus-data calls: the HAL holds its own lock across the
 * address and the data of every cycle it makes, and the kernel's PCI code
 * makes its cycles through the HAL too, so no other processor can move the
 * address between the two. Where the slot is empty or the bus absent the
 * HAL transfers fewer bytes than asked; a read gives all ones there, as
 * the bus's own master abort would. A driver host that runs drivers as a
 * user process has no configuration space to give.
 */
bool MachineConfigAccess(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, unsigned width, bool write,
                         uint32_t* value) {
  if (!InKernelMode()) return false;
  PCI_SLOT_NUMBER slot;
  slot.u.AsULONG = 0;
  slot.u.bits.DeviceNumber = device;
  slot.u.bits.FunctionNumber = function;
  if (write) {
    uint32_t data = *value;
    return HalSetBusDataByOffset(PCIConfiguration, bus, slot.u.AsULONG, &data, offset, width) == width;
  }
  uint32_t data = 0xFFFFFFFFu;
  HalGetBusDataByOffset(PCIConfiguration, bus, slot.u.AsULONG, &data, offset, width);
  *value = width == 4 ? data : data & ((1u << (8 * width)) - 1u);
  return true;
}

/* Requests run at passive level in the caller's thread, so paged pool. */
void* MachineAllocate(uint32_t length) { return ExAllocatePoolWithTag(PagedPool, length, POOL_TAG); }

void MachineFree(void* block) { ExFreePoolWithTag(block, POOL_TAG); }

uint64_t MachineUserLimit(void) { return (uint64_t)MmUserProbeAddress; }

void MachineLogRefusal(uint32_t code, const char* reason) {
  DbgPrint("NvkDrv101: request %08lX refused: %s\n", (unsigned long)code, reason);
}

/* --- requests ---------------------------------------------------------- */

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS NTAPI OpenOrClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* Every request code is buffered: one system buffer carries the input in
 * and the output back. */
static NTSTATUS NTAPI DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  TDeviceRequest request = {
      .Code = stack->Parameters.DeviceIoControl.IoControlCode,
      .Buffer = irp->AssociatedIrp.SystemBuffer,
      .InputLength = stack->Parameters.DeviceIoControl.InputBufferLength,
      .OutputLength = stack->Parameters.DeviceIoControl.OutputBufferLength,
  };
  const TProcessorMode mode = sizeof(void*) == 4 ? kMode32 : kMode64;
  KeWaitForSingleObject(&RequestLock, Executive, KernelMode, FALSE, NULL);
  const NTSTATUS status = (NTSTATUS)ServeRequest(&request, mode, &Policy);
  KeReleaseMutex(&RequestLock, FALSE);
  return Complete(irp, status, request.Returned);
}

/* --- device ------------------------------------------------------------ */

/* The two accounts that may open the device, written out rather than taken
 * from the kernel's exported SID table so they are the same everywhere. */
typedef struct {
  UCHAR Revision;
  UCHAR SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  ULONG SubAuthority[2];
} TWellKnownSid;

static TWellKnownSid LocalSystemSid = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {SECURITY_LOCAL_SYSTEM_RID, 0}};
static TWellKnownSid AdministratorsSid = {SID_REVISION, 2, {SECURITY_NT_AUTHORITY},
                                          {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

/*
 * Gives the device a list that admits only SYSTEM (S-1-5-18) and the
 * Administrators group (S-1-5-32-544). The driver reads and writes ports,
 * registers and physical memory for whoever opens it, so nobody else may.
 */
static NTSTATUS RestrictToAdministrators(PDEVICE_OBJECT device) {
  PSID system = &LocalSystemSid;
  PSID administrators = &AdministratorsSid;
  const ULONG aceBase = sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG);
  const ULONG aclSize = sizeof(ACL) + 2 * aceBase + RtlLengthSid(system) + RtlLengthSid(administrators);
  PACL acl = ExAllocatePoolWithTag(PagedPool, aclSize, POOL_TAG);
  if (acl == NULL) return STATUS_INSUFFICIENT_RESOURCES;

  SECURITY_DESCRIPTOR descriptor;
  NTSTATUS status = RtlCreateAcl(acl, aclSize, ACL_REVISION);
  if (NT_SUCCESS(status)) status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system);
  if (NT_SUCCESS(status)) status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, administrators);
  if (NT_SUCCESS(status)) status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
  if (NT_SUCCESS(status)) {
    HANDLE handle;
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
    if (NT_SUCCESS(status)) {
      status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
      ZwClose(handle);
    }
  }
  ExFreePoolWithTag(acl, POOL_TAG);
  return status;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link = RTL_CONSTANT_STRING(LINK_NAME);
  IoDeleteSymbolicLink(&link);
  IoDeleteDevice(driver->DeviceObject);
}

/*
 * The device is opened only after DriverEntry returns (the I/O manager
 * clears its initializing flag then), and the link that makes it reachable
 * from Win32 is created only after the access list is in place.
 * FILE_DEVICE_SECURE_OPEN applies the list to names below the device too.
 */
NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  (void)registryPath;
  driver->MajorFunction[IRP_MJ_CREATE] = OpenOrClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = OpenOrClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = OpenOrClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
  driver->DriverUnload = Unload;
  KeInitializeMutex(&RequestLock, 0);
  FindMapIoSpaceEx();
  UNICODE_STRING deviceName = RTL_CONSTANT_STRING(DEVICE_NAME);
  UNICODE_STRING linkName = RTL_CONSTANT_STRING(LINK_NAME);
  PDEVICE_OBJECT device;
  NTSTATUS status =
      IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  status = RestrictToAdministrators(device);
  if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&linkName, &deviceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  return STATUS_SUCCESS;
}
