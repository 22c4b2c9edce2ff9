#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

// Receives what processes write to the debugger output, through the shared
// buffer that system-wide debug monitors use. One listener at a time per
// wineserver.
class DebugOutputListener {
 public:
  struct Message {
    uint32_t pid;
    std::string text;
  };

  DebugOutputListener();
  ~DebugOutputListener();
  DebugOutputListener(const DebugOutputListener&) = delete;
  DebugOutputListener& operator=(const DebugOutputListener&) = delete;

  // Messages received so far, from every process or from one.
  std::vector<Message> Messages() const;
  std::vector<std::string> TextsFrom(uint32_t pid) const;

 private:
  void Run();

  HANDLE mapping_ = nullptr;
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  const char* view_ = nullptr;
  volatile bool stop_ = false;
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  std::thread thread_;
};
