#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "debug_output_listener.h"
#include "kellib/text.h"
#include "os/osfilelogwriter.h"
#include "os/oslog.h"
#include "os/oslogcontexts.h"
#include "os/oslogmanager.h"
#include "os/osos.h"
#include "os/osthreadname.h"
#include "os/win32/osthread.h"
#include "tests/support/test_support.h"

namespace {

using Os::Log::Context;
using Os::Log::Mask;

std::string Prefix() { return "diagnostics_tests.exe " + kel::Narrow(Os::GetThreadName(GetCurrentThreadId())); }

// The part of a SysLog line after its clock stamp: "process thread file:line] text".
std::string AfterClock(const std::string& line) {
  static const std::regex stamp(R"(^\[\d+:\d\d:\d\d\.\d\d\d )");
  std::smatch match;
  if (!std::regex_search(line, match, stamp)) return line;
  return line.substr(match.length());
}

TEST(LogContext, MasksOfTheChainAllMatter) {
  Context root("MaskRoot", Mask{30});
  Context child("Child", &root, Mask{31});
  Context narrow("Narrow", &root, Mask{30});
  EXPECT_FALSE(child.IsEnabled(1));
  EXPECT_TRUE(child.IsEnabled(8));
  EXPECT_FALSE(narrow.IsEnabled(1));
  Context wide("MaskWide", true);
  Context off("Off", &wide, Mask{30});
  EXPECT_FALSE(off.IsEnabled(1));
  EXPECT_TRUE(off.IsEnabled(2));
  Context disabled("MaskDisabled", false);
  EXPECT_FALSE(disabled.IsEnabled(8));
  // Call sites write only when this says yes; the manager does not look at
  // the level again.
  Context quiet("Quiet", Mask{8});
  EXPECT_FALSE(quiet.IsEnabled(1));
  EXPECT_FALSE(quiet.IsEnabled(16));
  EXPECT_TRUE(quiet.IsEnabled(8));
  EXPECT_EQ(child.FullName(), "MaskRoot.Child");
  EXPECT_EQ(Os::Log::LogManagerContext().FullName(), "Os.Log.Manager");
  EXPECT_FALSE(Os::Log::LogManagerContext().IsEnabled(1));
  EXPECT_TRUE(Os::Log::LogManagerContext().IsEnabled(2));
}

TEST(LogContext, NamesAreRegisteredOnce) {
  Os::Log::Manager& manager = Os::Log::Manager::Instance();
  Context first("Twice", true);
  EXPECT_FALSE(manager.RegisterContext(&first));
  EXPECT_TRUE(manager.UnregisterContext("Twice"));
  EXPECT_FALSE(manager.UnregisterContext("Twice"));
  Context second("Twice", true);  // the name is free again
  EXPECT_TRUE(manager.UnregisterContext("Twice"));
}

TEST(SysLogWriter, WritesOneStampedLinePerRecord) {
  Context context("SysLine", true);
  DebugOutputListener listener;
  Os::Log::WriteWithStack(context, Os::Log::kError, "some\\dir\\sysline", "Test", 12, kel::text::Make("hello there"));
  Os::Log::WriteWithStack(context, Os::Log::kError, "noslash", "Test", 13, kel::text::Make("ends in a line feed\n"));
  std::vector<std::string> lines = listener.WaitForTexts(GetCurrentProcessId(), 2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(AfterClock(lines[0]), Prefix() + " sysline:12] hello there\n");
  EXPECT_EQ(AfterClock(lines[1]), Prefix() + " noslash:13] ends in a line feed\n");
}

TEST(LogManager, BaseNamesSharingTwentyCharactersShareFloodState) {
  Os::Log::Manager& manager = Os::Log::Manager::Instance();
  ASSERT_EQ(manager.FloodCount(), 150u);
  const unsigned line = 90001;
  int written = 0;
  // Alternating between two files of the same first 20 characters.
  for (int i = 0; i < 160; ++i) {
    const char* name = i % 2 ? "abcdefghijklmnopqrst_one" : "abcdefghijklmnopqrst_two";
    if (manager.UpdateState(name, line, nullptr, 0)) ++written;
  }
  EXPECT_EQ(written, 151);
  EXPECT_TRUE(manager.UpdateState("abcdefghijklmnopqrsX", line, nullptr, 0));
}

TEST(LogManager, RecentStacksAreBounded) {
  Context context("Stacks", true);
  for (unsigned line = 1; line <= 1100; ++line) {
    Os::Log::WriteWithStack(context, Os::Log::kError, "stacks", "Test", 100000 + line, kel::text::Make("x"));
  }
  EXPECT_EQ(Os::Log::Manager::Instance().RecentStackCount(), 1000u);
}

class ChildLog : public testing::Test {
 protected:
  std::vector<std::string> Run(const std::string& mode,
                               const std::vector<std::pair<std::string, std::string>>& env = {}) {
    ChildResult result;
    {
      DebugOutputListener listener;
      result = RunChild(mode, env);
      // The child has ended, but its last texts may still be on their way.
      lines_ = listener.WaitForTexts(result.pid, 0);
    }
    EXPECT_EQ(result.exitCode, 0u);
    return lines_;
  }
  std::vector<std::string> lines_;
};

// Drops the thread name (the child's id) so lines compare across runs.
std::string Shape(const std::string& line) {
  std::string rest = AfterClock(line);
  static const std::regex who(R"(^diagnostics_tests\.exe \d+ )");
  return std::regex_replace(rest, who, "");
}

std::vector<std::string> Shapes(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines) out.push_back(Shape(line));
  return out;
}

TEST_F(ChildLog, AFloodFromOneLineIsCutAfter151RecordsUntilAPause) {
  std::vector<std::string> lines = Shapes(Run("flood", {{"TORK_LOG_FLOODPERIOD", "1000"}}));
  std::vector<std::string> expected;
  for (int i = 0; i < 151; ++i) {
    expected.push_back("floodsite:42] flood record " + std::to_string(i) + "\n");
  }
  expected.push_back("os\\oslogmanager:484] Logging suppressed for instance at floodsite line 42\n");
  expected.push_back("os\\oslogmanager:467] Logging unsuppressed for instance at floodsite line 42\n");
  expected.push_back("floodsite:42] after pause\n");
  EXPECT_EQ(lines, expected);
}

TEST_F(ChildLog, FloodCountZeroKeepsOnlyTheFirstOfABurst) {
  std::vector<std::string> lines =
      Shapes(Run("flood-settings", {{"TORK_LOG_FLOODPERIOD", "1000"}, {"TORK_LOG_FLOODCOUNT", "0"}}));
  std::vector<std::string> expected = {
      "settings period=1000 count=0",
      "floodsite:7] first\n",
      // more than a period later: a new burst, whose next record is suppressed
      "floodsite:7] second after a pause\n",
      "os\\oslogmanager:484] Logging suppressed for instance at floodsite line 7\n",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(ChildLog, FloodPeriodIsParsedWithItsBase) {
  std::vector<std::string> lines =
      Shapes(Run("flood-settings", {{"TORK_LOG_FLOODPERIOD", "0x10"}, {"TORK_LOG_FLOODCOUNT", "010"}}));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "settings period=16 count=8");
  lines = Shapes(Run("flood-settings", {{"TORK_LOG_FLOODPERIOD", "soon"}, {"TORK_LOG_FLOODCOUNT", "99999999999"}}));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "settings period=0 count=4294967295");
  // Set but empty, and longer than any number needs: both still parsed.
  lines = Shapes(
      Run("flood-settings", {{"TORK_LOG_FLOODPERIOD", ""}, {"TORK_LOG_FLOODCOUNT", std::string(70, '0') + "12"}}));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "settings period=0 count=10");
}

