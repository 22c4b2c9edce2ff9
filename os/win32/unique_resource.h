#pragma once

#include <utility>

#include <windows.h>

namespace Os {

// Sole owner of one operating-system resource, closed when destroyed or
// reset. Traits name the kind:
//   using Type = ...;                  the raw value
//   static Type Invalid();             the value that owns nothing
//   static bool IsValid(Type value);
//   static void Close(Type value);
// Closing keeps the thread's last-error code, so a caller can read the
// error of a failed call after an owner went out of scope on the way out.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Type get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return Traits::IsValid(value_); }
  // Gives the value up without closing it.
  Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (!Traits::IsValid(old)) return;
    DWORD error = GetLastError();
    Traits::Close(old);
    SetLastError(error);
  }

 private:
  Type value_ = Traits::Invalid();
};

// Traits for the usual kind: one value that owns nothing (zero or null
// unless given), closed by one call.
template <typename T, auto CloseFunction, T kInvalid = T{}>
struct CloseTraits {
  using Type = T;
  static Type Invalid() { return kInvalid; }
  static bool IsValid(Type value) { return value != kInvalid; }
  static void Close(Type value) { CloseFunction(value); }
};

}  // namespace Os
