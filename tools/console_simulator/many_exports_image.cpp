#include "tools/console_simulator/many_exports_image.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "loader/processor_api.h"

namespace {

constexpr uint32_t kFillerNames = 700000;
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
// The headers take the first page; the one section, the export data, follows.
constexpr uint32_t kSectionRva = kSectionAlignment;

uint32_t AlignUp(size_t value, uint32_t alignment) {
  return static_cast<uint32_t>((value + alignment - 1) / alignment * alignment);
}

template <typename T>
void Put(std::vector<uint8_t>* bytes, size_t offset, const T& value) {
  std::memcpy(bytes->data() + offset, &value, sizeof(T));
}

// The export directory, one function, the name pointers and their ordinals
// (all 0), then the names; addresses as the section is mapped.
std::vector<uint8_t> ExportSection(uint32_t names) {
  const uint32_t functionsAt = sizeof(IMAGE_EXPORT_DIRECTORY);
  const uint32_t pointersAt = functionsAt + sizeof(DWORD);
  const uint32_t ordinalsAt = pointersAt + names * sizeof(DWORD);
  std::vector<uint8_t> section(ordinalsAt + names * sizeof(WORD));
  for (uint32_t i = 0; i < names; ++i) {
    char filler[16];
    std::snprintf(filler, sizeof(filler), "x%07u", i);
    const char* name = i < kFillerNames ? filler : kProcessorEntryPoints[i - kFillerNames];
    Put(&section, pointersAt + i * sizeof(DWORD), static_cast<DWORD>(kSectionRva + section.size()));
    section.insert(section.end(), name, name + std::strlen(name) + 1);
  }
  IMAGE_EXPORT_DIRECTORY directory{};
  directory.NumberOfFunctions = 1;
  directory.NumberOfNames = names;
  directory.AddressOfFunctions = kSectionRva + functionsAt;
  directory.AddressOfNames = kSectionRva + pointersAt;
  directory.AddressOfNameOrdinals = kSectionRva + ordinalsAt;
  Put(&section, 0, directory);
  return section;
}

}  // namespace

std::vector<uint8_t> ManyExportsImage() {
  std::vector<uint8_t> section = ExportSection(kFillerNames + kProcessorEntryPointCount - 1);
  const uint32_t used = static_cast<uint32_t>(section.size());
  section.resize(AlignUp(used, kFileAlignment));

  IMAGE_DOS_HEADER dos{};
  dos.e_magic = IMAGE_DOS_SIGNATURE;
  dos.e_lfanew = sizeof(dos);
  IMAGE_NT_HEADERS32 nt{};
  nt.Signature = IMAGE_NT_SIGNATURE;
  nt.FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
  nt.FileHeader.NumberOfSections = 1;
  nt.FileHeader.SizeOfOptionalHeader = sizeof(nt.OptionalHeader);
  nt.FileHeader.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_32BIT_MACHINE | IMAGE_FILE_DLL;
  nt.OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
  nt.OptionalHeader.ImageBase = 0x10000000;
  nt.OptionalHeader.SectionAlignment = kSectionAlignment;
  nt.OptionalHeader.FileAlignment = kFileAlignment;
  nt.OptionalHeader.MajorSubsystemVersion = 6;
  nt.OptionalHeader.SizeOfImage = AlignUp(kSectionRva + used, kSectionAlignment);
  nt.OptionalHeader.SizeOfHeaders = kFileAlignment;
  nt.OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
  nt.OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
  nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT] = {kSectionRva, used};
  IMAGE_SECTION_HEADER header{};
  std::memcpy(header.Name, ".edata", 6);
  header.Misc.VirtualSize = used;
  header.VirtualAddress = kSectionRva;
  header.SizeOfRawData = static_cast<DWORD>(section.size());
  header.PointerToRawData = kFileAlignment;
  header.Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;

  std::vector<uint8_t> image(kFileAlignment + section.size());
  Put(&image, 0, dos);
  Put(&image, sizeof(dos), nt);
  Put(&image, sizeof(dos) + sizeof(nt), header);
  std::copy(section.begin(), section.end(), image.begin() + kFileAlignment);
  return image;
}
