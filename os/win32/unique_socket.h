#pragma once

#include <utility>

#include <winsock2.h>

namespace Os {

// Sole owner of a Windows Sockets socket; closes it when destroyed or reset.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SOCKET socket) : socket_(socket) {}
  ~UniqueSocket() { reset(); }
  UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.release()) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  SOCKET get() const { return socket_; }
  explicit operator bool() const { return socket_ != INVALID_SOCKET; }
  SOCKET release() { return std::exchange(socket_, INVALID_SOCKET); }
  void reset(SOCKET socket = INVALID_SOCKET) {
    if (*this) closesocket(socket_);
    socket_ = socket;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace Os
