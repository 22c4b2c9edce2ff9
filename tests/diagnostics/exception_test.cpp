#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "debug_output_listener.h"
#include "kellib/exception.h"
#include "os/osos.h"

namespace {

TEST(Exceptions, DescriptionFallsBackToTheTypeName) {
  kel::runtime unnamed;
  EXPECT_EQ(unnamed.Description(), L"kel::runtime");
  EXPECT_EQ(yoti::unknown().Description(), L"yoti::unknown");
  kel::boundary named(L"boundary exception");
  EXPECT_EQ(named.Description(), L"boundary exception");
  try {
    throw kel::tag_mismatch();
  } catch (const kel::stream_failure& failure) {
    EXPECT_EQ(failure.Description(), L"kel::tag_mismatch");
  }
}

__attribute__((noinline)) kel::exception MadeInANamedFunction() {
  kel::exception made(L"x");
  asm volatile("");
  return made;
}

TEST(Exceptions, CarryTheConstructingStack) {
  kel::exception made = MadeInANamedFunction();
  ASSERT_GT(made.stackDepth, 2u);
  kel::exception copy = made;
  EXPECT_EQ(copy.stackDepth, made.stackDepth);
  EXPECT_EQ(copy.stack[2], made.stack[2]);
  std::wstring text = copy.StackText();
  EXPECT_NE(text.find(L"MadeInANamedFunction"), std::wstring::npos);
  EXPECT_EQ(text.find(L"Os::CaptureStack "), std::wstring::npos);
}

TEST(ThrowError, CodeZeroIsUnknownError) {
  try {
    Os::ThrowOsError(0);
    FAIL() << "no exception";
  } catch (const Os::os_exception& error) {
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(error.osText, L"Unknown error");
    EXPECT_EQ(error.Description(), L"Os Error 0: Unknown error");
    EXPECT_TRUE(error.message.empty());
  }
}

TEST(ThrowError, LogsOneRecordThenThrowsWithTheSystemText) {
  DebugOutputListener listener;
  try {
    Os::ThrowOsError(ERROR_FILE_NOT_FOUND);
    FAIL() << "no exception";
  } catch (const kel::exception& error) {
    const auto& os = dynamic_cast<const Os::os_exception&>(error);
    EXPECT_EQ(os.osText, L"File not found.\r\n");
    EXPECT_EQ(error.Description(), L"Os Error 2: File not found.\r\n");
  }
  std::vector<std::string> lines = listener.WaitForTexts(GetCurrentProcessId(), 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" osos:596] OS error 2: File not found.\r\n"), std::string::npos) << lines[0];
}

TEST(ThrowError, BareAndLogOnly) {
  DebugOutputListener listener;
  try {
    Os::ThrowUnloggedOsError(5);
    FAIL() << "no exception";
  } catch (const Os::os_exception& error) {
    EXPECT_EQ(error.code, 5);
    EXPECT_TRUE(error.osText.empty());
  }
  EXPECT_TRUE(listener.WaitForTexts(GetCurrentProcessId(), 0).empty());
  EXPECT_NO_THROW(Os::LogOsError(-3));
  std::vector<std::string> lines = listener.WaitForTexts(GetCurrentProcessId(), 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("OS error -3: Unknown error"), std::string::npos) << lines[0];
}

TEST(FormatOsError, SystemTextOrTheCode) {
  std::wstring text = Os::FormatOsError(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.rfind(L"Error 5", 0), 0u);
  EXPECT_EQ(Os::FormatOsError(0x20001234), L"Error 536875572");
}

}  // namespace
