#pragma once
// The file of the LOGFILE command: created or emptied, opened for reading
// and writing, shared with nobody and with writes going straight through to
// the disk, and kept open (and so locked against other openers) until it is
// closed.

#include "support/os_handle.h"
#include "support/text.h"

namespace lirrin {

class TLogFile {
 public:
  // Closes a file still open, then creates `path`; false when it cannot be
  // created, and then no file is open.
  bool Open(const TText& path);
  void Close() { File.Close(); }
  bool IsOpen() const { return File.Valid(); }

 private:
  TOsHandle File;
};

}  // namespace lirrin
