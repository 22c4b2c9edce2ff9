#include <windows.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "debug_output_listener.h"
#include "os/osdialog.h"
#include "os/ospriority.h"
#include "os/win32/osprocess.h"
#include "test_files.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Trap, ReportsToTheDebuggerShowsTheDialogAndAborts) {
  TempFile record(L"ixa_trap_dialog.txt");
  ChildResult result;
  std::vector<std::string> texts;
  {
    DebugOutputListener listener;
    result = RunChild("trap", {{"IXA_DIALOG_AUTOPRESS", "0"}, {"IXA_DIALOG_RECORD", record.NarrowPath()}});
    texts = listener.WaitForTexts(result.pid, 1);
  }
  EXPECT_EQ(result.exitCode, 3u);  // abort()
  ASSERT_EQ(texts.size(), 1u);
  std::vector<std::string> lines = Lines(texts[0]);
  ASSERT_GE(lines.size(), 8u) << texts[0];
  EXPECT_EQ(lines[0], "Error:  Trap: 'value == 5' is TRUE");
  EXPECT_TRUE(std::regex_match(
      lines[1], std::regex(R"(File:  tests\\diagnostics\\trapsite \([A-Z][a-z][a-z] [ \d]\d \d{4}\) , Line:  77)")))
      << lines[1];
  EXPECT_EQ(lines[2], "Version:  v1.2.1 (b 550)");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], "Stack trace for  process, thread TrapThread:");
  const std::string digits = "{" + std::to_string(2 * sizeof(void*)) + "}";
  EXPECT_TRUE(
      std::regex_match(lines[5], std::regex(R"(\[0x[0-9a-f])" + digits + R"(\] Os::ReportTrap \+ 0x[0-9a-f]+)")))
      << lines[5];
  EXPECT_NE(texts[0].find("] Os::Trap + 0x"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("] TrapSiteForTest + 0x"), std::string::npos) << texts[0];

  std::vector<std::string> dialog = Lines(record.Read());
  ASSERT_GE(dialog.size(), 1u);
  std::string expectedStart = "arguments=-icon=3 -default=0 -escape=0 -message=\"Error:  Trap: 'value == 5' is TRUE";
  EXPECT_EQ(dialog[0], expectedStart);
  EXPECT_NE(record.Read().find("\" -caption=\"Fatal Error\" -button0=\"Ok\"\n"), std::string::npos) << record.Read();
}

struct WarningBoxCall {
  int calls = 0;
  std::wstring caption;
  std::wstring message;
} gWarningBox;

void RecordWarningBox(const wchar_t* caption, const wchar_t* message) {
  ++gWarningBox.calls;
  gWarningBox.caption = caption ? caption : L"<null>";
  gWarningBox.message = message ? message : L"<null>";
}

class ShowDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    gWarningBox = WarningBoxCall();
    Os::ShowWarningBox = RecordWarningBox;
  }
  void TearDown() override { Os::ShowWarningBox = Os::DefaultShowWarningBox; }

  TempFile record_{L"ixa_show_dialog.txt"};
  ScopedEnvironment recordTo_{"IXA_DIALOG_RECORD", record_.NarrowPath().c_str()};
};

TEST_F(ShowDialogTest, QuotesEmbeddedDoubleQuotesAndDecodesTheExitCode) {
  ScopedEnvironment press("IXA_DIALOG_AUTOPRESS", "2");
  int pressed =
      Os::ShowDialog(L"say \"hi\" \\ now", L"Cap", 4, 1, 3, L"Yes", L"No", L"\"Maybe\"", nullptr, false, nullptr);
  EXPECT_EQ(pressed, 2);
  std::vector<std::string> lines = Lines(record_.Read());
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[0],
            "arguments=-icon=4 -default=1 -escape=3 -message=\"say \\\"hi\\\" \\ now\" "
            "-caption=\"Cap\" -button0=\"Yes\" -button1=\"No\" -button2=\"\\\"Maybe\\\"\"");
  // The dialog program reads the texts back unchanged.
  EXPECT_EQ(lines[4], "message=say \"hi\" \\ now");
  EXPECT_EQ(lines[8], "button2=\"Maybe\"");
  EXPECT_EQ(gWarningBox.calls, 0);
}

