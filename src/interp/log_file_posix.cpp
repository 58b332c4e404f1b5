// POSIX has no share modes: an exclusive advisory lock keeps out every
// other opener that asks for one, and O_SYNC writes through to the disk.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "interp/log_file.h"

namespace lirrin {

bool TLogFile::Open(const TText& path) {
  File = TOsHandle(open(ToUtf8(path).c_str(), O_RDWR | O_CREAT | O_SYNC | O_CLOEXEC, 0644));
  // Emptied only once it is ours, so a file another holder keeps stays whole.
  if (File.Valid() && (flock(File.Native(), LOCK_EX | LOCK_NB) != 0 || ftruncate(File.Native(), 0) != 0)) {
    File.Close();
  }
  return File.Valid();
}

}  // namespace lirrin
