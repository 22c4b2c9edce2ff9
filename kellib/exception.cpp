#include "kellib/exception.h"

#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "kellib/platform.h"
#include "kellib/text.h"

namespace kel {

exception::exception() { stackDepth = InstalledPlatform().captureStack(stack); }

exception::exception(std::wstring text) : message(std::move(text)) {
  stackDepth = InstalledPlatform().captureStack(stack);
}

std::wstring exception::Description() const { return message.empty() ? Widen(TypeName()) : message; }

std::wstring exception::StackText() const { return Widen(InstalledPlatform().formatStack(stack, stackDepth, 1)); }

std::string exception::TypeName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

}  // namespace kel
