#include <windows.h>

#include <shellapi.h>

#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "debug_output_listener.h"
#include "os/osplatform.h"
#include "os/win32/osprocess.h"
#include "os/win32/osregistry.h"
#include "os/win32/platformimpl.h"
#include "test_files.h"

namespace {

using Os::Process;

std::wstring WideContent(const std::string& bytes) {
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

TEST(Process, CommandLineIsExecutableBlankArgumentsEvenWhenEmpty) {
  TempFile echo(L"ixa_echo.txt");
  ScopedEnvironment mode("IXA_CHILD_MODE", "echo-command-line");
  ScopedEnvironment file("IXA_ECHO_FILE", echo.NarrowPath().c_str());
  ScopedEnvironment code("IXA_EXIT_CODE", "42");
  std::wstring exe = L"\"" + OwnExecutablePath() + L"\"";
  {
    Process child(exe, L"", nullptr, false, false, true, Os::Normal);
    ASSERT_TRUE(child.IsStarted());
    EXPECT_NE(child.GetId(), 0u);
    uint32_t exitCode = 0;
    ASSERT_TRUE(child.Wait(&exitCode, Process::kInfinite));
    EXPECT_EQ(exitCode, 42u);
    EXPECT_FALSE(child.IsStarted());
    EXPECT_EQ(child.GetId(), 0u);
  }
  EXPECT_EQ(WideContent(echo.Read()), exe + L" ");

  Process quoted(exe, Process::QuoteArgument(L"a \"b\""), nullptr, false, false, true, Os::Low);
  uint32_t exitCode = 0;
  ASSERT_TRUE(quoted.Wait(&exitCode, Process::kInfinite));
  EXPECT_EQ(WideContent(echo.Read()), exe + L" \"a \\\"b\\\"\"");
}

TEST(Process, StillRunningAfterTheTimeOutThenGone) {
  ScopedEnvironment mode("IXA_CHILD_MODE", "sleep");
  ScopedEnvironment sleep("IXA_SLEEP_MS", "1500");
  Process child(L"\"" + OwnExecutablePath() + L"\"", L"", nullptr, false, false, true, Os::Default);
  ASSERT_TRUE(child.IsStarted());
  uint32_t pid = child.GetId();
  uint32_t exitCode = 1234;
  EXPECT_FALSE(Process::GetExitCode(pid, &exitCode, 50));  // STILL_ACTIVE
  EXPECT_FALSE(child.Wait(&exitCode, 10));
  EXPECT_EQ(exitCode, 1234u);
  EXPECT_TRUE(child.IsStarted());
  ASSERT_TRUE(child.Wait(&exitCode, Process::kInfinite));
  EXPECT_EQ(exitCode, 7u);
  EXPECT_TRUE(Process::GetExitCode(pid, &exitCode, 0));
}

TEST(Process, OneThatNoLongerExistsEndedWithZero) {
  uint32_t exitCode = 1234;
  EXPECT_TRUE(Process::GetExitCode(0x7FFFFFF0u, &exitCode, 0));
  EXPECT_EQ(exitCode, 0u);
}

TEST(Process, PidZeroIsNotAProcess) {
  uint32_t exitCode = 99;
  EXPECT_FALSE(Process::GetExitCode(0, &exitCode, 0));
  EXPECT_EQ(exitCode, 99u);
  EXPECT_EQ(Process::GetProcessName(0), L"");
}

TEST(Process, AProgramThatCannotStartIsLoggedNotThrown) {
  DebugOutputListener listener;
  Process missing(L"no-such-program-here", L"x", nullptr, false, false, false, Os::Normal);
  EXPECT_FALSE(missing.IsStarted());
  EXPECT_EQ(missing.GetId(), 0u);
  uint32_t exitCode = 5;
  EXPECT_FALSE(missing.Wait(&exitCode, 0));
  missing.Detach();
  std::vector<std::string> lines = listener.WaitForTexts(GetCurrentProcessId(), 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" osprocess:227] Failed to start process 'no-such-program-here', error code 2\n"),
            std::string::npos)
      << lines[0];
}

TEST(Process, NamesAndQuoting) {
  EXPECT_EQ(Process::GetCurrentProcessName(), L"diagnostics_tests.exe");
  EXPECT_EQ(Process::QuoteArgument(L""), L"\"\"");
  EXPECT_EQ(Process::QuoteArgument(L"plain"), L"\"plain\"");
  EXPECT_EQ(Process::QuoteArgument(L"a\"b"), L"\"a\\\"b\"");
  EXPECT_EQ(Process::QuoteArgument(L"\"\"\\"), L"\"\\\"\\\"\\\\\"");
  // Windows' own splitting gives back each text whole, and nothing after it.
  for (const wchar_t* text : {L"C:\\dir\\", L"a\\\"b", L"\\\\server\\share\\\"", L"\"quoted\" --option", L"two\\\\",
                              L"x\" -y=\"", L"", L"a\\b c"}) {
    int count = 0;
    wchar_t** split = CommandLineToArgvW((L"p " + Process::QuoteArgument(text) + L" -next").c_str(), &count);
    EXPECT_TRUE(count == 3 && split[1] == std::wstring(text) && split[2] == std::wstring(L"-next")) << text;
    LocalFree(split);
  }
}

class RegistryTest : public testing::Test {
 protected:
  static constexpr const wchar_t* kKey = L"Software\\IxaLoaderDiagnosticsTest";
  void SetUp() override {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::wstring longText(600, L'x');
    longText += L"end";
    RegSetValueExW(key, L"Long", 0, REG_SZ, reinterpret_cast<const BYTE*>(longText.c_str()),
                   static_cast<DWORD>((longText.size() + 1) * sizeof(wchar_t)));
    DWORD number = 77;
    RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }
};

TEST_F(RegistryTest, ReadsStringsLongerThanTheFirstBuffer) {
  std::wstring text;
  ASSERT_TRUE(Os::Registry::ReadString(HKEY_CURRENT_USER, kKey, L"Long", &text));
  EXPECT_EQ(text.size(), 603u);
  EXPECT_EQ(text.substr(600), L"end");
  uint32_t number = 0;
  EXPECT_TRUE(Os::Registry::ReadDword(HKEY_CURRENT_USER, kKey, L"Number", &number));
  EXPECT_EQ(number, 77u);
}

TEST_F(RegistryTest, MissingKeysAndValues) {
  std::wstring text = L"kept";
  EXPECT_FALSE(Os::Registry::ReadString(HKEY_CURRENT_USER, L"Software\\NoSuchIxaKey", L"v", &text));
  EXPECT_EQ(text, L"kept");
  EXPECT_FALSE(Os::Registry::ReadString(HKEY_CURRENT_USER, kKey, L"Absent", &text));
  EXPECT_EQ(text, L"");
  uint32_t number = 5;
  EXPECT_FALSE(Os::Registry::ReadDword(HKEY_CURRENT_USER, kKey, L"Absent", &number));
  EXPECT_EQ(number, 5u);
  EXPECT_FALSE(Os::Registry::ReadDword(nullptr, kKey, L"Number", &number));
  EXPECT_FALSE(Os::Registry::ReadDword(HKEY_CURRENT_USER, L"", L"Number", &number));
  EXPECT_TRUE(Os::Registry::KeyExists(HKEY_CURRENT_USER, kKey));
}

TEST_F(RegistryTest, KeyPathsAreLimitedTo254Characters) {
  std::wstring path254 = L"Software\\" + std::wstring(254 - 9, L'k');
  ASSERT_EQ(path254.size(), 254u);
  EXPECT_FALSE(Os::Registry::KeyExists(HKEY_CURRENT_USER, path254));
  std::wstring path255 = path254 + L"k";
  EXPECT_THROW(Os::Registry::KeyExists(HKEY_CURRENT_USER, path255), Os::RegKeyPathSizeException);
  std::wstring text;
  EXPECT_THROW(Os::Registry::ReadString(HKEY_CURRENT_USER, path255, L"v", &text), Os::RegistryException);
}

TEST(Platform, VersionTableAndMemoryText) {
  EXPECT_EQ(Os::OperatingSystemName(true, 4, 0), L"Windows NT");
  EXPECT_EQ(Os::OperatingSystemName(true, 4, 90), L"Windows Me");
  EXPECT_EQ(Os::OperatingSystemName(true, 5, 2), L"Windows Server 2003");
  EXPECT_EQ(Os::OperatingSystemName(true, 6, 1), L"Windows 7");
  EXPECT_EQ(Os::OperatingSystemName(true, 6, 2), L"Windows 6.2");
  EXPECT_EQ(Os::OperatingSystemName(true, 10, 0), L"Windows 10.0");
  EXPECT_EQ(Os::OperatingSystemName(false, 6, 1), L"Unknown");
  EXPECT_EQ(Os::MemoryText(4294967296ull), L"4096 MB");
  EXPECT_EQ(Os::MemoryText((1ull << 20) - 1), L"0 MB");
  EXPECT_EQ(Os::MemoryText(3ull << 40), L"3145728 MB");
}

TEST(Platform, RecordIsBuiltOnce) {
  Os::Platform first;
  Os::Platform second;
  EXPECT_EQ(&first.Record(), &second.Record());
  EXPECT_EQ(first.GetProductType(), 6);
  const Os::PlatformRecord& record = first.Record();
  EXPECT_EQ(record.operatingSystem.rfind(L"Windows", 0), 0u)
      << std::string(record.operatingSystem.begin(), record.operatingSystem.end());
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof(memory);
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  EXPECT_GT(record.physicalMemory, 0u);
  EXPECT_EQ(record.physicalMemory, memory.ullTotalPhys);
  EXPECT_EQ(record.memoryText, std::to_wstring(memory.ullTotalPhys >> 20) + L" MB");
  if (!record.processor.empty()) {
    EXPECT_NE(record.processor.front(), L' ');
    EXPECT_NE(record.processor.back(), L' ');
  }
  EXPECT_FALSE(record.compactMode);
}

}  // namespace
