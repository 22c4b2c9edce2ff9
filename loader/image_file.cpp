#include "loader/image_file.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "loader/loader_state.h"
#include "loader/status_report.h"

namespace Ixa {

namespace {

constexpr size_t kImagePathSize = 1024;
constexpr char kFolderPrefix[] = "IxaLoader-";
constexpr char kImageName[] = "Ixa.dll";
// Folders found in the way before a save gives up.
constexpr unsigned kFolderTries = 16;

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The folder, made new and opened so that it can be neither removed nor
// renamed while it is held; none when it was there already or is no plain
// folder.
Os::UniqueHandle MakeOwnFolder(const std::string& folder) {
  if (!CreateDirectoryA(folder.c_str(), nullptr)) return {};
  Os::UniqueHandle held(CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!held || !GetFileInformationByHandle(held.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return {};
  }
  return held;
}

bool ProcessEnded(DWORD pid) {
  Os::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  return GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE;
}

// Once per process, before its first save: the folders of hosts that ended
// without ShutdownOB(1) (a crash, a module left loaded). Plain folders
// only; a link found there is left alone.
void RemoveFoldersOfEndedProcesses(const std::string& temp) {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((temp + kFolderPrefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const char* pid = found.cFileName + std::strlen(kFolderPrefix);
    char* end = nullptr;
    const unsigned long owner = std::strtoul(pid, &end, 10);
    if (end == pid || (*end != '\0' && *end != '-') || owner == GetCurrentProcessId()) continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !ProcessEnded(owner)) {
      continue;
    }
    const std::string folder = temp + found.cFileName;
    DeleteFileA((folder + "\\" + kImageName).c_str());
    RemoveDirectoryA(folder.c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// Whether the file holds exactly the image, read through handle.
bool ReadsBackAs(HANDLE handle, const DpImage& image) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size) || static_cast<uint64_t>(size.QuadPart) != image.size) return false;
  uint8_t chunk[64 * 1024];
  for (size_t at = 0; at < image.size;) {
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(image.size - at < sizeof(chunk) ? image.size - at : sizeof(chunk));
    if (!ReadFile(handle, chunk, wanted, &read, nullptr) || read != wanted ||
        std::memcmp(chunk, image.bytes.get() + at, read) != 0) {
      return false;
    }
    at += read;
  }
  return true;
}

}  // namespace

bool MakeImagePath(char* buffer, size_t size, unsigned serial) {
  const DWORD length = GetTempPathA(static_cast<DWORD>(size), buffer);
  if (length == 0 || length >= size) return false;
  char folder[64];
  if (serial == 0) {
    std::snprintf(folder, sizeof(folder), "%s%lu\\%s", kFolderPrefix, GetCurrentProcessId(), kImageName);
  } else {
    std::snprintf(folder, sizeof(folder), "%s%lu-%u\\%s", kFolderPrefix, GetCurrentProcessId(), serial, kImageName);
  }
  if (length + std::strlen(folder) + 1 > size) return false;
  std::memcpy(buffer + length, folder, std::strlen(folder) + 1);
  return true;
}

bool SaveImage(const DpImage& image, Os::UniqueHandle* heldOpen) {
  LoaderState& state = Loader();
  RemoveImageFile();
  char path[kImagePathSize];
  if (!MakeImagePath(path, sizeof(path), state.imageSerial)) {
    ReportStatus(StatusCode::Info, "Couldn't save DP image");
    return false;
  }
  RemoveFoldersOfEndedProcesses(FolderOf(FolderOf(path)) + "\\");
  Os::UniqueHandle folder;
  for (unsigned tries = 0; tries < kFolderTries && !folder; ++tries) {
    if (!MakeImagePath(path, sizeof(path), state.imageSerial)) break;
    folder = MakeOwnFolder(FolderOf(path));
    if (!folder) ++state.imageSerial;  // in the way: never used
  }
  if (!folder) {
    ReportStatus(StatusCode::Info, "Couldn't get file handle");
    return false;
  }
  state.imageFolder = std::move(folder);
  state.imageFolderPath = FolderOf(path);

  {
    Os::UniqueHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file) {
      ReportStatus(StatusCode::Info, "Couldn't get file handle");
      return false;
    }
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(image.size);
    if (!WriteFile(file.get(), image.bytes.get(), size, &written, nullptr) || written != size) {
      ReportStatus(StatusCode::Info, "Error saving DP image");
      return false;
    }
  }
  state.savedImagePath = path;
  heldOpen->reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!*heldOpen) {
    ReportStatusFormat(StatusCode::Info, "Could not find Virtual DP DLL: %s", path);
    return false;
  }
  if (!ReadsBackAs(heldOpen->get(), image)) {
    ReportStatus(StatusCode::Info, "Virtual DP DLL file corrupt");
    return false;
  }
  return true;
}

void RemoveImageFile() {
  LoaderState& state = Loader();
  if (!state.savedImagePath.empty()) DeleteFileA(state.savedImagePath.c_str());
  state.imageFolder.reset();
  if (state.imageFolderPath.empty()) return;
  RemoveDirectoryA(state.imageFolderPath.c_str());
  if (Exists(state.imageFolderPath)) ++state.imageSerial;
  state.imageFolderPath.clear();
}

}  // namespace Ixa
