#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <type_traits>

namespace kel {

// The framework's only width conversions; neither is locale-aware.
// Narrow to wide sign-extends, so bytes 0x80-0xFF land on U+FF80-U+FFFF.
inline wchar_t Widen(char c) { return static_cast<wchar_t>(static_cast<signed char>(c)); }
// Anything beyond 7-bit ASCII becomes the byte 0xFF.
inline char Narrow(wchar_t c) { return c <= 0x7F ? static_cast<char>(c) : static_cast<char>(0xFF); }
std::wstring Widen(const std::string& narrow);
std::string Narrow(const std::wstring& wide);

// A growable text that is at once a builder (append at the end) and a
// reading cursor (consume from the front). Content is buffer[start] to
// buffer[start + size - 1], always followed by a terminating zero. Reading
// only advances start; building never moves it. An empty buffer without
// storage points at one shared constant empty text.
//
// The fields are public so that system calls can fill the storage directly
// (then Recount); whoever writes them keeps start + size < bufferSize.
template <typename Char>
class basic_text {
 public:
  using Other = std::conditional_t<std::is_same_v<Char, char>, wchar_t, char>;

  Char* buffer;
  size_t size;
  size_t start;
  size_t bufferSize;
  size_t indent;  // blanks written after each line break by NewLine

  basic_text() noexcept;
  basic_text(const basic_text& other);
  basic_text(basic_text&& other) noexcept;
  basic_text& operator=(const basic_text& other);
  basic_text& operator=(basic_text&& other) noexcept;
  ~basic_text() { Release(); }

  // Room for capacity characters after an unused prefix of start characters.
  static basic_text Make(size_t capacity, size_t start);
  // A copy of a terminated text of either width (null gives the empty text).
  static basic_text Make(const Char* terminated);
  static basic_text Make(const Other* terminated);
  // length characters of text, stopping early at a terminator (the rest of
  // the content is then zeros).
  static basic_text Make(const Char* text, size_t length);

  // Back to the shared empty text, releasing the storage.
  void Release() noexcept;
  // Empties the content but keeps the storage.
  void Clear() noexcept;
  // Takes size from the terminated text at start, after a direct fill.
  void Recount() noexcept;

  const Char* Content() const { return buffer + start; }
  std::basic_string<Char> String() const { return std::basic_string<Char>(Content(), size); }

  // A null source is ignored.
  basic_text& Append(const Char* terminated) {
    if (terminated != nullptr) AppendRun(terminated, Length(terminated));
    return *this;
  }
  basic_text& Append(const Other* terminated);
  basic_text& Append(const basic_text& other) {
    AppendRun(other.Content(), other.size);
    return *this;
  }
  basic_text& AppendRun(const Char* chars, size_t count) {
    // Measured against the free room, so that no count can wrap the sum.
    if (count >= bufferSize - start - size) return AppendGrowing(chars, count);
    Char* end = buffer + start + size;
    std::memcpy(end, chars, count * sizeof(Char));
    end[count] = 0;
    size += count;
    return *this;
  }
  basic_text& AppendFill(Char c, size_t count);
  basic_text& AppendSigned(int32_t value);
  basic_text& AppendUnsigned(uint32_t value);
  basic_text& AppendUnsigned16(uint32_t value) { return AppendUnsigned(value & 0xFFFFu); }
  // Lower-case hexadecimal, zero-padded to at least width (0..9) digits.
  basic_text& AppendHex(uint32_t value, unsigned width);
  // A line feed followed by indent blanks.
  basic_text& NewLine();
  // A blank, unless the content is empty or already ends in whitespace.
  basic_text& Separate();

  // Replaces the placeholder "%n" with the lowest n > 0 (first one on a tie)
  // by the argument; no placeholder, no change. Successive calls therefore
  // fill %1, %2, ... whatever their order in the template.
  basic_text& Arg(const basic_text& argument) { return Substitute(argument.Content(), argument.size); }
  basic_text& Arg(int32_t value);
  basic_text& Arg(uint32_t value);
  basic_text& Arg(const std::wstring& value);
  basic_text& Arg(const char* terminated);

  // Readers. Whitespace is " \t\r\n"; nothing reads past size characters.
  void SkipSpace();
  // Consumes up to and including the pattern; clears when it is absent.
  void SkipPast(const Char* pattern);
  // True when the content begins with "true"; consumes the word.
  bool ReadBool();
  // The next character narrowed, or 0 at the end.
  char ReadChar();
  // Decimal numbers; 0 and nothing consumed beyond the blanks when absent.
  int16_t ReadShort() { return static_cast<int16_t>(ReadSignedLong()); }
  int32_t ReadInt() { return static_cast<int32_t>(ReadSignedLong()); }
  uint16_t ReadUShort() { return static_cast<uint16_t>(ReadUnsignedLong()); }
  uint32_t ReadUInt() { return static_cast<uint32_t>(ReadUnsignedLong()); }
  float ReadFloat();
  // The next count characters (at most 31) as unsigned hexadecimal, with no
  // blank skipped; consumes them.
  uint32_t ReadHexField(size_t count);
  // Skips leading separators and returns a copy of the characters up to the
  // next separator; the token itself is left in the content.
  basic_text NextToken(const Char* separators);

 private:
  static size_t Length(const Char* terminated) {
    if constexpr (std::is_same_v<Char, char>) {
      return std::strlen(terminated);
    } else {
      return std::wcslen(terminated);
    }
  }
  bool OwnsStorage() const;
  // Whether chars point into this buffer's own storage.
  bool Holds(const Char* chars) const;
  basic_text& AppendGrowing(const Char* chars, size_t count);
  // Makes room for count more characters after the content; a count that
  // no storage could hold traps.
  void Reserve(size_t count);
  basic_text& Substitute(const Char* chars, size_t count);
  void Replace(size_t offset, size_t length, const Char* chars, size_t count);
  void Consume(size_t count);
  void CheckInvariant() const;
  long ReadSignedLong();
  unsigned long ReadUnsignedLong();
};

using wtext = basic_text<wchar_t>;
using text = basic_text<char>;

extern template class basic_text<wchar_t>;
extern template class basic_text<char>;

// In-place trimming of the characters listed in set.
void TrimRight(std::wstring& text, const std::wstring& set);
void TrimLeft(std::wstring& text, const std::wstring& set);
void Trim(std::wstring& text, const std::wstring& set);

}  // namespace kel
