#include "kellib/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(TextArg, FillsLowestNumberFirstWhateverTheOrder) {
  kel::wtext message = kel::wtext::Make(L"%2 %1");
  message.Arg(kel::wtext::Make(L"a")).Arg(kel::wtext::Make(L"b"));
  EXPECT_EQ(L"b a", message.String());

  kel::wtext error = kel::wtext::Make(L"Os Error %1: %2");
  error.Arg(5).Arg(std::wstring(L"denied"));
  EXPECT_EQ(L"Os Error 5: denied", error.String());
}

TEST(TextArg, RepeatedNumberTakesTwoCallsFirstOccurrenceFirst) {
  kel::wtext message = kel::wtext::Make(L"%1-%3-%1");
  message.Arg("x");
  EXPECT_EQ(L"x-%3-%1", message.String());
  message.Arg("y").Arg("z");
  EXPECT_EQ(L"x-z-y", message.String());
}

TEST(TextArg, LeavesZeroAndBarePercentAlone) {
  kel::wtext message = kel::wtext::Make(L"%0 100% %x %");
  message.Arg(7);
  EXPECT_EQ(L"%0 100% %x %", message.String());
  kel::wtext numbered = kel::wtext::Make(L"%0 %1 %");
  numbered.Arg(uint32_t{4000000000u});
  EXPECT_EQ(L"%0 4000000000 %", numbered.String());
}

TEST(TextArg, InsertedPlaceholderIsFilledByTheNextCall) {
  kel::wtext message = kel::wtext::Make(L"[%1] [%3]");
  message.Arg("%2").Arg(-12).Arg("c");
  EXPECT_EQ(L"[-12] [c]", message.String());
}

TEST(TextArg, ArgumentMayBeTheTextItselfOrGrowIt) {
  kel::wtext message = kel::wtext::Make(L"<%1>");
  message.Arg(message);
  EXPECT_EQ(L"<<%1>>", message.String());
  kel::wtext small = kel::wtext::Make(4, 0);
  small.Append(L"%1");
  std::wstring longWord(300, L'w');
  small.Arg(longWord);
  EXPECT_EQ(longWord, small.String());
  EXPECT_LT(small.start + small.size, small.bufferSize);
}

TEST(TextGrowth, AppendWithNonZeroStartGrowsWithoutTrapping) {
  kel::wtext text = kel::wtext::Make(3, 5);
  EXPECT_EQ(9u, text.bufferSize);
  text.Append(L"abc");  // 5 + 0 + 3 stays below 9: fits
  EXPECT_EQ(9u, text.bufferSize);
  text.Append(L"d");  // 5 + 3 + 1 reaches 9: grows to 18, keeping start
  EXPECT_EQ(18u, text.bufferSize);
  EXPECT_EQ(5u, text.start);
  EXPECT_EQ(L"abcd", text.String());
  EXPECT_EQ(L'\0', text.buffer[text.start + text.size]);
  text.Append(std::wstring(100, L'z').c_str());  // grows by the request when it is larger
  EXPECT_EQ(118u, text.bufferSize);
}

TEST(TextGrowth, EmptyTextSharesOneConstantAndFirstAppendAllocates) {
  kel::wtext a;
  kel::wtext b;
  EXPECT_EQ(a.buffer, b.buffer);
  EXPECT_EQ(0u, a.bufferSize);
  a.Append(L"x");
  EXPECT_NE(a.buffer, b.buffer);
  EXPECT_EQ(L"x", a.String());
  a.Release();
  EXPECT_EQ(a.buffer, b.buffer);
  EXPECT_EQ(0u, a.size + a.start + a.bufferSize + a.indent);
}

TEST(TextGrowth, ClearKeepsStorage) {
  kel::wtext text = kel::wtext::Make(L"some content");
  text.indent = 2;
  text.SkipPast(L" ");
  wchar_t* storage = text.buffer;
  size_t capacity = text.bufferSize;
  text.Clear();
  EXPECT_EQ(0u, text.size + text.start + text.indent);
  text.Append(L"again, and it fits");
  EXPECT_EQ(storage, text.buffer);
  EXPECT_EQ(capacity, text.bufferSize);
}

