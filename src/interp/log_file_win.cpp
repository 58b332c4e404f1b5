// No sharing keeps other programs out of the file while the script holds
// it; write-through sends every write to the disk before the call returns.
#include <windows.h>

#include "interp/log_file.h"

namespace lirrin {

bool TLogFile::Open(const TText& path) {
  File = TOsHandle(CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  return File.Valid();
}

}  // namespace lirrin
