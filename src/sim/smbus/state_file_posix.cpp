// The state file on POSIX systems: open(2) and flock(2).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "sim/smbus/state_file.h"

namespace lirrin::sim {

TLockedStateFile::TLockedStateFile(const std::string& path)
    : File(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
  if (!File.Valid()) return;
  int locked;
  do {
    locked = flock(File.Native(), LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  IsLocked = locked == 0;
}

TLockedStateFile::~TLockedStateFile() = default;

std::string TLockedStateFile::Read() {
  std::string contents;
  if (!IsLocked) return contents;
  char buffer[4096];
  off_t at = 0;
  for (;;) {
    const ssize_t n = pread(File.Native(), buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  return contents;
}

bool TLockedStateFile::Write(const std::string& contents) {
  if (!IsLocked || ftruncate(File.Native(), 0) != 0) return false;
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = pwrite(File.Native(), contents.data() + done, contents.size() - done,
                             static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace lirrin::sim
