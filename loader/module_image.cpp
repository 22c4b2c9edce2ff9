#include "loader/module_image.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "loader/processor_api.h"

namespace Ixa {

namespace {

// The Windows loader maps no image with more sections.
constexpr int kMaxSections = 96;

// The image bytes; every read is checked against their end.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Holds(uint64_t offset, uint64_t length) const { return offset <= size_ && size_ - offset >= length; }

  template <typename T>
  bool Read(uint64_t offset, T* out) const {
    if (!Holds(offset, sizeof(T))) return false;
    std::memcpy(out, data_ + offset, sizeof(T));
    return true;
  }

  // Whether the zero-terminated name at offset is exactly name; reads no
  // further than name's length plus its terminator.
  bool NameIs(uint64_t offset, const char* name) const {
    const size_t length = std::strlen(name) + 1;
    return Holds(offset, length) && std::memcmp(data_ + offset, name, length) == 0;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Maps an address of the loaded image to its place in the file.
class Sections {
 public:
  // False when a header or a section's data lies past the end: an image
  // cut short cannot be mapped.
  bool Read(const Bytes& bytes, uint64_t offset, int count) {
    if (count > kMaxSections) return false;
    sections_.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      IMAGE_SECTION_HEADER& section = sections_[i];
      if (!bytes.Read(offset + static_cast<uint64_t>(i) * sizeof(IMAGE_SECTION_HEADER), &section) ||
          !bytes.Holds(section.PointerToRawData, section.SizeOfRawData)) {
        return false;
      }
    }
    return true;
  }

  bool ToOffset(uint32_t rva, uint64_t* offset) const {
    for (const IMAGE_SECTION_HEADER& section : sections_) {
      const uint64_t start = section.VirtualAddress;
      if (rva >= start && rva - start < section.SizeOfRawData) {
        *offset = static_cast<uint64_t>(section.PointerToRawData) + (rva - start);
        return true;
      }
    }
    return false;
  }

 private:
  std::vector<IMAGE_SECTION_HEADER> sections_;
};

// The export directory's entry of the optional header, PE32 or PE32+;
// an empty one when the header has none.
bool ReadExportDirectoryEntry(const Bytes& bytes, uint64_t optionalHeader, uint16_t optionalSize,
                              IMAGE_DATA_DIRECTORY* entry) {
  WORD magic = 0;
  if (!bytes.Read(optionalHeader, &magic)) return false;
  size_t countOffset, directoryOffset;
  if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    countOffset = offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
    directoryOffset = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
  } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    countOffset = offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
    directoryOffset = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
  } else {
    return false;
  }
  *entry = IMAGE_DATA_DIRECTORY{};
  // An optional header too short to hold the export entry has no exports.
  if (optionalSize < directoryOffset + sizeof(IMAGE_DATA_DIRECTORY)) return true;
  DWORD count = 0;
  if (!bytes.Read(optionalHeader + countOffset, &count)) return false;
  if (count <= IMAGE_DIRECTORY_ENTRY_EXPORT) return true;
  return bytes.Read(optionalHeader + directoryOffset + IMAGE_DIRECTORY_ENTRY_EXPORT * sizeof(IMAGE_DATA_DIRECTORY),
                    entry);
}

// Walks the name table once, comparing each name with the sixteen; a count
// larger than the bytes could hold fails at the first read past them.
bool FindEntryPoints(const Bytes& bytes, const Sections& sections, const IMAGE_DATA_DIRECTORY& entry, uint32_t* found) {
  *found = 0;
  if (entry.VirtualAddress == 0 || entry.Size == 0) return true;
  uint64_t offset = 0;
  IMAGE_EXPORT_DIRECTORY directory;
  if (!sections.ToOffset(entry.VirtualAddress, &offset) || !bytes.Read(offset, &directory)) return false;
  if (directory.NumberOfNames == 0) return true;
  uint64_t table = 0;
  if (!sections.ToOffset(directory.AddressOfNames, &table)) return false;
  for (DWORD i = 0; i < directory.NumberOfNames; ++i) {
    DWORD nameRva = 0;
    uint64_t nameOffset = 0;
    if (!bytes.Read(table + static_cast<uint64_t>(i) * sizeof(DWORD), &nameRva) ||
        !sections.ToOffset(nameRva, &nameOffset)) {
      return false;
    }
    for (int e = 0; e < kProcessorEntryPointCount; ++e) {
      if (bytes.NameIs(nameOffset, kProcessorEntryPoints[e])) *found |= 1u << e;
    }
  }
  return true;
}

}  // namespace

int ModuleImage::EntryPointCount() const { return __builtin_popcount(entryPoints); }

bool ModuleImage::HasEveryEntryPoint() const { return EntryPointCount() == kProcessorEntryPointCount; }

bool ReadModuleImage(const uint8_t* data, size_t size, ModuleImage* image) {
  const Bytes bytes(data, size);
  IMAGE_DOS_HEADER dos;
  if (!bytes.Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return false;
  const uint64_t ntHeaders = static_cast<uint32_t>(dos.e_lfanew);
  DWORD signature = 0;
  IMAGE_FILE_HEADER file;
  if (!bytes.Read(ntHeaders, &signature) || signature != IMAGE_NT_SIGNATURE ||
      !bytes.Read(ntHeaders + sizeof(signature), &file) || (file.Characteristics & IMAGE_FILE_DLL) == 0) {
    return false;
  }
  const uint64_t optionalHeader = ntHeaders + sizeof(signature) + sizeof(file);
  IMAGE_DATA_DIRECTORY exports;
  Sections sections;
  if (!ReadExportDirectoryEntry(bytes, optionalHeader, file.SizeOfOptionalHeader, &exports) ||
      !sections.Read(bytes, optionalHeader + file.SizeOfOptionalHeader, file.NumberOfSections)) {
    return false;
  }
  image->machine = file.Machine;
  return FindEntryPoints(bytes, sections, exports, &image->entryPoints);
}

uint16_t ThisMachine() {
#if defined(__x86_64__)
  return IMAGE_FILE_MACHINE_AMD64;
#else
  return IMAGE_FILE_MACHINE_I386;
#endif
}

std::string MachineName(uint16_t machine) {
  if (machine == IMAGE_FILE_MACHINE_I386) return "i386";
  if (machine == IMAGE_FILE_MACHINE_AMD64) return "x86-64";
  char text[32];
  std::snprintf(text, sizeof(text), "machine 0x%04x", machine);
  return text;
}

}  // namespace Ixa
