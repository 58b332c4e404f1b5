// POSIX has no share modes: an exclusive advisory lock keeps out every
// other opener that asks for one, and O_SYNC writes through to the disk.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "interp/log_file.h"

namespace lirrin {

bool TLogFile::Open(const TText& path) {
  Close();
  const int file = open(ToUtf8(path).c_str(), O_RDWR | O_CREAT | O_SYNC | O_CLOEXEC, 0644);
  if (file < 0) return false;
  // Emptied only once it is ours, so a file another holder keeps stays whole.
  if (flock(file, LOCK_EX | LOCK_NB) != 0 || ftruncate(file, 0) != 0) {
    close(file);
    return false;
  }
  Handle = file;
  return true;
}

void TLogFile::Close() {
  if (Handle == kClosed) return;
  close(static_cast<int>(Handle));
  Handle = kClosed;
}

}  // namespace lirrin
