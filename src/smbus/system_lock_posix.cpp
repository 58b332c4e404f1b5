// POSIX: an flock on a file under /run/lock (or the temporary directory when
// that is not writable). The kernel releases it when the holder exits or dies.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "smbus/system_lock.h"

namespace lirrin {

namespace {

// A file name from the lock name: path separators and the Windows namespace
// prefix's backslash become underscores.
std::string LockFileName(const std::string& name) {
  std::string file;
  for (char c : name) file += (c == '/' || c == '\\') ? '_' : c;
  return file + ".lock";
}

int OpenLockFile(const std::string& name) {
  for (const char* directory : {"/run/lock", "/tmp"}) {
    const std::string path = std::string(directory) + "/" + LockFileName(name);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fchmod(fd, 0666);  // every user's copy must be able to open it, whatever the umask
      return fd;
    }
  }
  return -1;
}

}  // namespace

TSystemLock::TSystemLock(const std::string& name) : Handle(OpenLockFile(name)) {}

bool TSystemLock::Acquire(u32 timeoutMs) {
  if (!Handle.Valid()) return false;
  // flock has no timeout of its own: poll without blocking until the deadline.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (flock(Handle.Native(), LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void TSystemLock::Release() {
  if (Handle.Valid()) flock(Handle.Native(), LOCK_UN);
}

}  // namespace lirrin
