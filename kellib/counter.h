#pragma once

#include <windows.h>

namespace kel {

// Base of objects shared through counted_ref; deleted by the holder whose
// release brings the count to 0.
class counter {
 public:
  counter() = default;
  virtual ~counter() = default;
  counter(const counter&) = delete;
  counter& operator=(const counter&) = delete;

  void AddRef() { InterlockedIncrement(&count_); }
  // True when this was the last reference.
  bool ReleaseRef() { return InterlockedDecrement(&count_) == 0; }
  long Count() const { return count_; }

 private:
  volatile LONG count_ = 0;
};

// Holds one reference to a counter-derived object.
template <typename T>
class counted_ref {
 public:
  counted_ref() = default;
  explicit counted_ref(T* object) { Assign(object); }
  counted_ref(const counted_ref& other) { Assign(other.object_); }
  counted_ref& operator=(const counted_ref& other) {
    Assign(other.object_);
    return *this;
  }
  counted_ref& operator=(T* object) {
    Assign(object);
    return *this;
  }
  ~counted_ref() { Assign(nullptr); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  void Assign(T* object) {
    if (object == object_) return;
    if (object != nullptr) object->AddRef();
    T* old = object_;
    object_ = object;
    if (old != nullptr && old->ReleaseRef()) delete old;
  }

  T* object_ = nullptr;
};

}  // namespace kel
