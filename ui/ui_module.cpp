#include "ui/ui_module.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace Ui {

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

ResourceData FindResourceData(int id, const wchar_t* type) {
  HMODULE module = ModuleInstance();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return {};
  const void* data = LockResource(LoadResource(module, found));
  if (data == nullptr) return {};
  return {data, SizeofResource(module, found)};
}

void ThrowInvalidArgument() { throw invalid_argument_error(); }

}  // namespace Ui