TEST_F(ShowDialogTest, DontAskBoxTravelsInBitThree) {
  ScopedEnvironment press("IXA_DIALOG_AUTOPRESS", "1,dontask");
  bool dontAsk = false;
  EXPECT_EQ(Os::ShowDialog(L"m", L"c", 2, 0, 1, L"A", L"B", nullptr, nullptr, true, &dontAsk), 1);
  EXPECT_TRUE(dontAsk);
  EXPECT_NE(record_.Read().find(" -button1=\"B\" -dontask\n"), std::string::npos) << record_.Read();

  ScopedEnvironment pressWithout("IXA_DIALOG_AUTOPRESS", "1");
  EXPECT_EQ(Os::ShowDialog(L"m", L"c", 2, 0, 1, L"A", L"B", nullptr, nullptr, true, &dontAsk), 1);
  EXPECT_FALSE(dontAsk);
}

TEST_F(ShowDialogTest, WithoutButtonZeroReturnsTheDefaultWithoutWaiting) {
  ScopedEnvironment press("IXA_DIALOG_AUTOPRESS", "2");
  EXPECT_EQ(Os::ShowDialog(L"info", nullptr, 1, 5, 0, nullptr, nullptr, nullptr, nullptr, false, nullptr), 5);
  // The program still ran: its record appears.
  for (int i = 0; i < 200 && record_.Read().find("end\n") == std::string::npos; ++i) Sleep(25);
  EXPECT_EQ(Lines(record_.Read())[0], "arguments=-icon=1 -default=5 -escape=0 -message=\"info\"");
}

// Each text comes back whole, as message and as button: nothing is lost or
// taken for an option.
TEST_F(ShowDialogTest, BackslashesAndQuotesReachTheProgramUnchanged) {
  ScopedEnvironment press("IXA_DIALOG_AUTOPRESS", "1");
  for (std::string text : {"C:\\folder\\", "D:\\", "a\\\"b", "\\\\server\\share\\\"", "\"quoted\" --option",
                           "x\" -button3=\"injected", "two\\\\"}) {
    DeleteFileW(record_.Path().c_str());
    std::wstring wide(text.begin(), text.end());
    EXPECT_EQ(Os::ShowDialog(wide.c_str(), L"c", 1, 0, 2, L"Keep", wide.c_str(), nullptr, nullptr, false, nullptr), 1);
    std::string expected = "\nmessage=" + text + "\ncaption=c\nbutton0=Keep\nbutton1=" + text + "\ndontask=0\n";
    EXPECT_NE(record_.Read().find(expected), std::string::npos) << record_.Read();
  }
}

uint32_t DialogProgramExitCode(const wchar_t* arguments) {
  Os::Process program(Os::kDialogProgram, arguments, nullptr, false, false, false, Os::Normal);
  uint32_t exitCode = 0;
  EXPECT_TRUE(program.Wait(&exitCode, Os::Process::kInfinite));
  return exitCode;
}

TEST_F(ShowDialogTest, AnUnparseableCommandLineExitsWithTheEscapeIndexOrSeven) {
  ScopedEnvironment press("IXA_DIALOG_AUTOPRESS", "0");  // no message box about the fault
  EXPECT_EQ(DialogProgramExitCode(L"-icon=1 -default=0 -escape=2 -message=\"open"), 2u);
  EXPECT_EQ(DialogProgramExitCode(L"-icon=1 -bogus"), 7u);
  EXPECT_EQ(DialogProgramExitCode(L"-escape=1 -message=\"dir\\\""), 1u);  // the quote is literal
}

