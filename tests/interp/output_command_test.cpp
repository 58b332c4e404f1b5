// Saving a dump to a file, and LOGFILE.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "interp_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace lirrin {
namespace {

// Whether another opener may take the file as well: on Windows any opener
// willing to share everything; on POSIX one asking for the exclusive lock.
bool OthersMayOpen(const std::string& path) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
#else
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  const bool locked = flock(file, LOCK_EX | LOCK_NB) == 0;
  close(file);
  return locked;
#endif
}

using testing::InterpreterTest;

// Script file names are upper case after normalisation, so the tests work
// in an upper-case folder below the current one, one per test so that test
// processes running side by side keep apart.
class OutputCommandTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    Folder = "LIRRIN_OUT_";
    for (const char* c = ::testing::UnitTest::GetInstance()->current_test_info()->name(); *c != 0; ++c) {
      Folder += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    }
    std::filesystem::remove_all(Folder);
    std::filesystem::create_directory(Folder);
  }
  void TearDown() override {
    InterpreterTest::TearDown();  // closes a log file first
    std::filesystem::remove_all(Folder);
  }

  static std::string Contents(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  static std::vector<std::string> TextLines(const std::string& name) {
    std::ifstream file(name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

  std::string Folder;
};

TEST_F(OutputCommandTest, DumpSavesAllOfOutputToItsFile) {
  const std::string name = Folder + "/DUMP.TXT";
  {
    std::ofstream old(name);
    old << "old contents that are longer than the dump will be, to see that the file is replaced\n";
  }
  ASSERT_TRUE(Run("Rdmsr(0x1B); Dmem(0x1000,0x20,\"" + Folder + "/dump.txt\")"));
  EXPECT_EQ(Message(), "Dump Memory: Address=0x1000, Size=0x20, File=" + name);
  const auto lines = Output();
  ASSERT_EQ(lines.size(), 2u + 3u);
  EXPECT_EQ(TextLines(name), lines);
}

TEST_F(OutputCommandTest, DumpFileNameMayFollowTheAddress) {
  const std::string name = Folder + "/D.TXT";
  ASSERT_TRUE(Run("Dmem(0x1000," + name + ")"));
  EXPECT_EQ(Message(), "Dump Memory: Address=0x1000, Size=0x100, File=" + name);
  EXPECT_EQ(TextLines(name).size(), 17u);
}

TEST_F(OutputCommandTest, UnwritableDumpFileIsReportedAndTheRunGoesOn) {
  const std::string name = Folder + "/NO/SUCH/DIR.TXT";
  ASSERT_TRUE(Run("Dmem(0x1000,0x10," + name + "); Local1=1"));
  EXPECT_EQ(Local(1), 1u);
  ASSERT_TRUE(Run("Dmem(0x1000,0x10," + name + ")"));
  EXPECT_EQ(Message(), "Dump Memory: Address=0x1000, Size=0x10, File=" + name + " - Write file error");
  EXPECT_EQ(Output().size(), 2u);
}

TEST_F(OutputCommandTest, FileNamesBeyondAsciiKeepTheirCharacters) {
  // Upper-casing is ASCII only, and the name reaches the file system as the
  // same characters on every platform.
  const std::string name = Folder + "/\xC3\xA9.TXT";
  ASSERT_TRUE(Interp->RunScript(FromUtf8("Dmem(0x1000,0x10," + name + ")"), Result));
  EXPECT_EQ(Message(), "Dump Memory: Address=0x1000, Size=0x10, File=" + name);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(FromUtf8(name))));
}

TEST_F(OutputCommandTest, LogFileIsCreatedEmptiedAndCancelled) {
  ASSERT_TRUE(Run("LOGFILE"));
  EXPECT_EQ(Message(), "Logfile is not set.");

  const std::string first = Folder + "/FIRST.LOG";
  const std::string second = Folder + "/SECOND.LOG";
  {
    std::ofstream old(first);
    old << "previous run";
  }
  ASSERT_TRUE(Run("Logfile(" + first + ")"));
  EXPECT_EQ(Message(), "Logfile = " + first);
  EXPECT_TRUE(std::filesystem::exists(first));
  EXPECT_EQ(Contents(first), "");

  // Another LOGFILE replaces the open one; one cancel then closes it and a
  // second finds nothing set.
  ASSERT_TRUE(Run("Logfile " + second));
  EXPECT_EQ(Message(), "Logfile = " + second);
  EXPECT_TRUE(std::filesystem::exists(second));
  ASSERT_TRUE(Run("logfile"));
  EXPECT_EQ(Message(), "Logfile is canceled.");
  ASSERT_TRUE(Run("LOGFILE"));
  EXPECT_EQ(Message(), "Logfile is not set.");
}

// The log file is shared with nobody while it is set, and free again once
// LOGFILE cancels it or another LOGFILE replaces it.
TEST_F(OutputCommandTest, LogFileKeepsOtherOpenersOut) {
  const std::string first = Folder + "/LOCKED.LOG";
  const std::string second = Folder + "/NEXT.LOG";
  ASSERT_TRUE(Run("Logfile(" + first + ")"));
  EXPECT_FALSE(OthersMayOpen(first));
  ASSERT_TRUE(Run("Logfile(" + second + ")"));
  EXPECT_TRUE(OthersMayOpen(first));
  EXPECT_FALSE(OthersMayOpen(second));
  ASSERT_TRUE(Run("LOGFILE"));
  EXPECT_TRUE(OthersMayOpen(second));
}

TEST_F(OutputCommandTest, LogFileThatCannotBeCreatedStaysUnset) {
  const std::string name = Folder + "/NO/SUCH.LOG";
  ASSERT_TRUE(Run("Logfile(" + name + ")"));
  EXPECT_EQ(Message(), "Logfile = " + name);
  ASSERT_TRUE(Run("LOGFILE"));
  EXPECT_EQ(Message(), "Logfile is not set.");

}

// A dump in an endless loop must not grow Output, or rewrite its file,
// without bound: every row it adds and every line it saves costs a step.
TEST_F(OutputCommandTest, DumpsCountAgainstTheStepLimit) {
  Interp->SetStepLimit(20);
  EXPECT_TRUE(Run("Dmem(0x1000,0x100)"));  // 1 statement and 16 rows
  EXPECT_FALSE(Run("Dmem(0x1000,0x200)"));  // 1 + 32 rows
  EXPECT_EQ(Message(), "Step limit of 20 reached!");
  EXPECT_FALSE(Run("Dmem(0x1000,0x100,\"" + Folder + "/BIG.TXT\")"));  // and 18 lines saved
  EXPECT_EQ(Message(), "Step limit of 20 reached!");
  EXPECT_FALSE(std::filesystem::exists(Folder + "/BIG.TXT"));

  Interp->SetStepLimit(1000);
  EXPECT_FALSE(Run("Wait{1,0,Dmem(0x1000,0x100,\"" + Folder + "/LOOP.TXT\")}"));
  EXPECT_EQ(Message(), "Step limit of 1000 reached!");
  EXPECT_LT(Output().size(), 1000u);
}

}  // namespace
}  // namespace lirrin
