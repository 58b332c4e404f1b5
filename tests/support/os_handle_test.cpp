// The owned operating-system handle: closed exactly once, descriptor 0 too.
#include "support/os_handle.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace lirrin {
namespace {

bool Open(int fd) { return fcntl(fd, F_GETFD) != -1; }

int OpenNull() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(OsHandle, DescriptorZeroIsOwnedAndClosed) {
  const int savedInput = fcntl(0, F_DUPFD_CLOEXEC, 3);
  ASSERT_GE(savedInput, 0);
  const int null = OpenNull();
  ASSERT_GE(null, 0);
  ASSERT_EQ(dup2(null, 0), 0);
  close(null);
  {
    const TOsHandle input(0);
    EXPECT_TRUE(input.Valid());
    EXPECT_EQ(input.Native(), 0);
  }
  EXPECT_FALSE(Open(0));
  EXPECT_EQ(errno, EBADF);
  ASSERT_EQ(dup2(savedInput, 0), 0);
  close(savedInput);
}

TEST(OsHandle, MovesHandOverAndReplacingCloses) {
  const int first = OpenNull();
  const int second = OpenNull();
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  TOsHandle a(first);
  TOsHandle b(std::move(a));
  EXPECT_FALSE(a.Valid());
  EXPECT_EQ(b.Native(), first);
  b = TOsHandle(second);  // the first is closed, the second now owned
  EXPECT_FALSE(Open(first));
  EXPECT_TRUE(Open(second));
  b.Close();
  EXPECT_FALSE(Open(second));
  EXPECT_FALSE(b.Valid());
}

TEST(OsHandle, AFailedOpenHoldsNothing) {
  const TOsHandle failed(open("/nonexistent/lirrin", O_RDONLY));
  EXPECT_FALSE(failed.Valid());
  EXPECT_FALSE(TOsHandle().Valid());
}

}  // namespace
}  // namespace lirrin
#endif
