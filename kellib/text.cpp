#include "kellib/text.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <new>
#include <utility>

#include "kellib/platform.h"

namespace kel {
namespace {

template <typename Char>
const Char kSharedEmpty[1] = {0};

// The most characters any storage could hold.
template <typename Char>
constexpr size_t kMaxChars = SIZE_MAX / sizeof(Char);

template <typename Char>
bool IsSpace(Char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

template <typename Char>
bool IsDigit(Char c) {
  return c >= '0' && c <= '9';
}

template <typename Char>
bool IsIn(Char c, const Char* set) {
  if (set == nullptr) return false;
  for (; *set != 0; ++set) {
    if (*set == c) return true;
  }
  return false;
}

char Convert(wchar_t c, char*) { return Narrow(c); }
wchar_t Convert(char c, wchar_t*) { return Widen(c); }

template <typename Char>
size_t TerminatedLength(const Char* text) {
  const Char* end = text;
  while (*end != 0) ++end;
  return static_cast<size_t>(end - text);
}

// Writes value in decimal ending just before end; returns the first digit.
template <typename Char>
Char* FormatDecimal(uint32_t value, Char* end) {
  do {
    *--end = static_cast<Char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return end;
}

template <typename Char>
Char* FormatSigned(int32_t value, Char* end) {
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  Char* first = FormatDecimal(magnitude, end);
  if (value < 0) *--first = '-';
  return first;
}

// The run-time library's conversions, by width.
long ToLong(const char* s, char** end) { return std::strtol(s, end, 10); }
long ToLong(const wchar_t* s, wchar_t** end) { return std::wcstol(s, end, 10); }
unsigned long ToUnsignedLong(const char* s, char** end, int radix) { return std::strtoul(s, end, radix); }
unsigned long ToUnsignedLong(const wchar_t* s, wchar_t** end, int radix) { return std::wcstoul(s, end, radix); }
double ToDouble(const char* s, char** end) { return std::strtod(s, end); }
double ToDouble(const wchar_t* s, wchar_t** end) { return std::wcstod(s, end); }

template <typename Char>
bool IsLibrarySpace(Char c) {
  return IsSpace(c) || c == '\v' || c == '\f';
}

// Runs a library conversion on a terminated copy of the content, so it can
// never scan past size characters. A conversion skips leading blanks and then
// stops at the next blank, so copying the first word with its blanks gives
// the same result as the whole content; a word that long is rare enough to
// pay for a heap copy. Returns the characters used.
template <typename Char, typename Value, typename Conversion>
size_t ConvertBounded(const Char* content, size_t count, Conversion convert, Value* value) {
  size_t word = 0;
  while (word < count && IsLibrarySpace(content[word])) ++word;
  while (word < count && !IsLibrarySpace(content[word])) ++word;
  constexpr size_t kStackChars = 63;
  Char local[kStackChars + 1];
  std::basic_string<Char> heap;
  Char* copy = local;
  if (word > kStackChars) {
    heap.resize(word);
    copy = heap.data();
  }
  std::copy(content, content + word, copy);
  copy[word] = 0;
  Char* end = copy;
  *value = convert(copy, &end);
  return static_cast<size_t>(end - copy);
}

}  // namespace

std::wstring Widen(const std::string& narrow) {
  std::wstring wide(narrow.size(), L'\0');
  std::transform(narrow.begin(), narrow.end(), wide.begin(), [](char c) { return Widen(c); });
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  std::string narrow(wide.size(), '\0');
  std::transform(wide.begin(), wide.end(), narrow.begin(), [](wchar_t c) { return Narrow(c); });
  return narrow;
}

template <typename Char>
basic_text<Char>::basic_text() noexcept
    : buffer(const_cast<Char*>(kSharedEmpty<Char>)), size(0), start(0), bufferSize(0), indent(0) {}

template <typename Char>
basic_text<Char>::basic_text(const basic_text& other) : basic_text() {
  indent = other.indent;
  if (!other.OwnsStorage()) return;
  buffer = new Char[other.start + other.size + 1];
  bufferSize = other.start + other.size + 1;
  start = other.start;
  size = other.size;
  // The terminator is written, not copied: the source may hold a prefix.
  std::copy(other.Content(), other.Content() + other.size, buffer + start);
  buffer[start + size] = 0;
}

template <typename Char>
basic_text<Char>::basic_text(basic_text&& other) noexcept
    : buffer(std::exchange(other.buffer, const_cast<Char*>(kSharedEmpty<Char>))),
      size(std::exchange(other.size, 0)),
      start(std::exchange(other.start, 0)),
      bufferSize(std::exchange(other.bufferSize, 0)),
      indent(std::exchange(other.indent, 0)) {}

template <typename Char>
basic_text<Char>& basic_text<Char>::operator=(const basic_text& other) {
  if (this != &other) *this = basic_text(other);
  return *this;
}

template <typename Char>
basic_text<Char>& basic_text<Char>::operator=(basic_text&& other) noexcept {
  if (this == &other) return *this;
  Release();
  buffer = std::exchange(other.buffer, const_cast<Char*>(kSharedEmpty<Char>));
  size = std::exchange(other.size, 0);
  start = std::exchange(other.start, 0);
  bufferSize = std::exchange(other.bufferSize, 0);
  indent = std::exchange(other.indent, 0);
  return *this;
}

template <typename Char>
basic_text<Char> basic_text<Char>::Make(size_t capacity, size_t start) {
  if (start >= kMaxChars<Char> || capacity >= kMaxChars<Char> - start) throw std::bad_alloc();
  basic_text made;
  made.buffer = new Char[capacity + start + 1];
  made.bufferSize = capacity + start + 1;
  made.start = start;
  made.buffer[start] = 0;
  return made;
}

template <typename Char>
basic_text<Char> basic_text<Char>::Make(const Char* terminated) {
  if (terminated == nullptr) return basic_text();
  size_t length = Length(terminated);
  basic_text made = Make(std::max<size_t>(length + 1, 64) - 1, 0);
  made.AppendRun(terminated, length);
  return made;
}

template <typename Char>
basic_text<Char> basic_text<Char>::Make(const Other* terminated) {
  if (terminated == nullptr) return basic_text();
  size_t length = TerminatedLength(terminated);
  basic_text made = Make(std::max<size_t>(length + 1, 64) - 1, 0);
  made.Append(terminated);
  return made;
}

template <typename Char>
basic_text<Char> basic_text<Char>::Make(const Char* text, size_t length) {
  basic_text made = Make(std::max<size_t>(length + 1, 64) - 1, 0);
  const Char* stop = std::find(text, text + length, Char(0));
  std::fill(std::copy(text, stop, made.buffer), made.buffer + length + 1, Char(0));
  made.size = length;
  made.CheckInvariant();
  return made;
}

template <typename Char>
bool basic_text<Char>::OwnsStorage() const {
  return buffer != kSharedEmpty<Char>;
}

template <typename Char>
void basic_text<Char>::Release() noexcept {
  if (OwnsStorage()) delete[] buffer;
  buffer = const_cast<Char*>(kSharedEmpty<Char>);
  size = start = bufferSize = indent = 0;
}

template <typename Char>
void basic_text<Char>::Clear() noexcept {
  size = start = indent = 0;
  if (bufferSize != 0) buffer[0] = 0;
}

template <typename Char>
void basic_text<Char>::Recount() noexcept {
  if (bufferSize == 0) {
    size = 0;
    return;
  }
  // Bounded by the storage, in case the fill left no terminator.
  const Char* content = Content();
  const Char* limit = buffer + bufferSize - 1;
  size = static_cast<size_t>(std::find(content, limit, Char(0)) - content);
  buffer[start + size] = 0;
}

template <typename Char>
void basic_text<Char>::CheckInvariant() const {
  if (bufferSize != 0) KEL_TRAP_IF(start + size >= bufferSize, "kellib\\text", 222);
}

template <typename Char>
bool basic_text<Char>::Holds(const Char* chars) const {
  std::less<const Char*> before;
  return OwnsStorage() && !before(chars, buffer) && before(chars, buffer + bufferSize);
}

template <typename Char>
void basic_text<Char>::Reserve(size_t count) {
  KEL_TRAP_IF(count >= kMaxChars<Char> - start - size, "kellib\\text", __LINE__);
  if (count < bufferSize - start - size) return;
  // At least doubling keeps appends amortised constant time.
  size_t current = bufferSize == 0 ? 1 : bufferSize;
  size_t growth = std::max(count, current);
  if (growth > kMaxChars<Char> - current) throw std::bad_alloc();
  size_t grown = current + growth;
  Char* storage = new Char[grown];
  std::copy(Content(), Content() + size, storage + start);
  storage[start + size] = 0;
  if (OwnsStorage()) delete[] buffer;
  buffer = storage;
  bufferSize = grown;
}

template <typename Char>
basic_text<Char>& basic_text<Char>::AppendGrowing(const Char* chars, size_t count) {
  if (Holds(chars)) {
    // Growing would free the source.
    std::basic_string<Char> copy(chars, count);
    return AppendGrowing(copy.data(), count);
  }
  Reserve(count);
  Char* end = buffer + start + size;
  std::copy(chars, chars + count, end);
  end[count] = 0;
  size += count;
  CheckInvariant();
  return *this;
}

template <typename Char>
basic_text<Char>& basic_text<Char>::Append(const Other* terminated) {
  if (terminated == nullptr) return *this;
  size_t length = TerminatedLength(terminated);
  Reserve(length);
  Char* end = buffer + start + size;
  for (size_t i = 0; i < length; ++i) end[i] = Convert(terminated[i], end);
  end[length] = 0;
  size += length;
  CheckInvariant();
  return *this;
}

template <typename Char>
basic_text<Char>& basic_text<Char>::AppendFill(Char c, size_t count) {
  Reserve(count);
  Char* end = buffer + start + size;
  std::fill(end, end + count, c);
  end[count] = 0;
  size += count;
  CheckInvariant();
  return *this;
}

template <typename Char>
basic_text<Char>& basic_text<Char>::AppendSigned(int32_t value) {
  Char digits[32];
  Char* end = digits + 32;
  Char* first = FormatSigned(value, end);
  return AppendRun(first, static_cast<size_t>(end - first));
}

template <typename Char>
basic_text<Char>& basic_text<Char>::AppendUnsigned(uint32_t value) {
  Char digits[32];
  Char* end = digits + 32;
  Char* first = FormatDecimal(value, end);
  return AppendRun(first, static_cast<size_t>(end - first));
}

template <typename Char>
basic_text<Char>& basic_text<Char>::AppendHex(uint32_t value, unsigned width) {
  static const char kHexDigits[] = "0123456789abcdef";
  Char digits[32];
  Char* end = digits + 32;
  Char* first = end;
  do {
    *--first = static_cast<Char>(kHexDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  Char* padded = end - std::min(width, 9u);
  while (first > padded) *--first = '0';
  return AppendRun(first, static_cast<size_t>(end - first));
}

template <typename Char>
basic_text<Char>& basic_text<Char>::NewLine() {
  Reserve(indent < SIZE_MAX ? indent + 1 : indent);  // an impossible indent traps there
  Char* end = buffer + start + size;
  end[0] = '\n';
  std::fill(end + 1, end + 1 + indent, Char(' '));
  end[indent + 1] = 0;
  size += indent + 1;
  CheckInvariant();
  return *this;
}

template <typename Char>
basic_text<Char>& basic_text<Char>::Separate() {
  if (size == 0 || IsSpace(Content()[size - 1])) return *this;
  const Char blank[1] = {' '};
  return AppendRun(blank, 1);
}

template <typename Char>
void basic_text<Char>::Replace(size_t offset, size_t length, const Char* chars, size_t count) {
  if (count > length) Reserve(count - length);
  Char* at = buffer + start + offset;
  // The tail moves first, then the new characters go in.
  std::memmove(at + count, at + length, (size - offset - length) * sizeof(Char));
  std::memcpy(at, chars, count * sizeof(Char));
  size = size - length + count;
  buffer[start + size] = 0;
  CheckInvariant();
}

template <typename Char>
basic_text<Char>& basic_text<Char>::Substitute(const Char* chars, size_t count) {
  const Char* content = Content();
  size_t bestOffset = 0;
  size_t bestLength = 0;
  unsigned long bestNumber = 0;
  for (size_t i = 0; i < size; ++i) {
    if (content[i] != '%') continue;
    size_t digitsEnd = i + 1;
    unsigned long number = 0;
    for (; digitsEnd < size && IsDigit(content[digitsEnd]); ++digitsEnd) {
      unsigned long digit = static_cast<unsigned long>(content[digitsEnd] - '0');
      // Saturates like the library's unsigned long conversion.
      number = number > (ULONG_MAX - digit) / 10 ? ULONG_MAX : number * 10 + digit;
    }
    if (number != 0 && (bestNumber == 0 || number < bestNumber)) {
      bestNumber = number;
      bestOffset = i;
      bestLength = digitsEnd - i;
    }
    i = digitsEnd - 1;
  }
  if (bestNumber == 0) return *this;
  if (Holds(chars)) {
    // Growing would free the argument.
    std::basic_string<Char> copy(chars, count);
    Replace(bestOffset, bestLength, copy.data(), count);
  } else {
    Replace(bestOffset, bestLength, chars, count);
  }
  return *this;
}

template <typename Char>
basic_text<Char>& basic_text<Char>::Arg(int32_t value) {
  Char digits[32];
  Char* end = digits + 32;
  Char* first = FormatSigned(value, end);
  return Substitute(first, static_cast<size_t>(end - first));
}

template <typename Char>
basic_text<Char>& basic_text<Char>::Arg(uint32_t value) {
  Char digits[32];
  Char* end = digits + 32;
  Char* first = FormatDecimal(value, end);
  return Substitute(first, static_cast<size_t>(end - first));
}

template <typename Char>
basic_text<Char>& basic_text<Char>::Arg(const std::wstring& value) {
  if constexpr (std::is_same_v<Char, wchar_t>) {
    return Substitute(value.data(), value.size());
  } else {
    return Arg(Make(value.c_str()));
  }
}

template <typename Char>
basic_text<Char>& basic_text<Char>::Arg(const char* terminated) {
  return Arg(Make(terminated));
}

template <typename Char>
void basic_text<Char>::Consume(size_t count) {
  start += count;
  size -= count;
  CheckInvariant();
}

template <typename Char>
void basic_text<Char>::SkipSpace() {
  size_t blanks = 0;
  while (blanks < size && IsSpace(Content()[blanks])) ++blanks;
  if (blanks != 0) Consume(blanks);
}

template <typename Char>
void basic_text<Char>::SkipPast(const Char* pattern) {
  const Char* content = Content();
  size_t patternLength = Length(pattern);
  const Char* found = std::search(content, content + size, pattern, pattern + patternLength);
  if (found == content + size && patternLength != 0) {
    Clear();
    return;
  }
  Consume(static_cast<size_t>(found - content) + patternLength);
}

template <typename Char>
bool basic_text<Char>::ReadBool() {
  SkipSpace();
  const Char* content = Content();
  static const char kTrue[] = "true";
  bool isTrue = size >= 4 && std::equal(kTrue, kTrue + 4, content);
  size_t word = 0;
  while (word < size && !IsSpace(content[word])) ++word;
  if (word != 0) Consume(word);
  return isTrue;
}

template <typename Char>
char basic_text<Char>::ReadChar() {
  SkipSpace();
  if (size == 0) return 0;
  Char c = Content()[0];
  Consume(1);
  if constexpr (std::is_same_v<Char, char>) {
    return c;
  } else {
    return Narrow(c);
  }
}

template <typename Char>
long basic_text<Char>::ReadSignedLong() {
  SkipSpace();
  long value = 0;
  size_t used = ConvertBounded(
      Content(), size, [](const Char* s, Char** end) { return ToLong(s, end); }, &value);
  if (used == 0) return 0;
  Consume(used);
  return value;
}

template <typename Char>
unsigned long basic_text<Char>::ReadUnsignedLong() {
  SkipSpace();
  unsigned long value = 0;
  size_t used = ConvertBounded(
      Content(), size, [](const Char* s, Char** end) { return ToUnsignedLong(s, end, 10); }, &value);
  if (used == 0) return 0;
  Consume(used);
  return value;
}

template <typename Char>
float basic_text<Char>::ReadFloat() {
  SkipSpace();
  double value = 0;
  size_t used = ConvertBounded(
      Content(), size, [](const Char* s, Char** end) { return ToDouble(s, end); }, &value);
  if (used == 0) return 0.0f;
  Consume(used);
  return static_cast<float>(value);
}

template <typename Char>
uint32_t basic_text<Char>::ReadHexField(size_t count) {
  count = std::min({count, size_t{31}, size});
  Char field[32];
  std::copy(Content(), Content() + count, field);
  field[count] = 0;
  Char* end = field;
  unsigned long value = ToUnsignedLong(field, &end, 16);
  if (count != 0) Consume(count);
  return static_cast<uint32_t>(value);
}

template <typename Char>
basic_text<Char> basic_text<Char>::NextToken(const Char* separators) {
  size_t skipped = 0;
  while (skipped < size && IsIn(Content()[skipped], separators)) ++skipped;
  if (skipped != 0) Consume(skipped);
  const Char* content = Content();
  size_t length = 0;
  while (length < size && !IsIn(content[length], separators)) ++length;
  return Make(content, length);
}

template class basic_text<wchar_t>;
template class basic_text<char>;

void TrimRight(std::wstring& text, const std::wstring& set) {
  size_t last = text.find_last_not_of(set);
  text.erase(last == std::wstring::npos ? 0 : last + 1);
}

void TrimLeft(std::wstring& text, const std::wstring& set) {
  text.erase(0, std::min(text.find_first_not_of(set), text.size()));
}

void Trim(std::wstring& text, const std::wstring& set) {
  TrimRight(text, set);
  TrimLeft(text, set);
}

}  // namespace kel
