// The board context: what it connects while it lasts, and that nothing built
// over its board survives it.
#include "hw/board_context.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "hw/read_write.h"
#include "sim/board.h"
#include "sim/boards.h"
#include "support/debug_console.h"

namespace lirrin {
namespace {

constexpr u16 kPort = 0x80;  // any port: the board counts every request it receives

TEST(BoardContext, ConnectsTheBoardAndItsClockWhileItLasts) {
  auto board = std::make_shared<sim::TSimBoard>(sim::DesktopIch10Board());
  {
    const TBoardContext context({.Transport = board, .Clock = &board->Clock()});
    EXPECT_EQ(&TClock::Current(), &board->Clock());
    TReadWrite::Instance()->InByte(kPort);
    EXPECT_EQ(board->Requests(sim::TRequestKind::Port), 1u);
  }
  EXPECT_NE(&TClock::Current(), &board->Clock());
  // Outside any context the layer is the platform's own again, not the board.
  TReadWrite::Instance()->InByte(kPort);
  EXPECT_EQ(board->Requests(sim::TRequestKind::Port), 1u);
  TReadWrite::FreeInstance();
}

// The I/O layer built over one board is freed with its context, so the next
// board's context never hands out a layer that still talks to the old one.
TEST(BoardContext, TheNextBoardGetsAFreshLayer) {
  auto first = std::make_shared<sim::TSimBoard>(sim::DesktopIch10Board());
  auto second = std::make_shared<sim::TSimBoard>(sim::DesktopIch10Board());
  {
    const TBoardContext context({.Transport = first});
    TReadWrite::Instance()->InByte(kPort);
  }
  {
    const TBoardContext context({.Transport = second});
    TReadWrite::Instance()->InByte(kPort);
  }
  EXPECT_EQ(first->Requests(sim::TRequestKind::Port), 1u);
  EXPECT_EQ(second->Requests(sim::TRequestKind::Port), 1u);
  // The board's only other owner was the released layer's transport.
  EXPECT_EQ(first.use_count(), 1);
}

TEST(BoardContext, RecordsErrorBoxesAndLetsTheRecorderGo) {
  auto boxes = std::make_shared<std::vector<TText>>();
  {
    const TBoardContext context(
        {.Transport = std::make_shared<TUnavailableTransport>(),
         .MessageBoxes = [boxes](const TMessageBox& box) { boxes->push_back(box.Text); }});
    ShowErrorBox({u"first", u"caption", false});
    ShowErrorBox({u"second", u"caption", true});
  }
  EXPECT_EQ(*boxes, (std::vector<TText>{u"first", u"second"}));
  EXPECT_EQ(boxes.use_count(), 1);
}

#ifndef _WIN32  // opening the Windows console would open a window
TEST(BoardContext, SwitchesTheDebugConsoleForItsLifetime) {
  TDebugConsole* console = TDebugConsole::Instance(false);
  const bool before = console->Enabled();
  for (const bool debug : {true, false}) {
    SCOPED_TRACE(debug);
    {
      const TBoardContext context({.Transport = std::make_shared<TUnavailableTransport>(), .Debug = debug});
      EXPECT_EQ(console->Enabled(), debug);
    }
    EXPECT_EQ(console->Enabled(), before);
  }
}
#endif

}  // namespace
}  // namespace lirrin
