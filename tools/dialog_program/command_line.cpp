#include "command_line.h"

#include <cwchar>
#include <cwctype>

namespace {

class Reader {
 public:
  explicit Reader(const std::wstring& text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  void SkipSpace() {
    while (!AtEnd() && std::iswspace(text_[pos_])) ++pos_;
  }
  // The option name after "-", up to "=" or white space.
  std::wstring ReadName() {
    size_t begin = pos_;
    while (!AtEnd() && text_[pos_] != L'=' && !std::iswspace(text_[pos_])) ++pos_;
    return text_.substr(begin, pos_ - begin);
  }
  bool Take(wchar_t c) {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool ReadValue(std::wstring* value, std::wstring* error) {
    value->clear();
    if (!Take(L'"')) {
      while (!AtEnd() && !std::iswspace(text_[pos_])) value->push_back(text_[pos_++]);
      return true;
    }
    while (!AtEnd()) {
      wchar_t c = text_[pos_++];
      if (c == L'"') return true;
      if (c == L'\\' && !AtEnd() && text_[pos_] == L'"') {
        if (ClosesValue(pos_ + 1)) {
          value->push_back(c);
          ++pos_;
          return true;
        }
        c = text_[pos_++];
      }
      value->push_back(c);
    }
    *error = L"unterminated quoted value";
    return false;
  }

 private:
  // The quoting backslashes every quote and doubles no backslash, so a
  // value's own final backslash also comes out as \". Where that ends the
  // text or stands before the next option, the quote closes the value.
  bool ClosesValue(size_t next) const {
    if (next == text_.size()) return true;
    for (const wchar_t* option : {L" -caption=", L" -button", L" -dontask"}) {
      if (text_.compare(next, std::wcslen(option), option) == 0) return true;
    }
    return false;
  }

  const std::wstring& text_;
  size_t pos_ = 0;
};

bool ParseNumber(const std::wstring& text, int* number) {
  if (text.empty()) return false;
  size_t used = 0;
  try {
    *number = std::stoi(text, &used);
  } catch (...) {
    return false;
  }
  return used == text.size();
}

}  // namespace

std::optional<DialogRequest> ParseDialogArguments(const std::wstring& arguments,
                                                  ParseFailure* failure) {
  DialogRequest request;
  std::wstring* error = &failure->error;
  Reader reader(arguments);
  for (reader.SkipSpace(); !reader.AtEnd(); reader.SkipSpace()) {
    if (!reader.Take(L'-')) {
      *error = L"expected an option beginning with -";
      return std::nullopt;
    }
    std::wstring name = reader.ReadName();
    if (name == L"dontask") {
      request.offerDontAsk = true;
      continue;
    }
    std::wstring value;
    if (!reader.Take(L'=')) {
      *error = L"option -" + name + L" needs a value";
      return std::nullopt;
    }
    if (!reader.ReadValue(&value, error)) return std::nullopt;

    int* number = name == L"icon"      ? &request.icon
                  : name == L"default" ? &request.defaultButton
                  : name == L"escape"  ? &request.escapeButton
                                       : nullptr;
    if (number != nullptr) {
      if (!ParseNumber(value, number)) {
        *error = L"option -" + name + L" needs a number";
        return std::nullopt;
      }
      if (number == &request.escapeButton) failure->exitCode = request.escapeButton;
    } else if (name == L"message") {
      request.message = value;
    } else if (name == L"caption") {
      request.caption = value;
    } else if (name.size() == 7 && name.compare(0, 6, L"button") == 0 && name[6] >= L'0' &&
               name[6] <= L'3') {
      request.buttons[name[6] - L'0'] = value;
    } else {
      *error = L"unknown option -" + name;
      return std::nullopt;
    }
  }
  return request;
}

std::wstring ArgumentsOf(const std::wstring& commandLine) {
  size_t pos = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    pos = commandLine.find(L'"', 1);
    pos = pos == std::wstring::npos ? commandLine.size() : pos + 1;
  } else {
    while (pos < commandLine.size() && !std::iswspace(commandLine[pos])) ++pos;
  }
  if (pos < commandLine.size()) ++pos;  // the one separating blank
  return commandLine.substr(pos);
}
