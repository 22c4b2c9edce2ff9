#include "debug_output_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {
constexpr DWORD kBufferSize = 4096;
}

DebugOutputListener::DebugOutputListener()
    : markerPrefix_("debug output listener " + std::to_string(GetCurrentProcessId()) + " flush ") {
  bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER");
  if (mapping_ != nullptr) {
    view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
  }
  if (bufferReady_ == nullptr || dataReady_ == nullptr || stop_ == nullptr || view_ == nullptr) {
    throw std::runtime_error("cannot set up the debugger output buffer");
  }
  // Offered before the thread runs: a writer that comes first fills the
  // buffer and the thread takes the text when it starts.
  SetEvent(bufferReady_);
  thread_ = std::thread([this] { Run(); });
}

DebugOutputListener::~DebugOutputListener() {
  SetEvent(stop_);
  thread_.join();
  UnmapViewOfFile(view_);
  CloseHandle(mapping_);
  CloseHandle(stop_);
  CloseHandle(dataReady_);
  CloseHandle(bufferReady_);
}

void DebugOutputListener::Run() {
  const HANDLE handles[] = {stop_, dataReady_};
  while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    Message message;
    std::memcpy(&message.pid, view_, sizeof(DWORD));
    message.text.assign(view_ + sizeof(DWORD), strnlen(view_ + sizeof(DWORD), kBufferSize - 4));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (message.pid == GetCurrentProcessId() && message.text.compare(0, markerPrefix_.size(), markerPrefix_) == 0) {
        markersSeen_ = std::strtoull(message.text.c_str() + markerPrefix_.size(), nullptr, 10);
      } else {
        messages_.push_back(std::move(message));
      }
    }
    received_.notify_all();
    SetEvent(bufferReady_);
  }
}

bool DebugOutputListener::Flush(DWORD timeoutMs) {
  uint64_t marker;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    marker = ++markersSent_;
  }
  // Writers take turns under a system-wide lock, so markers arrive in order.
  OutputDebugStringA((markerPrefix_ + std::to_string(marker)).c_str());
  std::unique_lock<std::mutex> lock(mutex_);
  bool arrived = received_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return markersSeen_ >= marker; });
  if (!arrived) ADD_FAILURE() << "the listener's marker did not arrive within " << timeoutMs << " ms";
  return arrived;
}

size_t DebugOutputListener::CountFrom(uint32_t pid) const {
  size_t count = 0;
  for (const Message& message : messages_) count += message.pid == pid;
  return count;
}

std::vector<std::string> DebugOutputListener::WaitForTexts(uint32_t pid, size_t count, DWORD timeoutMs) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    received_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return CountFrom(pid) >= count; });
  }
  Flush(timeoutMs);
  return TextsFrom(pid);
}

std::vector<DebugOutputListener::Message> DebugOutputListener::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::vector<std::string> DebugOutputListener::TextsFrom(uint32_t pid) const {
  std::vector<std::string> texts;
  for (const Message& message : Messages()) {
    if (message.pid == pid) texts.push_back(message.text);
  }
  return texts;
}
