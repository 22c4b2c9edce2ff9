#pragma once

#include <atomic>
#include <string>

#include "os/oslog.h"
#include "os/win32/handle.h"

namespace Os {

// Appends each record as one line to a log file a user can send to support:
// "yyyy-mm-dd hh:mm:ss.mmm pid process thread file:line] text".
//
// Several processes append to one file at once: each line is one write
// through a handle opened for appending only, so no line is torn. At 1 MB
// the file becomes "<name>.1.log", the one before it gone, renamed by
// whichever process gets the rotation mutex without waiting; the others
// append on and follow to the new file. Write takes no lock, never waits
// and never logs: a file that cannot be written (no folder, a full disk,
// read-only) costs its lines, nothing else. The file is opened on the first
// record, not when the writer is made.
class FileLogWriter final : public Log::Writer {
 public:
  static constexpr int64_t kRotateBytes = 1 << 20;

  // folder and base name: <folder>\<base>.log and <folder>\<base>.1.log.
  FileLogWriter(std::string name, std::wstring folder, std::wstring baseName);
  ~FileLogWriter() override;
  bool Write(const Log::Record& record) override;

  const std::wstring& Path() const { return path_; }

 private:
  // One opening of the file. Kept for good once replaced: a thread may still
  // count itself on it, and finds it is no longer current.
  struct OpenFile {
    HANDLE handle;
    std::atomic<int> users{0};
    // Its size as last read, and what this process appended since: asking
    // the system on every line would cost more than the line itself.
    std::atomic<int64_t> knownSize{0};
    std::atomic<int> writes{0};  // the size is read on the first, and every so often
  };

  // The current file, counted as used by this thread; null when none can be
  // had now.
  OpenFile* Use();
  OpenFile* OpenIfDue();
  // Whether the file has grown past the limit, counting written bytes.
  static bool PastLimit(OpenFile* file, size_t written);
  // The file grew past the limit: renames it when no other process is at it,
  // and moves to the file at the path once that is a new one.
  void Rotate(OpenFile* full);
  void Replace(OpenFile* old);

  std::wstring folder_;
  std::wstring path_;
  std::wstring rotatedPath_;
  std::atomic<OpenFile*> file_{nullptr};
  std::atomic<bool> opening_{false};
  std::atomic<uint64_t> nextOpenTryMs_{0};
  UniqueHandle rotation_;
};

// %LOCALAPPDATA%\IxaLoader; empty when the variable is not set.
std::wstring DefaultLogFolder();

}  // namespace Os
