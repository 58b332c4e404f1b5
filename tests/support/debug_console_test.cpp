#include "support/debug_console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace lirrin {
namespace {

TEST(DebugConsole, DisabledConsoleWritesNothing) {
  TDebugConsole console(false);
  ::testing::internal::CaptureStderr();
  console.Log("Model Name", "X58", kColorYellow);
  console.LogW(u"Detect SMBus Name", u"Intel", kColorYellow);
  console.LogLastError(kColorYellow);
  EXPECT_EQ(console.SetColor(kColorRed), kColorDefault);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(console.Enabled());
}

#ifndef _WIN32
// Standard error is not a terminal while captured, so the lines carry no
// colour escapes.
TEST(DebugConsole, LinesHaveLabelTextAndBrackets) {
  TDebugConsole console(true);
  ::testing::internal::CaptureStderr();
  console.Log("TMainForm::TMainForm", "start", kColorYellow);
  console.LogW(u"BuildAcpiTable", u"Table = MCFG", kColorRed);
  console.LogW(u"Empty", u"", kColorGreen);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "TMainForm::TMainForm ... [start]\n"
            "BuildAcpiTable ... [Table = MCFG]\n"
            "Empty ... []\n");
}

TEST(DebugConsole, SetColorReturnsThePreviousAttribute) {
  TDebugConsole console(true);
  EXPECT_EQ(console.SetColor(kColorGreen), kColorDefault);
  EXPECT_EQ(console.SetColor(kColorRed), kColorGreen);
  EXPECT_EQ(console.SetColor(0), kColorDefault);  // black on black, and 7 back
  EXPECT_EQ(console.SetColor(kColorDefault), 0);
}

// On a terminal the text between the brackets takes the caller's colour and
// the line returns to the default before its closing bracket. Standard error
// is a pseudo-terminal (in raw mode, so line ends pass unchanged) while the
// line is written.
TEST(DebugConsole, ColoursTheTextOnATerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  termios mode{};
  ASSERT_EQ(tcgetattr(terminal, &mode), 0);
  cfmakeraw(&mode);
  ASSERT_EQ(tcsetattr(terminal, TCSANOW, &mode), 0);
  const int savedError = dup(STDERR_FILENO);
  dup2(terminal, STDERR_FILENO);
  {
    TDebugConsole console(true);
    console.Log("Model Name", "X58", kColorYellow);
    console.LogW(u"BuildAcpiTable", u"MCFG", kColorRed);
  }
  dup2(savedError, STDERR_FILENO);
  close(savedError);
  close(terminal);
  std::string written;
  char buffer[256];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) written.append(buffer, static_cast<std::size_t>(n));
  close(master);
  EXPECT_EQ(written,
            "Model Name ... [\x1b[0;93;40mX58\x1b[0m]\n"
            "BuildAcpiTable ... [\x1b[0;91;40mMCFG\x1b[0m]\n");
}

TEST(DebugConsole, LastErrorLineCarriesTheSystemText) {
  TDebugConsole console(true);
  ::testing::internal::CaptureStderr();
  errno = ENOENT;
  console.LogLastError(kColorYellow);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string("LastError ... [") + std::strerror(ENOENT) + "]\n");
}
#endif

TEST(DebugConsole, AnsiRenderingOfConsoleAttributes) {
  struct Case {
    u16 attribute;
    const char* expected;
  };
  const Case cases[] = {
      {kColorDefault, "\x1b[0m"},       {kColorGreen, "\x1b[0;92;40m"}, {kColorRed, "\x1b[0;91;40m"},
      {kColorYellow, "\x1b[0;93;40m"},  {0, "\x1b[0;30;40m"},           {0x1F, "\x1b[0;97;44m"},
  };
  for (const Case& c : cases) {
    char buffer[32];
    EXPECT_EQ(AnsiForAttribute(c.attribute, buffer), c.expected) << c.attribute;
  }
}

}  // namespace
}  // namespace lirrin
