#pragma once

#include <cstdint>
#include <string>

namespace kel {

// Root of the framework's exceptions (deliberately not std::exception). Every
// exception records the constructing thread's call stack.
class exception {
 public:
  exception();
  explicit exception(std::wstring message);
  virtual ~exception() = default;
  exception(const exception&) = default;
  exception& operator=(const exception&) = default;

  // The message, or the class's run-time type name when there is none.
  virtual std::wstring Description() const;
  // The captured stack, one frame per line, without the capture's own frame.
  std::wstring StackText() const;
  // The demangled run-time type name, e.g. "kel::runtime".
  std::string TypeName() const;

  std::wstring message;
  uint32_t stackDepth = 0;
  uintptr_t stack[32] = {};
};

class runtime : public exception {
 public:
  using exception::exception;
};

class stream_failure : public runtime {
 public:
  using runtime::runtime;
};

class tag_mismatch : public stream_failure {
 public:
  using stream_failure::stream_failure;
};

class archive_failure : public stream_failure {
 public:
  using stream_failure::stream_failure;
};

class boundary : public exception {
 public:
  using exception::exception;
};

class invalid : public exception {
 public:
  using exception::exception;
};

}  // namespace kel

namespace yoti {

class unknown : public kel::runtime {
 public:
  using kel::runtime::runtime;
};

}  // namespace yoti
