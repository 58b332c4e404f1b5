// Statement forms, locals, operands, arithmetic and the result convention.
#include "interp_fixture.h"

namespace lirrin {
namespace {

using testing::InterpreterTest;

constexpr u32 kUntouched = 0xDEADBEEF;
const char* const kLocalIndexMessage =
    "Support 16 local variables only, i.e. Local# where # is in hex from 0 to 0F";

struct StatementCase {
  const char* Script;
  bool Ok;
  u32 Result;  // kUntouched: the run must leave the result variable alone
  const char* Message;
};

// Each case runs on a fresh interpreter with a result variable that holds
// kUntouched.
class StatementTest : public InterpreterTest {
 protected:
  void Check(std::initializer_list<StatementCase> cases) {
    for (const StatementCase& c : cases) {
      NewInterpreter();
      Result = kUntouched;
      EXPECT_EQ(Run(c.Script), c.Ok) << c.Script;
      EXPECT_EQ(Result, c.Result) << c.Script;
      EXPECT_EQ(Message(), c.Message) << c.Script;
    }
  }
};

TEST_F(StatementTest, VariableStatements) {
  Check({
      {"local2=5", true, kUntouched, "Local2 = 0x00000005 (5)"},
      {"LOCAL2=5; Local2=", true, 5, "Local02 = 0x00000005 (5)"},
      {"Local1=0x10; Local1=", true, 16, "Local01 = 0x00000010 (16)"},
      {"Local1=10h; Local1=", true, 16, "Local01 = 0x00000010 (16)"},
      {"Local1=-1", true, kUntouched, "Local1 = 0xFFFFFFFF (-1)"},
      {"LocalA=7; LocalB=LocalA; LocalB=", true, 7, "Local0B = 0x00000007 (7)"},
      {"Local0A=3", true, kUntouched, "LocalA = 0x00000003 (3)"},
      {"Local3", true, kUntouched, "Local3 = 0x00000000 (0)"},  // copies the local onto itself
      {"Local1=xyz", false, kUntouched, "Command error!"},
      {"LocalG=1", false, kUntouched, kLocalIndexMessage},
      {"Local10=1", false, kUntouched, kLocalIndexMessage},
      {"Local=1", false, kUntouched, kLocalIndexMessage},
      {"Local 1=5", false, kUntouched, kLocalIndexMessage},
      {"Local1 = 5", false, kUntouched, kLocalIndexMessage},
      {"Local1=LocalG", false, kUntouched, "Command error!"},
      {"Local1==5", false, kUntouched, "Command error!"},
      {"Local1=Rdtsc", false, kUntouched, "Command error!"},  // RDTSC is a statement of its own
      {"LocalF=BkIf0(Add(1,1))", false, kUntouched, "Unknown command!"},
  });
}

TEST_F(StatementTest, ArithmeticAndLogic) {
  Check({
      {"Add(2,3)", true, 5, "Add (0x2, 0x3) = 0x00000005"},
      {"Add(0xFFFFFFFF,2)", true, 1, "Add (0xFFFFFFFF, 0x2) = 0x00000001"},
      {"Sub(0,1)", true, 0xFFFFFFFF, "Sub (0x0, 0x1) = 0xFFFFFFFF"},
      {"Mul(0x10000,0x10001)", true, 0x10000, "Mul (0x10000, 0x10001) = 0x00010000"},
      {"Div(0xFFFFFFFF,2)", true, 0x7FFFFFFF, "Div (0xFFFFFFFF, 0x2) = 0x7FFFFFFF"},
      {"Mod(-1,10)", true, 5, "Mod (0xFFFFFFFF, 0xA) = 0x00000005"},
      {"And(Local1,2,3)", true, 0, "And (0x0, 0x2) = 0x00000000"},  // the 3 is ignored
      {"Or(0x12,0x21)", true, 0x33, "Or (0x00000012, 0x00000021) = 0x00000033"},
      {"Xor(0xFF,0x0F)", true, 0xF0, "Xor (0x000000FF, 0x0000000F) = 0x000000F0"},
      {"Not(5)", true, 0xFFFFFFFA, "Not (0x00000005) = 0xFFFFFFFA"},
      {"Shr(0x80000000,31)", true, 1, "Shr (0x80000000, 0x0000001F) = 0x00000001"},
      {"Shl(1,33)", true, 2, "Shl (0x00000001, 0x00000021) = 0x00000002"},
      {"Cmz(0)", true, 0xFFFFFFFF, "Complement Zero (0x0) = 0xFFFFFFFF"},
      {"Cmz(7)", true, 0, "Complement Zero (0x7) = 0x0"},
      {"AND LOCAL1 4", true, 0, "And (0x0, 0x4) = 0x00000000"},
      {"Div(7,0)", false, kUntouched, "Division by zero!"},
      {"Mod(7,0)", false, kUntouched, "Division by zero!"},
      {"And(Local1)", false, kUntouched, "parameter error!"},
      {"Not", false, kUntouched, "Command error!"},
      {"Add(1,x)", false, kUntouched, "Operand format error."},
      {"Add(4294967295,1)", false, kUntouched, "Operand format error."},
      {"Add(1,LocalZ)", false, kUntouched, kLocalIndexMessage},
  });
}

TEST_F(StatementTest, CommandFormsAndTheirErrors) {
  Check({
      {"Foo(1)", false, kUntouched, "Unknown command!"},
      {"Foo", false, kUntouched, "Command error!"},
      {"Add(1,2);;Add(3,4)", false, 3, "Command error!"},  // the empty statement between two ";"
      {"Wait {2,5,Local1=1}", false, kUntouched, "Unknown command!"},
      {"Add(2,3); Result", true, 5, "Last result = 0x00000005"},
      {"Local1=Add(2,3); Result", true, 0, "Last result = 0x00000000"},
      {"Add(2,3); RWEXIT", true, 5, "Add (0x2, 0x3) = 0x00000005"},
      {"rwexit", true, kUntouched, ""},
  });
}

TEST_F(StatementTest, ValueGoesToTheTargetSlotAndTheResult) {
  ASSERT_TRUE(Run("Local0=4; Add(Local0,1)"));
  EXPECT_EQ(Interp->LastResult(), 5u);
  EXPECT_EQ(Result, 5u);

  ASSERT_TRUE(Run("Local0=9; Local1=Add(Local0,1)"));
  EXPECT_EQ(Local(1), 10u);
  EXPECT_EQ(Result, 10u);
  EXPECT_EQ(Interp->LastResult(), 5u);  // untouched by a command with a target
}

TEST_F(StatementTest, BreakPrefixesStopTheirStatementList) {
  const struct {
    const char* Script;
    u32 Result;
    bool Broke;
  } cases[] = {
      {"Local0=5; BKIF0 SUB LOCAL0 5; Local1=1", 0, true},
      {"Local0=6; BKIF0 SUB LOCAL0 5; Local1=1", 1, false},
      {"Local0=6; bkif1(Sub(Local0,5)); Local1=1", 1, true},
      {"Local0=5; BkIf1(Sub(Local0,5)); Local1=1", 0, false},
      // A prefix on a command without a value tests the result left before it.
      {"Add(0,1); BkIf1(o(0x80,1)); Local1=1", 1, true},
      {"Add(0,0); BkIf1(o(0x80,1)); Local1=1", 0, false},
  };
  for (const auto& c : cases) {
    UseBoard(sim::DesktopIch10Board());
    EXPECT_TRUE(Run(c.Script)) << c.Script;
    EXPECT_EQ(Result, c.Result) << c.Script;
    EXPECT_EQ(Local(1), c.Broke ? 0u : 1u) << c.Script;
    EXPECT_EQ(Message(), c.Broke ? "Command break" : "Local1 = 0x00000001 (1)") << c.Script;
  }
}

TEST_F(StatementTest, DetectionScriptsYieldZeroWhenTheirDeviceExists) {
  // The SMBus controller of the board is 8086:3A30 at 0:1F.3.
  const struct {
    const char* Script;
    u32 Result;
  } cases[] = {
      {"LocalF=Fpci(0x3A308086); Local0=Xor(LocalF,0xFFFF); Cmz(Local0)", 0},
      {"LocalF=Fpci(0x156310b9); Local0=Xor(LocalF,0xFFFF); Cmz(Local0)", 0xFFFFFFFF},
      {"Local0=Rpci32(0,0x1f,3,0); Local0=And(Local0,0xff00ffff); bkif0(Sub(Local0,0x3A008086)); "
       "Sub(Local0,0x26008086)",
       0},
      {"Local0=Rpci32(0,0x1f,3,0); Local0=And(Local0,0xff00ffff); bkif0(Sub(Local0,0x24008086)); "
       "Sub(Local0,0x3A008086)",
       0},
      {"Local0=Rpci32(0,0x1f,3,0); Local0=And(Local0,0xff00ffff); bkif0(Sub(Local0,0x24008086)); "
       "Sub(Local0,0x26008086)",
       0x14000000},
      // The device search of the language reference: the ID when found, else
      // the break's 0xFFFFFFFF.
      {"LocalF=FpciClass(0x0C0500); Local0=Xor(LocalF,0xFFFF); BkIf1(Cmz(Local0)); eRpci32(LocalF,0)", 0x3A308086},
      {"LocalF=FpciClass(0x0C0600); Local0=Xor(LocalF,0xFFFF); BkIf1(Cmz(Local0)); eRpci32(LocalF,0)", 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    Result = kUntouched;
    EXPECT_TRUE(Run(c.Script)) << c.Script;
    EXPECT_EQ(Result, c.Result) << c.Script;
  }
}

TEST_F(StatementTest, LocalsPersistAcrossRunsOfOneObjectOnly) {
  ASSERT_TRUE(Run("Local0=0x1234"));
  ASSERT_TRUE(Run("Local1=Add(Local0,1)"));
  EXPECT_EQ(Local(1), 0x1235u);
  ASSERT_TRUE(Interp->RunScript(u"Local1="));
  EXPECT_EQ(Interp->ScriptResult(), 0x1235u);

  TInterpreter fresh;
  for (unsigned i = 0; i < TInterpreter::kLocalCount; ++i) EXPECT_EQ(fresh.Local(i), 0u);
  EXPECT_EQ(fresh.LastResult(), 0u);
  EXPECT_EQ(fresh.ScriptResult(), 0u);
}

TEST_F(StatementTest, ScriptsOfNothingButSeparatorsRunNothing) {
  ASSERT_TRUE(Run("Cpuid(0)"));
  ASSERT_FALSE(Output().empty());
  Result = kUntouched;
  for (const char* script : {"", "   ", " ; ; ", ";;;", "\r\n"}) {
    EXPECT_TRUE(Run(script)) << '"' << script << '"';
    EXPECT_EQ(Result, kUntouched);
    EXPECT_EQ(Message(), "CPUID 0x0");
    EXPECT_TRUE(Output().empty());
  }
}

// Control characters inside a script are characters of its statements, not
// separators: a line break before a statement makes it an unknown command.
// (lirrin-cli turns a script file's line breaks into blanks first.)
TEST_F(StatementTest, ControlCharactersInsideAScriptAreNoSeparators) {
  EXPECT_FALSE(Run("Local1=1;\r\n\tLocal2=Add(Local1,2);\n"));
  EXPECT_EQ(Message(), "Unknown command!");
  EXPECT_EQ(Local(1), 1u);
  EXPECT_EQ(Local(2), 0u);
  EXPECT_TRUE(Run("Local1=1; Local2=Add(Local1,2)\r\n"));
  EXPECT_EQ(Local(2), 3u);
}

TEST_F(StatementTest, StepLimitStopsEndlessRunsAndIsOffByDefault) {
  TInterpreter unlimited;
  ASSERT_TRUE(unlimited.RunScript(u"Loop{100000,Local1=Add(Local1,1)}", Result));
  EXPECT_EQ(unlimited.Local(1), 100000u);

  Interp->SetStepLimit(10);
  // Each pass is one step and its statement another: five passes fit.
  EXPECT_FALSE(Run("Loop{0,Local1=Add(Local1,1)}"));
  EXPECT_EQ(Message(), "Step limit of 10 reached!");
  EXPECT_EQ(Local(1), 5u);

  EXPECT_FALSE(Run("Wait{1,0,}"));  // a pass without statements still counts
  EXPECT_EQ(Message(), "Step limit of 10 reached!");

  // The limit is per run.
  EXPECT_TRUE(Run("Local1=0; Loop{4,Local1=Add(Local1,1)}"));
  EXPECT_TRUE(Run("Local1=0; Loop{4,Local1=Add(Local1,1)}"));
  EXPECT_EQ(Local(1), 4u);
}

// Searches cost what they may do, so the limit bounds a run's time: a
// device search one step per bus, a memory search one per 256 bytes.
TEST_F(StatementTest, SearchesCostTheirWork) {
  Interp->SetStepLimit(300);
  EXPECT_TRUE(Run("Fpci(0x12345678)"));  // 1 + 256 steps
  EXPECT_FALSE(Run("Fpci(0x12345678); Fpci(0x12345678)"));
  EXPECT_EQ(Message(), "Step limit of 300 reached!");

  EXPECT_TRUE(Run("Fmem(0x100000,0x8000,1,0,\"NONE\")"));  // 1 + 129 steps
  EXPECT_FALSE(Run("Fmem(0x100000,0xFFFFFFFF,1,0,\"NONE\")"));  // refused before it starts
  EXPECT_EQ(Message(), "Step limit of 300 reached!");
}

}  // namespace
}  // namespace lirrin
