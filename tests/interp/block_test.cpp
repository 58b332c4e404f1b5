// CMDS, WAIT and LOOP blocks, the block loop between them, and DELAY.
#include "interp_fixture.h"

namespace lirrin {
namespace {

using sim::TRequestKind;
using testing::InterpreterTest;
using testing::ScriptedPorts;

using BlockTest = InterpreterTest;

TEST_F(BlockTest, ControlFlow) {
  const struct {
    const char* Script;
    u32 Local0, Local1, Local2;
  } cases[] = {
      {"Local0=0; Loop{3,Local0=Add(Local0,1)}", 3, 0, 0},
      {"Loop{0,Local0=Add(Local0,1); BkIf0(Sub(Local0,5))}; Local1=7", 5, 7, 0},
      {"Local0=1; CMDS{BkIf0(Sub(Local0,1)); Local0=7}; Local1=Local0", 1, 1, 0},
      {"Local0=1; CMDS{BkIf0(Sub(Local0,2)); Local0=7}; Local1=Local0", 7, 7, 0},
      // Plain statements before the first block end at the nearest keyword.
      {"Local0=1; Loop{2,Local1=Add(Local1,1)}; Cmds{Local2=2}", 1, 2, 2},
      {"Cmds{Local0=1}Loop{2,Local1=Add(Local1,1)}Wait{0,1,Local2=3}", 1, 2, 3},
      // A break in a plain run skips the rest of that run only.
      {"Local0=1; BkIf1(Add(0,1)); Local0=2; Loop{2,Local1=Add(Local1,1)}", 1, 2, 0},
      // Stops at the expected value; the count bounds the passes otherwise.
      {"Wait{3,10,Local0=Add(Local0,1)}", 3, 0, 0},
      {"Wait{3,2,Local0=Add(Local0,1)}; Local1=Local0", 2, 2, 0},
      {"Local1=2; Wait{Local1,LocalF,Local0=Add(Local0,1)}", 2, 2, 0},
  };
  for (const auto& c : cases) {
    NewInterpreter();
    EXPECT_TRUE(Run(c.Script)) << c.Script;
    EXPECT_EQ(Local(0), c.Local0) << c.Script;
    EXPECT_EQ(Local(1), c.Local1) << c.Script;
    EXPECT_EQ(Local(2), c.Local2) << c.Script;
  }
}

TEST_F(BlockTest, MalformedBlocksFailTheRun) {
  ASSERT_TRUE(Run("Add(1,1)"));
  const struct {
    const char* Script;
    const char* Message;
  } cases[] = {
      {"Wait{5}", "parameter error!"},
      {"Wait{5,10}", "Add (0x1, 0x1) = 0x00000002"},  // no message of its own
      {"Wait{5,0x10,Local1=1", "WAIT miss '}'"},
      {"CMDS{Local1=1", "CMDS miss '}'"},
      {"Loop{3,Local1=1", "LOOP miss '}'"},
      {"Loop{3}", "parameter error!"},
      {"Wait{x,5,Local1=1}", "Operand format error."},
      {"Loop{LocalZ,Local1=1}", "Support 16 local variables only, i.e. Local# where # is in hex from 0 to 0F"},
      // Blocks do not nest: the inner keyword is an unknown command word.
      {"Cmds{Loop{2,Local1=1}}", "Unknown command!"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Run(c.Script)) << c.Script;
    EXPECT_EQ(Message(), c.Message) << c.Script;
    ASSERT_TRUE(Run("Add(1,1)"));
  }
}

TEST_F(BlockTest, AFailingStatementEndsTheRunAtOnce) {
  EXPECT_FALSE(Run("Loop{5,Local0=Add(Local0,1); Foo(1)}; Local1=1"));
  EXPECT_EQ(Message(), "Unknown command!");
  EXPECT_EQ(Local(0), 1u);
  EXPECT_EQ(Local(1), 0u);
}

TEST_F(BlockTest, BreaksAndExhaustedWaitsAreNoFailures) {
  ASSERT_TRUE(Run("Local0=1; CMDS{BkIf0(Sub(Local0,1)); Local0=7}"));
  EXPECT_EQ(Message(), "Command break");

  ASSERT_TRUE(Run("LocalA=0x10; LocalF=0xFB; BkIf1(And(LocalA,0xFFF0)); eWpci16(LocalF,0x80,0xc03)"));
  EXPECT_EQ(Message(), "Command break");
  EXPECT_EQ(Requests(TRequestKind::PciConfig), 0u);

  // A timeout leaves the distinctive value of the body's last statement.
  Result = 0;
  ASSERT_TRUE(Run("Local0=0; Wait{0,3,Local0=Add(Local0,1); Local2=4; Local2=}"));
  EXPECT_EQ(Result, 4u);
  EXPECT_EQ(Local(0), 3u);
  EXPECT_EQ(Message(), "Local02 = 0x00000004 (4)");
}

// After its body a CMDS block tests the break condition again, with the
// flags of the last statement that ran. The SMBus engine shares one result
// variable over the texts of a transaction, so that statement may be one of
// an earlier run whose condition holds once the result has changed.
TEST_F(BlockTest, CmdsTestsTheBreakConditionAfterItsBody) {
  Result = 0;
  ASSERT_TRUE(Run("BkIf1(And(0,1))"));
  EXPECT_NE(Message(), "Command break");
  Result = 5;
  ASSERT_TRUE(Run("CMDS{}"));
  EXPECT_EQ(Message(), "Command break");
  // Without a break prefix on the last statement nothing is reported.
  ASSERT_TRUE(Run("Local1=And(0,1); CMDS{}"));
  EXPECT_NE(Message(), "Command break");
}

TEST_F(BlockTest, DelaySleepsOnTheBoardClock) {
  ASSERT_TRUE(Run("Delay 40"));
  EXPECT_EQ(Message(), "Delay 40 ms");
  EXPECT_EQ(Board->Clock().Milliseconds(), 40u);
  ASSERT_TRUE(Run("Delay(10); Loop{3,Delay 5}"));
  EXPECT_EQ(Board->Clock().Milliseconds(), 65u);
  EXPECT_TRUE(Run("Delay(-1)"));
  EXPECT_EQ(Message(), "Delay 4294967295 ms");
  EXPECT_FALSE(Run("Delay"));
}

// The completion poll of an SMBus host controller: pause, then read the
// status port until bit 1 (done) is set, leaving at once on bit 2 (error).
class SMBusPollTest : public InterpreterTest {
 protected:
  static constexpr const char* kPoll =
      "Local0=0x400; Delay 10; Wait{2,0x8000,Local1=i(Local0); BkIf1(And(Local1,4)); And(Local1,2)}; Local5=9";

