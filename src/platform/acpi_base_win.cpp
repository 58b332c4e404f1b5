// Windows copies the firmware's root table into the registry, under
// HKLM "Hardware\ACPI\RSDT\<OEM ID>\<OEM table ID>\<OEM revision>", as the
// data of that key's one value.
#include <windows.h>

#include <string>

#include "platform/acpi_base.h"

namespace lirrin {

namespace {

constexpr DWORD kBufferBytes = 2048;

}  // namespace

bool TAcpiBase::ReadRegistryRootTable(std::vector<u8>& data) {
  std::wstring path = L"Hardware\\ACPI\\RSDT";
  wchar_t name[kBufferBytes / sizeof(wchar_t)];
  HKEY key;
  for (int level = 0; level < 3; ++level) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    const LONG status = RegEnumKeyExW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    path += L'\\';
    path.append(name, nameLength);
  }
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  DWORD nameLength = static_cast<DWORD>(std::size(name));
  BYTE buffer[kBufferBytes];
  DWORD size = sizeof buffer;
  const LONG status = RegEnumValueW(key, 0, name, &nameLength, nullptr, nullptr, buffer, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  data.assign(buffer, buffer + size);
  return true;
}

}  // namespace lirrin
