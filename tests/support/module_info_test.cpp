#include "support/module_info.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace lirrin {
namespace {

TEST(ModuleInfo, NameForms) {
  struct Case {
    const wchar_t* path;
    const wchar_t* fileName;
    const wchar_t* stem;  // the logon task name: up to the last dot
    const wchar_t* base;  // the Run value name: up to the first dot
  };
  const Case cases[] = {
      {L"C:\\Program Files\\Amp\\Amp.exe", L"Amp.exe", L"Amp", L"Amp"},
      {L"C:\\Tools\\Amp.new.exe", L"Amp.new.exe", L"Amp.new", L"Amp"},
      {L"C:\\Tools\\Amp", L"Amp", L"Amp", L""},
      {L"Amp.exe", L"Amp.exe", L"Amp", L"Amp"},
      {L"C:\\My.Dir\\Tool", L"Tool", L"Tool", L""},
      {L"C:\\Tools\\.hidden", L".hidden", L"", L""},
  };
  for (const Case& c : cases) {
    const std::wstring fileName = FileNameOfPath(c.path);
    EXPECT_EQ(fileName, c.fileName);
    EXPECT_EQ(StemOfFileName(fileName), c.stem) << fileName;
    EXPECT_EQ(BaseOfFileName(fileName), c.base) << fileName;
  }
}

TEST(ModuleInfo, VersionTextLeavesOutAZeroRevision) {
  struct Case {
    uint32_t high, low;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0x00010000, 0x00050000, L"1.0.5"},
      {0x00020001, 0x00000003, L"2.1.0.3"},
      {0x00010000, 0x00000000, L"1.0.0"},
      {0xFFFFFFFF, 0xFFFFFFFF, L"65535.65535.65535.65535"},
  };
  for (const Case& c : cases) EXPECT_EQ(VersionText(c.high, c.low), c.text);
}

TEST(ModuleInfo, FileWithoutVersionResource) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "lirrin-no-version.txt";
  std::FILE* out = std::fopen(file.string().c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("no version here", out);
  std::fclose(out);
  uint32_t high = 7, low = 7;
  EXPECT_FALSE(ReadFileVersion(file.wstring(), high, low));
  EXPECT_EQ(FileVersionText(file.wstring()), L"");
  std::filesystem::remove(file);
}

TEST(ModuleInfo, RunningProgram) {
  const std::wstring path = ModulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(path)));
#ifdef _WIN32
  EXPECT_EQ(ModuleFileName(), L"lirrin_support_tests.exe");
  EXPECT_EQ(ModuleStemName(), L"lirrin_support_tests");
  EXPECT_EQ(ModuleBaseName(), L"lirrin_support_tests");
  // The version resource carries the project's version from CMake.
  const std::string expected = LIRRIN_PROJECT_VERSION;
  EXPECT_EQ(ModuleVersion(), std::wstring(expected.begin(), expected.end()));
#endif
}

}  // namespace
}  // namespace lirrin
