// The state file on Windows: CreateFile and LockFileEx on the whole file.
#include <windows.h>

#include "sim/smbus/state_file.h"

namespace lirrin::sim {

TLockedStateFile::TLockedStateFile(const std::string& path)
    : File(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
  if (!File.Valid()) return;
  OVERLAPPED whole{};
  IsLocked = LockFileEx(File.Native(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

TLockedStateFile::~TLockedStateFile() {
  if (!IsLocked) return;
  OVERLAPPED whole{};
  UnlockFileEx(File.Native(), 0, MAXDWORD, MAXDWORD, &whole);
}

std::string TLockedStateFile::Read() {
  std::string contents;
  if (!IsLocked || SetFilePointer(File.Native(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return contents;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(File.Native(), buffer, sizeof buffer, &n, nullptr) && n > 0) contents.append(buffer, n);
  return contents;
}

bool TLockedStateFile::Write(const std::string& contents) {
  if (!IsLocked || SetFilePointer(File.Native(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(File.Native())) {
    return false;
  }
  DWORD done = 0;
  while (done < contents.size()) {
    DWORD n = 0;
    if (!WriteFile(File.Native(), contents.data() + done, static_cast<DWORD>(contents.size() - done), &n, nullptr) ||
        n == 0) {
      return false;
    }
    done += n;
  }
  return true;
}

}  // namespace lirrin::sim
