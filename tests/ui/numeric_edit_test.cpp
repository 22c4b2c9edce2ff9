// The digits-only edit control on an edit window of this thread.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/numeric_edit.h"
#include "ui/resource.h"

namespace {

constexpr int kEditId = IDC_PORT;

class NumericEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 200, 20, parent_,
                                reinterpret_cast<HMENU>(kEditId), nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    field_.Subclass(parent_, kEditId);
  }
  void TearDown() override { DestroyWindow(parent_); }

  void Type(const char* characters) {
    for (const char* c = characters; *c != '\0'; ++c) {
      SendMessageA(field_.GetSafeHwnd(), WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(*c)), 1);
    }
  }
  void Paste(const char* text) {
    ASSERT_TRUE(OpenClipboard(parent_));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
    std::memcpy(GlobalLock(memory), text, std::strlen(text) + 1);
    GlobalUnlock(memory);
    SetClipboardData(CF_TEXT, memory);
    CloseClipboard();
    SendMessageA(field_.GetSafeHwnd(), WM_PASTE, 0, 0);
  }
  void Clear() { field_.SetText(""); }
  std::string Text() const {
    char text[64] = {};
    GetWindowTextA(field_.GetSafeHwnd(), text, sizeof(text));
    return text;
  }

  HWND parent_ = nullptr;
  CNumericEdit field_;
};

TEST_F(NumericEditTest, TypingTakesOnlyDigitsAndBackspace) {
  Type("12a-3 .4");
  EXPECT_EQ(Text(), "1234");
  Type("\b\b");
  EXPECT_EQ(Text(), "12");
  Type("\t\r\x1b+x9");
  EXPECT_EQ(Text(), "129");
  EXPECT_EQ(field_.GetValue(), 129u);
}

TEST_F(NumericEditTest, ValueReadsTheLeadingNumberOfTheFirstSevenCharacters) {
  EXPECT_EQ(field_.GetValue(), 0u);
  field_.SetText("6600");
  EXPECT_EQ(field_.GetValue(), 6600u);
  field_.SetText("12345678");
  EXPECT_EQ(field_.GetValue(), 1234567u);
  field_.SetText("  42");
  EXPECT_EQ(field_.GetValue(), 42u);
  field_.SetText("abc12");
  EXPECT_EQ(field_.GetValue(), 0u);
  field_.SetText("123456 7");
  EXPECT_EQ(field_.GetValue(), 123456u);
}

TEST_F(NumericEditTest, PastedTextIsNotFiltered) {
  Paste("12ab");
  EXPECT_EQ(Text(), "12ab");
  EXPECT_EQ(field_.GetValue(), 12u);
  Clear();
  Paste("x80");
  EXPECT_EQ(Text(), "x80");
  EXPECT_EQ(field_.GetValue(), 0u);
}

TEST_F(NumericEditTest, SetValueShowsUnsignedDecimal) {
  field_.SetValue(6600);
  EXPECT_EQ(Text(), "6600");
  field_.SetValue(0);
  EXPECT_EQ(Text(), "0");
  field_.SetValue(4000000000u);
  EXPECT_EQ(Text(), "4000000000");
}

}  // namespace
