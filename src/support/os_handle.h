#pragma once
// TOsHandle: the one way the program holds an operating-system handle it
// owns, a file descriptor on POSIX systems or a HANDLE on Windows. The
// handle is closed exactly once, when its owner ends or it is replaced;
// descriptor 0 is a descriptor like any other. On Windows both of the
// system's "no handle" values (null and INVALID_HANDLE_VALUE) hold nothing.

#include <utility>

namespace lirrin {

class TOsHandle {
 public:
#ifdef _WIN32
  using TNative = void*;  // HANDLE
#else
  using TNative = int;
#endif

  TOsHandle() = default;
  explicit TOsHandle(TNative native);
  ~TOsHandle() { Close(); }
  TOsHandle(TOsHandle&& other) noexcept : Native_(std::exchange(other.Native_, kNone)) {}
  TOsHandle& operator=(TOsHandle&& other) noexcept {
    if (this != &other) {
      Close();
      Native_ = std::exchange(other.Native_, kNone);
    }
    return *this;
  }
  TOsHandle(const TOsHandle&) = delete;
  TOsHandle& operator=(const TOsHandle&) = delete;

  bool Valid() const { return Native_ != kNone; }
  // The handle for system calls; it stays owned here.
  TNative Native() const { return Native_; }
  // Closes the handle (if any); the object holds nothing afterwards.
  void Close();

 private:
#ifdef _WIN32
  static constexpr TNative kNone = nullptr;
#else
  static constexpr TNative kNone = -1;
#endif
  TNative Native_ = kNone;
};

}  // namespace lirrin