TEST_F(ChildLog, AWriterThatThrowsIsReportedToTheOthers) {
  std::vector<std::string> lines = Shapes(Run("kel-throwing-writer"));
  std::vector<std::string> expected = {
      "recorder got: one",
      "floodsite:1] one\n",
      "recorder got: caught kel exception kel::runtime from writer Thrower",
      "oslogmanager:407] caught kel exception kel::runtime from writer Thrower\n",
      "recorder got: two",
      "floodsite:2] two\n",
      "recorder got: caught kel exception kel::runtime from writer Thrower",
      "oslogmanager:407] caught kel exception kel::runtime from writer Thrower\n",
  };
  EXPECT_EQ(lines, expected);
  lines = Shapes(Run("std-throwing-writer"));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[3], "oslogmanager:413] caught std exception boom from writer Thrower\n");
}

std::string FileText(const std::wstring& path) { return testing_support::FileBytes(kel::Narrow(path)); }

// Records reach the log file as they reach the debugger output; what the
// status window shows reaches the file alone.
TEST(FileLogWriter, TakesTheRecordsAndWhatOnlyTheFileIsToGet) {
  Context context("FileLine", true);
  const std::wstring path = Os::DefaultLogFolder() + L"\\IxaLoader.log";
  const std::string marker = "file line " + std::to_string(GetTickCount64());
  DebugOutputListener listener;
  Os::Log::WriteWithStack(context, Os::Log::kError, "some\\dir\\fileline", "Test", 21, kel::text::Make(marker.c_str()));
  ASSERT_TRUE(Os::Log::Manager::Instance().WriteToFileOnly(&context, Os::Log::kNotice, "fileonly", "Test", 22,
                                                           "only in the file", 16));
  std::vector<std::string> lines = listener.WaitForTexts(GetCurrentProcessId(), 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(AfterClock(lines[0]), Prefix() + " fileline:21] " + marker + "\n");
  const std::string log = FileText(path);
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )" + std::to_string(GetCurrentProcessId()) + " " +
                        Prefix() + " fileline:21\\] " + marker + "\r\n");
  EXPECT_TRUE(std::regex_search(log, line)) << log.substr(log.size() > 400 ? log.size() - 400 : 0);
  EXPECT_NE(log.find(" fileonly:22] only in the file"), std::string::npos);
}

