#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

// Receives what processes write to the debugger output, through the shared
// buffer that system-wide debug monitors use. One listener at a time per
// wineserver.
//
// A writer returns once its text is in the buffer, before the listener has
// copied it out, so a test never reads what is stored at once: it waits
// with WaitForTexts() or Flush() first.
class DebugOutputListener {
 public:
  struct Message {
    uint32_t pid;
    std::string text;
  };

  static constexpr DWORD kWaitMs = 30000;

  // Ready when constructed: a text written after this returns is received.
  DebugOutputListener();
  ~DebugOutputListener();
  DebugOutputListener(const DebugOutputListener&) = delete;
  DebugOutputListener& operator=(const DebugOutputListener&) = delete;

  // Writes a marker of its own and waits until it is received. A writer
  // cannot fill the buffer before the previous text was taken out, so then
  // everything written before, by any process, is stored too. Adds a test
  // failure and returns false when the marker does not arrive.
  bool Flush(DWORD timeoutMs = kWaitMs);

  // Waits until at least count texts from pid are stored, then flushes so
  // that any written after them are counted too. Count 0 only flushes: the
  // way to check that nothing was written.
  std::vector<std::string> WaitForTexts(uint32_t pid, size_t count, DWORD timeoutMs = kWaitMs);

  // Messages stored so far, from every process or from one.
  std::vector<Message> Messages() const;
  std::vector<std::string> TextsFrom(uint32_t pid) const;

 private:
  void Run();
  size_t CountFrom(uint32_t pid) const;  // with mutex_ held

  HANDLE mapping_ = nullptr;
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  HANDLE stop_ = nullptr;
  const char* view_ = nullptr;
  std::string markerPrefix_;
  mutable std::mutex mutex_;
  std::condition_variable received_;
  std::vector<Message> messages_;
  uint64_t markersSent_ = 0;
  uint64_t markersSeen_ = 0;
  std::thread thread_;
};
