#pragma once

#include <string>

#include <windows.h>

// A file name in the temporary directory, removed when the object goes.
class TempFile {
 public:
  explicit TempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + name;
    DeleteFileW(path_.c_str());
  }
  ~TempFile() { DeleteFileW(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::wstring& Path() const { return path_; }
  std::string NarrowPath() const { return std::string(path_.begin(), path_.end()); }
  // The whole file as bytes; empty when it does not exist.
  std::string Read() const {
    std::string content;
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return content;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) content.append(chunk, got);
    CloseHandle(file);
    return content;
  }

 private:
  std::wstring path_;
};
