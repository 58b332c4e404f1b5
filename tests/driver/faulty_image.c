/*
 * A kernel image with the faults check-image exists to catch: no base
 * relocations, an import that Windows XP lacks (ExAllocatePool2 came with
 * Windows 10) and the allow-lists do not name, and every privileged
 * instruction the check looks for. Linked a second time with the layout
 * faults (tests/CMakeLists.txt). Its device names are the driver's, so that
 * they pass.
 */
__attribute__((used)) static const __WCHAR_TYPE__ kNames[] = L"\\Device\\NvkDrv101\0\\DosDevices\\NvkDrv101";

void* __attribute__((stdcall)) ExAllocatePool2(unsigned long long flags, unsigned long long size, unsigned long tag);

unsigned long __attribute__((stdcall)) Entry(void* driver, void* path) {
  (void)driver;
  (void)path;
  __asm__ volatile(
      "wrmsr\n\tmov %%eax, %%cr4\n\tmov %%eax, %%db7\n\tlmsw %%ax\n\tclts\n\txsetbv\n\t"
      "lgdt (%%eax)\n\tlidt (%%eax)\n\tltr %%ax\n\tinvd\n\twbinvd"
      :
      :
      : "memory");
  return ExAllocatePool2(0, 16, 0) != 0;
}
