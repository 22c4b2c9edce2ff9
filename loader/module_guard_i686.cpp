#include "loader/module_guard.h"

EXCEPTION_DISPOSITION NTAPI ModuleFaultHandler(EXCEPTION_RECORD* exception, void* establisher, CONTEXT*, void*) {
  if ((exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  RtlUnwind(establisher, nullptr, exception, nullptr);
  __builtin_longjmp(static_cast<FaultFrame*>(establisher)->resume, 1);
}
