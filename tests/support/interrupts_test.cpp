#include "support/interrupts.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace lirrin {
namespace {

// A signal that comes while the interrupts are held off waits until the
// holder ends, then ends the process as it would have. The child tells
// what it did between the two through a pipe.
TEST(InterruptsHeldOff, ASignalWaitsForTheHolderToEnd) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      {
        const TInterruptsHeldOff interruptsWait;
        kill(getpid(), signal);
        if (write(channel[1], "restored", 8) != 8) _exit(3);
      }
      if (write(channel[1], " and went on", 12) != 12) _exit(3);
      _exit(0);
    }
    close(channel[1]);
    std::string told;
    char buffer[64];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) told.append(buffer, got);
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << ": status " << status;
    EXPECT_EQ(told, "restored") << signal;
  }
}

}  // namespace
}  // namespace lirrin
#endif
