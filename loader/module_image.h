#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Ixa {

// What a processor module image says of itself, read from its bytes in
// memory: nothing is loaded, saved or run. Every read is checked against
// the end of the bytes, and the work is bounded by their size whatever the
// headers claim. Shared by the loader, which checks an image before it is
// written anywhere, and the console probe.
struct ModuleImage {
  uint16_t machine = 0;  // IMAGE_FILE_MACHINE_*
  // Bit i: kProcessorEntryPoints[i] is exported by that name.
  uint32_t entryPoints = 0;

  int EntryPointCount() const;
  bool HasEveryEntryPoint() const;
};

// Reads the headers and looks the sixteen entry points up in the export
// table. False when the bytes are no Windows DLL: no PE image, not a DLL,
// more sections than Windows maps, or headers, sections or export table cut
// short or pointing outside the bytes.
bool ReadModuleImage(const uint8_t* bytes, size_t size, ModuleImage* image);

// The machine this code runs as: a module for any other cannot be loaded.
uint16_t ThisMachine();

// "i386", "x86-64", or "machine 0x...." for any other.
std::string MachineName(uint16_t machine);

}  // namespace Ixa
