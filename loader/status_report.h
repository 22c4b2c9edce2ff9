#pragma once

#include <cstdint>

// Hands a status text to the status window (code 0 Info, 1 Status, 2
// Session, 3 caption, 5 to 8 tray state; 5 also marks the module loaded).
// Callable from any thread; the module receives it as its status callback.
extern "C" void __cdecl ReportStatus(int32_t code, const char* text);
