// POSIX: an flock on a file under /run/lock, the one directory for lock
// files of the whole system; it is created when missing. There is no
// fallback: a file elsewhere would be a second lock that another process
// would not see. The kernel releases the lock when the holder exits or dies.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "smbus/system_lock.h"

namespace lirrin {

namespace {

constexpr const char* kLockDirectory = "/run/lock";

// A file name from the lock name: path separators and the Windows namespace
// prefix's backslash become underscores.
std::string LockFileName(const std::string& name) {
  std::string file;
  for (char c : name) file += (c == '/' || c == '\\') ? '_' : c;
  return file + ".lock";
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Creates `directory` and the missing directories above it (a minimal
// system may lack /run as well), each sticky and writable for everyone, as
// /run/lock itself is; true when it exists afterwards.
bool MakeDirectories(const std::string& directory) {
  for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (mkdir(part.c_str(), 01777) == 0) {
      chmod(part.c_str(), 01777);
    } else if (errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) break;
  }
  struct stat made {};
  return stat(directory.c_str(), &made) == 0 && S_ISDIR(made.st_mode);
}

}  // namespace

TSystemLock::TSystemLock(const std::string& name) : TSystemLock(name, kLockDirectory) {}

TSystemLock::TSystemLock(const std::string& name, const std::string& directory)
    : Path(directory + "/" + LockFileName(name)) {
  if (!MakeDirectories(directory)) {
    ProblemText = SystemError("cannot create the lock directory " + directory);
    return;
  }
  Handle = TOsHandle(open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!Handle.Valid()) {
    ProblemText = SystemError("cannot open the lock file " + Path);
    return;
  }
  fchmod(Handle.Native(), 0666);  // every user's copy must be able to open it, whatever the umask
}

bool TSystemLock::Acquire(u32 timeoutMs) {
  if (!Handle.Valid()) return false;  // the constructor's problem stands
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // An flock belongs to the open file, which all threads share: the gate
  // keeps them apart first.
  if (!ThreadGate.try_lock_until(deadline)) {
    ProblemText = "the lock file " + Path + " stayed held by another thread for " + std::to_string(timeoutMs) + " ms";
    return false;
  }
  // flock has no timeout of its own: poll without blocking until the deadline.
  for (;;) {
    if (flock(Handle.Native(), LOCK_EX | LOCK_NB) == 0) {
      ProblemText.clear();
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ProblemText = SystemError("cannot lock " + Path);
      break;
    }
    if (WaitingStopped) {
      ProblemText = "the lock file " + Path + " was held by another process, and the wait was given up";
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ProblemText = "the lock file " + Path + " stayed held by another process for " + std::to_string(timeoutMs) + " ms";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ThreadGate.unlock();
  return false;
}

void TSystemLock::StopWaiting() { WaitingStopped = true; }

void TSystemLock::Release() {
  if (!Handle.Valid()) return;
  flock(Handle.Native(), LOCK_UN);
  ThreadGate.unlock();
}

}  // namespace lirrin
