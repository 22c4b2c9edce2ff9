#include "ui/ui_module.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace Ui {

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

void ThrowInvalidArgument() { throw invalid_argument_error(); }

}  // namespace Ui
