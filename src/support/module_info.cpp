#include "support/module_info.h"

namespace lirrin {

std::wstring FileNameOfPath(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring StemOfFileName(const std::wstring& fileName) {
  const std::size_t dot = fileName.rfind(L'.');
  return dot == std::wstring::npos ? fileName : fileName.substr(0, dot);
}

std::wstring BaseOfFileName(const std::wstring& fileName) {
  const std::size_t dot = fileName.find(L'.');
  return dot == std::wstring::npos ? std::wstring() : fileName.substr(0, dot);
}

std::wstring VersionText(uint32_t high, uint32_t low) {
  std::wstring text = std::to_wstring(high >> 16) + L"." + std::to_wstring(high & 0xFFFF) + L"." +
                      std::to_wstring(low >> 16);
  if ((low & 0xFFFF) != 0) text += L"." + std::to_wstring(low & 0xFFFF);
  return text;
}

std::wstring ModuleFileName() { return FileNameOfPath(ModulePath()); }
std::wstring ModuleStemName() { return StemOfFileName(ModuleFileName()); }
std::wstring ModuleBaseName() { return BaseOfFileName(ModuleFileName()); }
std::wstring ModuleVersion() { return FileVersionText(ModulePath()); }

std::wstring FileVersionText(const std::wstring& path) {
  uint32_t high = 0, low = 0;
  return ReadFileVersion(path, high, low) ? VersionText(high, low) : std::wstring();
}

}  // namespace lirrin
