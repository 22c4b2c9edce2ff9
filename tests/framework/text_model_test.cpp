// Random sequences of building, reading and substitution on kel::wtext,
// checked step by step against a plain std::wstring model.
#include "kellib/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>

namespace {

const std::wstring kWhitespace = L" \t\r\n";

class Model {
 public:
  std::wstring content;

  void SkipSpace() { content.erase(0, std::min(content.find_first_not_of(kWhitespace), content.size())); }

  void Arg(const std::wstring& argument) {
    size_t bestOffset = 0, bestLength = 0;
    unsigned long bestNumber = 0;
    for (size_t i = content.find(L'%'); i != std::wstring::npos; i = content.find(L'%', i + 1)) {
      size_t end = i + 1;
      while (end < content.size() && iswdigit(content[end])) ++end;
      unsigned long number = end > i + 1 ? std::wcstoul(content.substr(i + 1, end - i - 1).c_str(), nullptr, 10) : 0;
      if (number != 0 && (bestNumber == 0 || number < bestNumber)) {
        bestNumber = number;
        bestOffset = i;
        bestLength = end - i;
      }
    }
    if (bestNumber != 0) content.replace(bestOffset, bestLength, argument);
  }

  long ReadLong() {
    SkipSpace();
    wchar_t* end = nullptr;
    long value = std::wcstol(content.c_str(), &end, 10);
    content.erase(0, static_cast<size_t>(end - content.c_str()));
    return value;
  }

  bool ReadBool() {
    SkipSpace();
    bool isTrue = content.compare(0, 4, L"true") == 0;
    content.erase(0, std::min(content.find_first_of(kWhitespace), content.size()));
    return isTrue;
  }

  std::wstring NextToken(const std::wstring& separators) {
    content.erase(0, std::min(content.find_first_not_of(separators), content.size()));
    return content.substr(0, content.find_first_of(separators));
  }
};

std::wstring RandomWord(std::mt19937& random) {
  static const wchar_t kAlphabet[] = L"%%%0123456789  ,,\tabtrue-+xyz";
  std::uniform_int_distribution<size_t> length(0, 12);
  std::uniform_int_distribution<size_t> pick(0, std::size(kAlphabet) - 2);
  std::wstring word;
  for (size_t n = length(random); n > 0; --n) word.push_back(kAlphabet[pick(random)]);
  return word;
}

void ExpectSame(const Model& model, const kel::wtext& text, int step) {
  ASSERT_EQ(model.content, text.String()) << "step " << step;
  if (text.bufferSize != 0) {
    ASSERT_LT(text.start + text.size, text.bufferSize) << "step " << step;
    ASSERT_EQ(L'\0', text.buffer[text.start + text.size]) << "step " << step;
  }
}

TEST(TextModel, RandomOperationsMatchTheStringModel) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> operation(0, 11);
    std::uniform_int_distribution<size_t> smallSize(0, 9);
    kel::wtext text = seed % 2 ? kel::wtext::Make(smallSize(random), smallSize(random)) : kel::wtext();
    Model model;
    for (int step = 0; step < 400; ++step) {
      switch (operation(random)) {
        case 0:
        case 1: {
          std::wstring word = RandomWord(random);
          text.Append(word.c_str());
          model.content += word;
          break;
        }
        case 2: {
          int32_t value = static_cast<int32_t>(random());
          text.AppendSigned(value);
          model.content += std::to_wstring(value);
          break;
        }
        case 3:
        case 4: {
          std::wstring word = RandomWord(random);
          text.Arg(word);
          model.Arg(word);
          break;
        }
        case 5:
          text.SkipSpace();
          model.SkipSpace();
          break;
        case 6:
          ASSERT_EQ(model.ReadLong(), text.ReadInt()) << "seed " << seed << " step " << step;
          break;
        case 7:
          ASSERT_EQ(model.ReadBool(), text.ReadBool()) << "seed " << seed << " step " << step;
          break;
        case 8: {
          kel::wtext token = text.NextToken(L",");
          ASSERT_EQ(model.NextToken(L","), token.String());
          break;
        }
        case 9: {
          kel::wtext copy(text);
          text = std::move(copy);
          break;
        }
        case 10:
          if (step % 7 == 0) {
            text.Clear();
            model.content.clear();
          }
          break;
        default: {
          uint32_t value = static_cast<uint32_t>(random());
          text.Arg(value);
          model.Arg(std::to_wstring(value));
          break;
        }
      }
      ExpectSame(model, text, step);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

}  // namespace
