#pragma once
// The file of the LOGFILE command: created or emptied, opened for reading
// and writing, shared with nobody and with writes going straight through to
// the disk, and kept open (and so locked against other openers) until it is
// closed.

#include <cstdint>

#include "support/text.h"

namespace lirrin {

class TLogFile {
 public:
  TLogFile() = default;
  ~TLogFile() { Close(); }
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Closes a file still open, then creates `path`; false when it cannot be
  // created, and then no file is open.
  bool Open(const TText& path);
  void Close();
  bool IsOpen() const { return Handle != kClosed; }

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t Handle = kClosed;  // file HANDLE (Windows) or descriptor
};

}  // namespace lirrin
