#include "command_line.h"

#include <cwctype>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Splits the argument text by the rules of CommandLineToArgvW and the C
// runtime, which the framework quotes for: 2n backslashes and a quote are n
// backslashes and a quote that opens or closes, 2n+1 backslashes and a quote
// are n backslashes and a literal quote, other backslashes stay as they are.
class Splitter {
 public:
  explicit Splitter(const std::wstring& text) : text_(text) {}

  // The next argument; false at the end of the text, or with error set when
  // a quote is left open.
  bool Next(std::wstring* argument, std::wstring* error) {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    if (pos_ == text_.size()) return false;
    argument->clear();
    bool quoted = false;
    while (pos_ < text_.size() && (quoted || !IsBlank(text_[pos_]))) {
      size_t backslashes = 0;
      for (; pos_ < text_.size() && text_[pos_] == L'\\'; ++pos_) ++backslashes;
      if (pos_ < text_.size() && text_[pos_] == L'"') {
        argument->append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) {
          argument->push_back(L'"');
        } else {
          quoted = !quoted;
        }
        ++pos_;
      } else if (backslashes > 0) {
        argument->append(backslashes, L'\\');
      } else {
        argument->push_back(text_[pos_++]);
      }
    }
    if (!quoted) return true;
    *error = L"unterminated quoted value";
    return false;
  }

 private:
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

std::optional<DialogRequest> ParseDialogArguments(const std::wstring& arguments, ParseFailure* failure) {
  DialogRequest request;
  std::wstring* error = &failure->error;
  Splitter splitter(arguments);
  for (std::wstring argument; splitter.Next(&argument, error);) {
    if (argument.empty() || argument[0] != L'-') {
      *error = L"expected an option beginning with -";
      return std::nullopt;
    }
    size_t equals = argument.find(L'=');
    std::wstring name = argument.substr(1, equals == std::wstring::npos ? std::wstring::npos : equals - 1);
    if (equals == std::wstring::npos) {
      if (name == L"dontask") {
        request.offerDontAsk = true;
        continue;
      }
      *error = L"option -" + name + L" needs a value";
      return std::nullopt;
    }
    std::wstring value = argument.substr(equals + 1);

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
    } else if (name.size() == 7 && name.compare(0, 6, L"button") == 0 && name[6] >= L'0' && name[6] <= L'3') {
      request.buttons[name[6] - L'0'] = value;
    } else {
      *error = L"unknown option -" + name;
      return std::nullopt;
    }
  }
  if (!error->empty()) return std::nullopt;
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
