#include "debug_output_listener.h"

#include <cstring>
#include <stdexcept>

namespace {
constexpr DWORD kBufferSize = 4096;
}

DebugOutputListener::DebugOutputListener() {
  bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize,
                                L"DBWIN_BUFFER");
  if (mapping_ != nullptr) {
    view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
  }
  if (bufferReady_ == nullptr || dataReady_ == nullptr || view_ == nullptr) {
    throw std::runtime_error("cannot set up the debugger output buffer");
  }
  thread_ = std::thread([this] { Run(); });
}

DebugOutputListener::~DebugOutputListener() {
  stop_ = true;
  thread_.join();
  UnmapViewOfFile(view_);
  CloseHandle(mapping_);
  CloseHandle(dataReady_);
  CloseHandle(bufferReady_);
}

void DebugOutputListener::Run() {
  SetEvent(bufferReady_);
  while (!stop_) {
    if (WaitForSingleObject(dataReady_, 20) != WAIT_OBJECT_0) continue;
    Message message;
    std::memcpy(&message.pid, view_, sizeof(DWORD));
    message.text.assign(view_ + sizeof(DWORD), strnlen(view_ + sizeof(DWORD), kBufferSize - 4));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(std::move(message));
    }
    SetEvent(bufferReady_);
  }
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
