#pragma once

#include <cstdint>
#include <memory>

namespace Os {

// One thread-local storage slot: every thread sees its own value, null until
// that thread sets one. A failing system call is a trap.
class TlsKey {
 public:
  TlsKey();
  virtual ~TlsKey();
  TlsKey(const TlsKey&) = delete;
  TlsKey& operator=(const TlsKey&) = delete;

  void Set(void* value);
  void* Get() const;

 private:
  std::unique_ptr<uint32_t> pKey;  // the slot index
};

}  // namespace Os
