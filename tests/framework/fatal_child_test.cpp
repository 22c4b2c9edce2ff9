// Fatal paths end the process, so each runs in a child: this executable
// started again on one disabled case, with its output read through a pipe.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include <windows.h>

#include "kellib/text.h"
#include "os/osevent.h"
#include "os/oslock.h"
#include "os/ostls.h"
#include "os/win32/handle.h"
#include "tests/support/test_support.h"

namespace {

constexpr DWORD kAbortExitCode = 3;
// Standard error is a text-mode stream: its line end reaches the pipe as CR LF.

struct ChildResult {
  DWORD exitCode = 0;
  std::string output;  // standard output and standard error together
};

ChildResult RunChildCase(const std::wstring& caseName) {
  ChildResult result;
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine =
      L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=FatalChild.DISABLED_" + caseName;

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16)) {
    ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
    return result;
  }
  Os::UniqueHandle reader(readEnd);
  Os::UniqueHandle writer(writeEnd);
  SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writer.get();
  startup.hStdError = writer.get();
  // A trap shows its report through the dialog program; have it answer at
  // once so the child can go on to abort.
  SetEnvironmentVariableW(L"IXA_DIALOG_AUTOPRESS", L"0");
  PROCESS_INFORMATION process{};
  if (!testing_support::StartChildProcess([&] {
        return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &process);
      })) {
    ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
    return result;
  }
  Os::UniqueHandle child(process.hProcess);
  Os::UniqueHandle childThread(process.hThread);
  writer.reset();  // the child's copy is the last writer, so reading ends with it

  // Read until the child has ended, not until the pipe's end: a process
  // the child started (Wine's desktop) may hold the write end open.
  auto drain = [&] {
    char chunk[4096];
    DWORD available = 0;
    DWORD got = 0;
    while (PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available != 0 &&
           ReadFile(reader.get(), chunk, sizeof chunk, &got, nullptr) && got != 0) {
      result.output.append(chunk, got);
    }
  };
  bool ended = false;
  for (int waited = 0; !ended && waited < 60000; waited += 20) {
    ended = WaitForSingleObject(child.get(), 20) == WAIT_OBJECT_0;
    drain();
  }
  if (!ended) {
    TerminateProcess(child.get(), 99);
    ADD_FAILURE() << "child did not end";
  }
  GetExitCodeProcess(child.get(), &result.exitCode);
  return result;
}

TEST(FatalChild, DISABLED_SemaphoreNameTakenByAnEvent) {
  Os::UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, "ixa-framework-clash"));
  Os::Semaphore semaphore(0, "ixa-framework-clash");
  std::fputs("survived\n", stderr);
}

TEST(FatalChild, DISABLED_SemaphorePutBeyondItsMaximum) {
  Os::Semaphore semaphore(0x7FFFFFFF, "ixa-framework-full");
  semaphore.Put();
  std::fputs("survived\n", stderr);
}

TEST(FatalChild, DISABLED_PseudoBlockEndsWithoutHandler) {
  { Os::PseudoBlockWait wait; }
  std::fputs("survived\n", stderr);
}

TEST(FatalChild, DISABLED_TlsSlotsExhausted) {
  while (TlsAlloc() != TLS_OUT_OF_INDEXES) {
  }
  Os::TlsKey key;
  std::fputs("survived\n", stderr);
}

TEST(FatalChild, DISABLED_FillBeyondAnyStorage) {
  // The end offset would wrap to a small number that fits the storage.
  kel::wtext text = kel::wtext::Make(L"abc");
  text.AppendFill(L'x', SIZE_MAX - 1);
  std::fputs("survived\n", stderr);
}

TEST(Fatal, SemaphoreCreationFailureWritesItsLineAndAborts) {
  ChildResult child = RunChildCase(L"SemaphoreNameTakenByAnEvent");
  EXPECT_EQ(kAbortExitCode, child.exitCode);
  EXPECT_NE(std::string::npos,
            child.output.find("framework_tests.exeError creating ixa-framework-clash semaphore: 6\r\n"))
      << child.output;
  EXPECT_EQ(std::string::npos, child.output.find("survived")) << child.output;
}

TEST(Fatal, SemaphorePutFailureWritesItsLineAndAborts) {
  ChildResult child = RunChildCase(L"SemaphorePutBeyondItsMaximum");
  EXPECT_EQ(kAbortExitCode, child.exitCode);
  EXPECT_NE(std::string::npos,
            child.output.find("framework_tests.exeError putting ixa-framework-full semaphore: 298\r\n"))
      << child.output;
  EXPECT_EQ(std::string::npos, child.output.find("survived")) << child.output;
}

TEST(Fatal, TrapsAbort) {
  for (const wchar_t* caseName : {L"PseudoBlockEndsWithoutHandler", L"TlsSlotsExhausted", L"FillBeyondAnyStorage"}) {
    ChildResult child = RunChildCase(caseName);
    EXPECT_EQ(kAbortExitCode, child.exitCode);
    EXPECT_EQ(std::string::npos, child.output.find("survived")) << child.output;
  }
}

}  // namespace