// Two processes append at once: every line whole, none lost, and the file
// turned into the .1 file once past its limit. A folder that cannot be
// made costs the lines alone.
TEST(FileLogWriter, TwoProcessesAppendWholeLinesAndTheFileRotates) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"log-test-" + std::to_wstring(GetCurrentProcessId());
  const std::vector<std::pair<std::string, std::string>> env = {{"IXA_LOG_FOLDER", kel::Narrow(folder)},
                                                                {"IXA_LINES", "3000"}};
  // Wine appends by reading the size and writing there, so lines written at
  // one moment by two processes land on one another; Windows appends at the
  // end in one step. Under Wine the second starts when the first has ended.
  if (testing_support::RunsUnderWine()) {
    EXPECT_EQ(RunChild("append-lines", env).exitCode, 0u);
    EXPECT_EQ(RunChild("append-lines", env).exitCode, 0u);
  } else {
    StartedChild first("append-lines", env);
    StartedChild second("append-lines", env);
    EXPECT_EQ(first.Wait().exitCode, 0u);
    EXPECT_EQ(second.Wait().exitCode, 0u);
  }
  const std::string both = FileText(folder + L"\\IxaLoader.1.log") + FileText(folder + L"\\IxaLoader.log");
  const std::regex whole(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \d+ child main append:1\] line of \d+ -{120}\r$)");
  size_t count = 0;
  for (size_t at = 0; at < both.size();) {
    const size_t end = both.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "a line without its end";
    EXPECT_TRUE(std::regex_match(both.substr(at, end - at), whole)) << both.substr(at, end - at);
    ++count;
    at = end + 1;
  }
  EXPECT_EQ(count, 6000u);
  EXPECT_GE(FileText(folder + L"\\IxaLoader.1.log").size(), static_cast<size_t>(Os::FileLogWriter::kRotateBytes));
  DeleteFileW((folder + L"\\IxaLoader.log").c_str());
  DeleteFileW((folder + L"\\IxaLoader.1.log").c_str());
  RemoveDirectoryW(folder.c_str());

  Os::FileLogWriter nowhere("File", folder + L"\\IxaLoader.log\\below a file", L"IxaLoader");
  HANDLE blocker =
      CreateFileW((folder + L"\\IxaLoader.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  Os::Log::Record record{0, nullptr, Os::Log::kError, 1, "p", 1, "t", "f", "Test", 1, "x", 1};
  EXPECT_FALSE(nowhere.Write(record));
  EXPECT_FALSE(nowhere.Write(record));
  CloseHandle(blocker);
}

TEST(FileLogWriter, TorkLogFileZeroTurnsItOff) {
  EXPECT_EQ(RunChild("has-log-file").exitCode, 1u);
  EXPECT_EQ(RunChild("has-log-file", {{"TORK_LOG_FILE", "0"}}).exitCode, 0u);
}

TEST(LogManager, IsBuiltOnceWhenManyThreadsAskFirst) { EXPECT_EQ(RunChild("first-use-race").exitCode, 0u); }

unsigned __stdcall NeverRuns(void*) { return 0; }

TEST(ThreadLog, ACreationFailureIsLoggedAndThrown) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "a 64-bit process has room for any stack size the call takes";
  DebugOutputListener listener;
  EXPECT_THROW(Os::Thread(NeverRuns, nullptr, "huge", Os::Default, 0x7FF00000u), Os::os_exception);
  std::vector<std::string> lines = listener.WaitForTexts(GetCurrentProcessId(), 2);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(Shape(lines[0]).find("osthread:70] _beginthreadex() failure:  "), std::string::npos) << lines[0];
  EXPECT_NE(Shape(lines[1]).find("osos:596] OS error "), std::string::npos) << lines[1];
}

}  // namespace