  void Poll(std::vector<u32> statuses) {
    Status = std::make_unique<ScriptedPorts>(std::move(statuses));
    Board->MapPorts(0x400, 0x10, Status.get());
    Board->ResetRequestCounts();
    Result = 0xDEADBEEF;
    Ok = Run(kPoll);
  }

  std::unique_ptr<ScriptedPorts> Status;
  bool Ok = false;
};

TEST_F(SMBusPollTest, DoneAtTheFirstRead) {
  Poll({0x02});
  EXPECT_TRUE(Ok);
  EXPECT_EQ(Status->ReadCount, 1u);
  EXPECT_EQ(Requests(TRequestKind::Port), 1u);
  EXPECT_EQ(Result, 2u);
  EXPECT_EQ(Local(5), 9u);  // the script goes on after the block
  EXPECT_EQ(Board->Clock().Milliseconds(), 10u);
}

TEST_F(SMBusPollTest, DoneAfterBusyPasses) {
  Poll({0x01, 0x01, 0x01, 0x42});
  EXPECT_TRUE(Ok);
  EXPECT_EQ(Status->ReadCount, 4u);
  EXPECT_EQ(Result, 2u);
}

TEST_F(SMBusPollTest, ErrorBitBreaksTheBlockButNotTheRun) {
  Poll({0x04});
  EXPECT_TRUE(Ok);
  EXPECT_EQ(Status->ReadCount, 1u);
  EXPECT_EQ(Result, 4u);
  EXPECT_EQ(Local(1), 4u);
  EXPECT_EQ(Local(5), 9u);
  ASSERT_TRUE(Run(std::string(kPoll).substr(0, std::string(kPoll).find("; Local5"))));
  EXPECT_EQ(Message(), "Command break");
}

TEST_F(SMBusPollTest, NeverDoneRunsOutQuietly) {
  Poll({0x01});
  EXPECT_TRUE(Ok);
  EXPECT_EQ(Status->ReadCount, 0x8000u);
  EXPECT_EQ(Requests(TRequestKind::Port), 0x8000u);
  EXPECT_EQ(Result, 0u);  // the last And(Local1,2)
  EXPECT_EQ(Local(5), 9u);

  Board->ResetRequestCounts();
  ASSERT_TRUE(Run("Local0=0x400; Wait{2,0x8000,Local1=i(Local0); BkIf1(And(Local1,4)); And(Local1,2)}"));
  EXPECT_EQ(Message(), "And (0x1, 0x2) = 0x00000000");
  EXPECT_EQ(Requests(TRequestKind::Port), 0x8000u);
}

}  // namespace
}  // namespace lirrin
