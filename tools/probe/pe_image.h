#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the headers of a Windows DLL say, read from bytes in memory: nothing
// is loaded, saved or run.
struct PeImage {
  uint16_t machine = 0;  // IMAGE_FILE_MACHINE_*
  std::vector<std::string> exportNames;
};

// Reads the PE headers and the names of the export table. False when the
// bytes are no Windows DLL: no PE image, not a DLL, or headers, sections or
// export table cut short or pointing outside the bytes.
bool ReadPeImage(const uint8_t* bytes, size_t size, PeImage* image);

// "i386", "x86-64", or "machine 0x...." for any other.
std::string MachineName(uint16_t machine);
