#pragma once
// Names derived from the program's own file: its full path, three forms of
// its file name, and the version text of its version resource. The logon
// start names its task and its Run value with them; the panel shows the
// version.
//
// The path is taken in the system's ANSI code page into a buffer of 260
// characters (the classic path limit) and then widened, so characters
// outside that code page do not survive and longer paths are cut.

#include <cstdint>
#include <string>

namespace lirrin {

std::wstring ModulePath();
// The part of ModulePath after its last backslash.
std::wstring ModuleFileName();
// ModuleFileName without the text from its last "." on (the logon task name).
std::wstring ModuleStemName();
// ModuleFileName up to its first "."; empty when it has none (the Run value name).
std::wstring ModuleBaseName();
// FileVersionText of ModulePath.
std::wstring ModuleVersion();
// "major.minor.build", with ".revision" only when the revision is not 0;
// empty when the file has no version resource.
std::wstring FileVersionText(const std::wstring& path);
// The two 32-bit halves of the file's fixed file version.
bool ReadFileVersion(const std::wstring& path, uint32_t& high, uint32_t& low);

// The name rules above, applied to any path or file name.
std::wstring FileNameOfPath(const std::wstring& path);
std::wstring StemOfFileName(const std::wstring& fileName);
std::wstring BaseOfFileName(const std::wstring& fileName);
std::wstring VersionText(uint32_t high, uint32_t low);

}  // namespace lirrin
