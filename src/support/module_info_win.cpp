// The program's path and file versions through the ANSI calls, as the
// 95/98/Me family offers only those.
#include <windows.h>

#include <vector>

#include "support/ansi_code_page.h"
#include "support/module_info.h"

namespace lirrin {

std::wstring ModulePath() {
  char path[MAX_PATH] = {};
  // A path longer than the buffer comes back cut and, on XP, without its
  // terminator; the last character is kept as the terminator.
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  path[MAX_PATH - 1] = '\0';
  return FromAnsiCodePage(path);
}

bool ReadFileVersion(const std::wstring& path, uint32_t& high, uint32_t& low) {
  const std::string file = ToAnsiCodePage(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  const bool found = GetFileVersionInfoA(file.c_str(), 0, size, block.data()) &&
                     VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) &&
                     fixed != nullptr && fixedSize >= sizeof(VS_FIXEDFILEINFO);
  if (!found) return false;
  high = fixed->dwFileVersionMS;
  low = fixed->dwFileVersionLS;
  return true;
}

}  // namespace lirrin