// Moves the dialog program away for the life of the object.
class ProgramHidden {
 public:
  ProgramHidden() {
    std::wstring exe = OwnExecutablePath();
    program_ = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"durururu-dir32-udezar.exe";
    hidden_ = program_ + L".hidden";
    moved_ = MoveFileW(program_.c_str(), hidden_.c_str()) != FALSE;
  }
  ~ProgramHidden() {
    if (moved_) MoveFileW(hidden_.c_str(), program_.c_str());
  }
  bool Moved() const { return moved_; }
  const std::wstring& HiddenPath() const { return hidden_; }

 private:
  std::wstring program_;
  std::wstring hidden_;
  bool moved_ = false;
};

TEST_F(ShowDialogTest, AMissingProgramFallsBackToTheWarningBox) {
  ProgramHidden hidden;
  ASSERT_TRUE(hidden.Moved());
  bool dontAsk = false;
  EXPECT_EQ(Os::ShowDialog(L"the message", L"the caption", 3, 0, 2, L"Ok", nullptr, nullptr, nullptr, true, &dontAsk),
            2);
  EXPECT_EQ(gWarningBox.calls, 1);
  EXPECT_EQ(gWarningBox.caption, L"the caption");
  EXPECT_EQ(gWarningBox.message, L"the message");
  EXPECT_FALSE(dontAsk);
}

std::vector<std::wstring> gDebugLines;
bool RecordDebugOutput(const wchar_t* text) {
  gDebugLines.push_back(text);
  return true;
}

// The real program hidden, a working copy of it planted in the current
// folder and reachable through relative, empty and absolute PATH entries: it
// must not start.
TEST_F(ShowDialogTest, APlantedProgramInTheCurrentFolderOrOnPathIsNeverStarted) {
  ProgramHidden hidden;
  ASSERT_TRUE(hidden.Moved());
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"ixa_planted_dialog";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring decoy = folder + L"\\durururu-dir32-udezar.exe";
  ASSERT_TRUE(CopyFileW(hidden.HiddenPath().c_str(), decoy.c_str(), FALSE));
  wchar_t previousFolder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previousFolder);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  char pathValue[32767];
  std::string path(pathValue, GetEnvironmentVariableA("PATH", pathValue, sizeof(pathValue)));
  ScopedEnvironment press("IXA_DIALOG_AUTOPRESS", "1");
  {
    ScopedEnvironment relative("PATH", (".;;ixa_planted_dialog;..\\ixa_planted_dialog;" + path).c_str());
    gDebugLines.clear();
    Os::DebugOutput = RecordDebugOutput;
    EXPECT_EQ(Os::ShowDialog(L"m", L"c", 3, 0, 2, L"Ok", L"No", nullptr, nullptr, false, nullptr), 2);
    Os::DebugOutput = Os::DefaultDebugOutput;
    EXPECT_EQ(gWarningBox.calls, 1);
    EXPECT_EQ(record_.Read(), "");
    ASSERT_EQ(gDebugLines.size(), 1u);
    EXPECT_NE(gDebugLines[0].find(L"durururu-dir32-udezar.exe not found"), std::wstring::npos);
  }
  {
    std::string absolute(folder.begin(), folder.end());
    ScopedEnvironment onPath("PATH", (absolute + ";" + path).c_str());
    EXPECT_EQ(Os::ShowDialog(L"m", L"c", 3, 0, 2, L"Ok", L"No", nullptr, nullptr, false, nullptr), 2);
    EXPECT_EQ(gWarningBox.calls, 2);
    EXPECT_EQ(record_.Read(), "");
  }
  SetCurrentDirectoryW(previousFolder);
  DeleteFileW(decoy.c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST_F(ShowDialogTest, FatalErrorAndInformationUseTheirIcons) {
  ScopedEnvironment press("IXA_DIALOG_AUTOPRESS", "0");
  EXPECT_EQ(Os::ShowFatalError(L"bad", L"Oops"), 0);
  EXPECT_EQ(Lines(record_.Read())[0],
            "arguments=-icon=3 -default=0 -escape=0 -message=\"bad\" -caption=\"Oops\" "
            "-button0=\"Ok\"");
}

}  // namespace
