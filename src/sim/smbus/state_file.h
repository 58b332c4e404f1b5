#pragma once
// Exclusive access to the board's state file: opening it takes an advisory
// lock on the whole file (flock on POSIX systems, LockFileEx on Windows)
// that the system drops when the holder dies; closing releases it. The file
// is created when missing.

#include <string>

#include "support/os_handle.h"

namespace lirrin::sim {

class TLockedStateFile {
 public:
  explicit TLockedStateFile(const std::string& path);
  ~TLockedStateFile();  // closing the file drops the lock
  TLockedStateFile(const TLockedStateFile&) = delete;
  TLockedStateFile& operator=(const TLockedStateFile&) = delete;

  // False when the file could not be opened or locked.
  bool Locked() const { return IsLocked; }
  std::string Read();
  // Replaces the whole contents.
  bool Write(const std::string& contents);

 private:
  TOsHandle File;
  bool IsLocked = false;
};

}  // namespace lirrin::sim
