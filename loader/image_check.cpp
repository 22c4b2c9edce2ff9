#include "loader/image_check.h"

#include <string>

#include "loader/loader_log.h"
#include "loader/module_image.h"
#include "loader/status_report.h"

namespace Ixa {

namespace {
constexpr const char* kSource = "loader\\image_check";
// Enough of the digest to tell one module from another on the Info line.
constexpr size_t kShownDigits = 16;
}  // namespace

bool CheckImage(const DpImage& image, const sockaddr_in& console, const TrustPolicy& policy) {
  ModuleImage module;
  if (!ReadModuleImage(image.bytes.get(), image.size, &module) || module.machine != ThisMachine()) {
    ReportStatus(StatusCode::Info, "Virtual DP DLL file corrupt");
    return false;
  }
  if (!module.HasEveryEntryPoint()) {
    ReportStatus(StatusCode::Info, "Couldn't build table");
    return false;
  }
  Os::Sha256Digest digest{};
  const bool hashed = Os::ComputeSha256(image.bytes.get(), image.size, &digest);
  const std::string hex = hashed ? Os::HexDigest(digest) : std::string("(not computed)");
  const bool trusted = hashed ? IsModuleTrusted(digest, policy) : !policy.restrictsModules;
  WriteRecord(ModuleLog(), trusted ? Os::Log::kNotice : Os::Log::kWarning, kSource, "CheckImage", __LINE__,
              std::string(trusted ? "Module taken" : "Module refused") + ": SHA-256 " + hex + ", " +
                  std::to_string(image.size) + " bytes, from console " + inet_ntoa(console.sin_addr));
  if (!trusted) {
    ReportStatusFormat(StatusCode::Info, "DP image not trusted (SHA-256 %s)", hex.substr(0, kShownDigits).c_str());
    return false;
  }
  return true;
}

}  // namespace Ixa
