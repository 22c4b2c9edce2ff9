#pragma once

#include <cstdint>
#include <cstdio>

#include "ui/status_codes.h"

// Hands a status text to the status window (code 0 Info, 1 Status, 2
// Session, 3 caption, 5 to 8 tray state; 5 also marks the module loaded).
// Callable from any thread; the module receives it as its status callback.
extern "C" void __cdecl ReportStatus(int32_t code, const char* text);

namespace Ixa {

using Ui::StatusCode;

// The loader's own reports.
inline void ReportStatus(StatusCode code, const char* text) { ::ReportStatus(static_cast<int32_t>(code), text); }
// ReportStatus with a printf-style text, formatted into 128 bytes (longer
// texts are cut to 127 characters).
void ReportStatusFormat(StatusCode code, const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

}  // namespace Ixa
