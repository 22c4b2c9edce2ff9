#include "os/osfilelogwriter.h"

#include <windows.h>

#include <cstdio>

#include "kellib/text.h"

namespace Os {
namespace {

// A file that cannot be opened is tried again after this long, not on every
// record.
constexpr uint64_t kOpenRetryMs = 10000;
constexpr const wchar_t* kRotationMutex = L"Local\\IxaLoader log rotation";
// Other processes append too: the size is read again this often.
constexpr int kWritesBetweenSizeReads = 64;

int64_t SizeAt(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

void AppendDateTime(kel::text& line) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond, now.wMilliseconds);
  line.Append(stamp);
}

}  // namespace

FileLogWriter::FileLogWriter(std::string name, std::wstring folder, std::wstring baseName)
    : Log::Writer(std::move(name)),
      folder_(std::move(folder)),
      path_(folder_ + L"\\" + baseName + L".log"),
      rotatedPath_(folder_ + L"\\" + baseName + L".1.log") {}

FileLogWriter::~FileLogWriter() {
  if (OpenFile* file = file_.load()) CloseHandle(file->handle);
}

bool FileLogWriter::Write(const Log::Record& record) {
  kel::text line = kel::text::Make(2048, 0);
  AppendDateTime(line);
  line.Append(" ").AppendUnsigned(record.processId).Append(" ").Append(record.processName);
  line.Append(" ").Append(record.threadName).Append(" ").Append(record.file).Append(":");
  line.AppendUnsigned(record.line).Append("] ");
  line.AppendRun(record.text, record.textLength);
  if (line.size == 0 || line.Content()[line.size - 1] != '\n') line.Append("\r\n");

  OpenFile* file = Use();
  if (file == nullptr) return false;
  DWORD written = 0;
  const bool wrote =
      WriteFile(file->handle, line.Content(), static_cast<DWORD>(line.size), &written, nullptr) && written == line.size;
  const bool full = PastLimit(file, written);
  file->users.fetch_sub(1);
  if (full) Rotate(file);
  return wrote;
}

bool FileLogWriter::PastLimit(OpenFile* file, size_t written) {
  const int64_t estimate = file->knownSize.fetch_add(static_cast<int64_t>(written)) + static_cast<int64_t>(written);
  if (estimate < kRotateBytes && file->writes.fetch_add(1) % kWritesBetweenSizeReads != 0) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file->handle, &size)) return false;
  file->knownSize.store(size.QuadPart);
  return size.QuadPart >= kRotateBytes;
}

FileLogWriter::OpenFile* FileLogWriter::Use() {
  // Counted first, then checked to be still current: a file replaced in
  // between is let go of again, and closed by nobody while counted.
  for (int tries = 0; tries < 2; ++tries) {
    OpenFile* file = file_.load();
    if (file == nullptr && (file = OpenIfDue()) == nullptr) return nullptr;
    file->users.fetch_add(1);
    if (file_.load() == file) return file;
    file->users.fetch_sub(1);
  }
  return nullptr;
}

FileLogWriter::OpenFile* FileLogWriter::OpenIfDue() {
  const uint64_t now = GetTickCount64();
  if (now < nextOpenTryMs_.load() || opening_.exchange(true)) return nullptr;
  OpenFile* opened = nullptr;
  if (file_.load() == nullptr) {
    CreateDirectoryW(folder_.c_str(), nullptr);
    HANDLE handle = CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      opened = new OpenFile{handle};
      PastLimit(opened, 0);
      file_.store(opened);
    } else {
      nextOpenTryMs_.store(now + kOpenRetryMs);
    }
  }
  opening_.store(false);
  return opened != nullptr ? opened : file_.load();
}

void FileLogWriter::Rotate(OpenFile* full) {
  if (!rotation_) rotation_.reset(CreateMutexW(nullptr, FALSE, kRotationMutex));
  const DWORD taken = rotation_ ? WaitForSingleObject(rotation_.get(), 0) : WAIT_FAILED;
  if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED) {
    if (SizeAt(path_) >= kRotateBytes) MoveFileExW(path_.c_str(), rotatedPath_.c_str(), MOVEFILE_REPLACE_EXISTING);
    ReleaseMutex(rotation_.get());
  }
  // Renamed by this process or another: the file at the path is a new one.
  if (SizeAt(path_) < kRotateBytes) Replace(full);
}

void FileLogWriter::Replace(OpenFile* old) {
  if (opening_.exchange(true)) return;
  if (file_.load() == old) {
    HANDLE handle = CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      auto* fresh = new OpenFile{handle};
      PastLimit(fresh, 0);
      file_.store(fresh);
      // A thread still counted on it closes nothing; the handle then stays.
      if (old->users.load() == 0) CloseHandle(old->handle);
    }
  }
  opening_.store(false);
}

std::wstring DefaultLogFolder() {
  wchar_t folder[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(folder, length) + L"\\IxaLoader";
}

}  // namespace Os