TEST(TextCopy, CopyKeepsStartAndSizesStorageToFit) {
  kel::wtext text = kel::wtext::Make(L"  left right");
  text.indent = 3;
  text.SkipSpace();
  kel::wtext copy(text);
  EXPECT_EQ(text.start, copy.start);
  EXPECT_EQ(text.size, copy.size);
  EXPECT_EQ(3u, copy.indent);
  EXPECT_EQ(copy.start + copy.size + 1, copy.bufferSize);
  EXPECT_EQ(L"left right", copy.String());
  copy.Append(L"!");  // reaches bufferSize, so grows
  EXPECT_EQ(L"left right!", copy.String());
  kel::wtext assigned = kel::wtext::Make(L"old");
  assigned = text;
  EXPECT_EQ(L"left right", assigned.String());
}

TEST(TextConversion, WidthBoundaries) {
  EXPECT_EQ(L'\x7F', kel::Widen('\x7F'));
  EXPECT_EQ(L'\xFF80', kel::Widen('\x80'));
  EXPECT_EQ(L'\xFFE9', kel::Widen('\xE9'));
  EXPECT_EQ(L'\xFFFF', kel::Widen('\xFF'));
  EXPECT_EQ('\x7F', kel::Narrow(L'\x7F'));
  EXPECT_EQ('\xFF', kel::Narrow(L'\x80'));
  EXPECT_EQ('\xFF', kel::Narrow(L'\xE9'));
  EXPECT_EQ('\xFF', kel::Narrow(L'\xFF80'));

  kel::wtext wide;
  wide.Append("a\xE9");
  EXPECT_EQ(std::wstring(L"a\xFFE9"), wide.String());
  kel::text narrow;
  narrow.Append(L"b\x00E9\x007F");
  EXPECT_EQ(std::string("b\xFF\x7F"), narrow.String());
  narrow.Append(static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(3u, narrow.size);
  EXPECT_EQ(L"\xFF80z", kel::Widen(std::string("\x80z")));
  EXPECT_EQ("\xFFz", kel::Narrow(std::wstring(L"\x0100z")));
}

TEST(TextFormat, NumbersLinesAndSeparators) {
  kel::wtext text;
  text.AppendSigned(-2147483647 - 1).Separate().AppendUnsigned(4294967295u).Separate();
  text.AppendHex(0xBEEF, 6).Separate().AppendHex(0x12345678, 2).AppendFill(L'.', 3);
  EXPECT_EQ(L"-2147483648 4294967295 00beef 12345678...", text.String());
  text.Clear();
  text.Separate();
  EXPECT_EQ(0u, text.size);
  text.indent = 4;
  text.Append(L"a").NewLine().Append(L"b").Separate();
  EXPECT_EQ(L"a\n    b ", text.String());
  text.Separate();
  EXPECT_EQ(L"a\n    b ", text.String());

  kel::text narrow;
  narrow.AppendUnsigned16(0x12345).Separate().AppendSigned(-7);
  EXPECT_EQ("9029 -7", narrow.String());
}

TEST(TextRead, ReadBool) {
  kel::wtext text = kel::wtext::Make(L"  true false trueish True\tx");
  EXPECT_TRUE(text.ReadBool());
  EXPECT_FALSE(text.ReadBool());
  EXPECT_TRUE(text.ReadBool());
  EXPECT_FALSE(text.ReadBool());
  EXPECT_EQ(L"\tx", text.String());
}

TEST(TextRead, ReadHexFieldTakesExactlyItsWidth) {
  kel::wtext text = kel::wtext::Make(L"00ff12");
  EXPECT_EQ(255u, text.ReadHexField(4));
  EXPECT_EQ(L"12", text.String());
  EXPECT_EQ(0x12u, text.ReadHexField(8));  // never more than the content
  EXPECT_EQ(0u, text.size);
}

TEST(TextRead, NextTokenLeavesTheTokenInPlace) {
  kel::wtext text = kel::wtext::Make(L",,abc,def");
  kel::wtext token = text.NextToken(L",");
  EXPECT_EQ(L"abc", token.String());
  EXPECT_EQ(L"abc,def", text.String());
  kel::text narrow = kel::text::Make("a b");
  EXPECT_EQ("a", narrow.NextToken(" ").String());
}

TEST(TextRead, NumbersCharsAndSkipping) {
  kel::wtext text = kel::wtext::Make(L" -12 70000 65537 4294967295 2.5 x12 y");
  EXPECT_EQ(-12, text.ReadInt());
  EXPECT_EQ(70000 - 65536, text.ReadShort());
  EXPECT_EQ(1, text.ReadUShort());
  EXPECT_EQ(4294967295u, text.ReadUInt());
  EXPECT_FLOAT_EQ(2.5f, text.ReadFloat());
  EXPECT_EQ(0, text.ReadInt());  // no number: only the blank is consumed
  EXPECT_EQ(L"x12 y", text.String());
  EXPECT_EQ('x', text.ReadChar());
  EXPECT_EQ(12u, text.ReadUInt());
  text.SkipPast(L"nowhere");
  EXPECT_EQ(0u, text.size);
  EXPECT_EQ(0, text.ReadChar());
}

TEST(TextRead, NumbersNeverReadPastTheContent) {
  // The content is a prefix of what the storage holds after it.
  kel::wtext text = kel::wtext::Make(L"12345678");
  text.size = 3;
  EXPECT_EQ(123, text.ReadInt());
  EXPECT_EQ(0u, text.size);
  kel::wtext floating = kel::wtext::Make(L"1.2345e7");
  floating.size = 3;
  EXPECT_FLOAT_EQ(1.2f, floating.ReadFloat());
  // Longer than the stack copy: the conversion still sees all of it, and
  // no more.
  std::wstring zeros(100, L'0');
  kel::wtext padded = kel::wtext::Make((zeros + L"4299").c_str());
  padded.size = 102;
  EXPECT_EQ(42u, padded.ReadUInt());
  EXPECT_EQ(0u, padded.size);
}

TEST(TextRead, FloatWordLongerThanAnyStackCopy) {
  std::wstring digits = L"1." + std::wstring(70, L'0') + L"e2";
  kel::wtext text = kel::wtext::Make((L"  " + digits + L"5 tail").c_str());
  text.size -= 6;  // ends right after "e2"
  EXPECT_FLOAT_EQ(100.0f, text.ReadFloat());
  EXPECT_EQ(0u, text.size);
  kel::wtext cut = kel::wtext::Make((digits + L"5").c_str());
  cut.size -= 2;  // ends right after "e": the exponent is not there
  EXPECT_FLOAT_EQ(1.0f, cut.ReadFloat());
  EXPECT_EQ(L"e", cut.String());
}

TEST(TextCopy, PrefixContentGetsItsOwnTerminator) {
  kel::wtext text = kel::wtext::Make(L"%1 and more");
  text.size = 2;
  kel::wtext copy(text);
  EXPECT_EQ(L"%1", std::wstring(copy.Content()));
  text.Arg(L"x");
  EXPECT_EQ(L"x", std::wstring(text.Content()));
  kel::wtext grown = kel::wtext::Make(L"abcdef");
  grown.size = 3;
  grown.Append(std::wstring(100, L'g').c_str());
  EXPECT_EQ(L"abc" + std::wstring(100, L'g'), std::wstring(grown.Content()));
}

TEST(TextMake, FromTextAndLength) {
  kel::text made = kel::text::Make("abcdef", 4);
  EXPECT_EQ("abcd", made.String());
  EXPECT_EQ(64u, made.bufferSize);
  kel::text early = kel::text::Make("ab", 5);
  EXPECT_EQ(5u, early.size);
  EXPECT_EQ(0, std::memcmp("ab\0\0\0", early.Content(), 6));
  kel::wtext widened = kel::wtext::Make("\xE9");
  EXPECT_EQ(std::wstring(L"\xFFE9"), widened.String());
}

TEST(TextMake, RecountAfterDirectFill) {
  kel::wtext text = kel::wtext::Make(16, 2);
  std::wcscpy(text.buffer + text.start, L"filled");
  text.Recount();
  EXPECT_EQ(L"filled", text.String());
  // A fill without terminator stops at the storage's end.
  std::fill(text.buffer, text.buffer + text.bufferSize, L'q');
  text.Recount();
  EXPECT_EQ(text.bufferSize - 1, text.start + text.size);
  EXPECT_EQ(L'\0', text.buffer[text.bufferSize - 1]);
}

TEST(TextTrim, RemovesListedCharactersAtTheEnds) {
  std::wstring name = L"  Intel(R)  CPU  ";
  kel::Trim(name, L" ");
  EXPECT_EQ(L"Intel(R)  CPU", name);
  std::wstring left = L"xxyabcx";
  kel::TrimLeft(left, L"xy");
  EXPECT_EQ(L"abcx", left);
  std::wstring right = L"xxyabcx";
  kel::TrimRight(right, L"xy");
  EXPECT_EQ(L"xxyabc", right);
  std::wstring only = L"   ";
  kel::TrimRight(only, L" ");
  EXPECT_EQ(L"", only);
  only = L"   ";
  kel::TrimLeft(only, L" ");
  EXPECT_EQ(L"", only);
}

}  // namespace
