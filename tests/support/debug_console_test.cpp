#include "support/debug_console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

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
