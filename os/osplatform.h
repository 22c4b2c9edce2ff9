#pragma once

#include <cstdint>
#include <string>

namespace Os {

// Facts about the machine, gathered once per process.
struct PlatformRecord {
  int32_t productType = 0;
  bool compactMode = false;
  std::wstring oemRevision;
  std::wstring operatingSystem;
  std::wstring processor;
  uint64_t physicalMemory = 0;
  std::wstring buildDate;
  std::wstring memoryText;
};

// Constructing any Platform creates the process-wide record on first use; it
// is never freed.
class Platform {
 public:
  Platform();
  virtual ~Platform() = default;

  int32_t GetProductType() const;
  const PlatformRecord& Record() const;
  // The display name of the product this library belongs to.
  std::wstring ProductName() const;
};

}  // namespace Os
