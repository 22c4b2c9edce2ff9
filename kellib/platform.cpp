#include "kellib/platform.h"

#include <cstdlib>

namespace kel {
namespace {

uint32_t NoStack(uintptr_t*) { return 0; }
std::string NoStackText(const uintptr_t*, uint32_t, uint32_t) { return std::string(); }
void AbortAtOnce(const char*, int, const char*) { std::abort(); }

Platform gPlatform{&NoStack, &NoStackText, &AbortAtOnce};

}  // namespace

void InstallPlatform(const Platform& platform) { gPlatform = platform; }

const Platform& InstalledPlatform() { return gPlatform; }

}  // namespace kel
