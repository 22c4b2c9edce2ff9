/* A host with no C runtime: it links IxaLoader.lib and kernel32 only, calls
 * StartDetect and ShutdownOB through the import library, and exits with 0
 * when StartDetect returned 1, as it always does.
 *
 * MSVC (x86 Native Tools prompt, from the package's root):
 *   cl /c /O1 /GS- /Iinclude examples\tools\c_host\ixa_c_host.c
 *   link /entry:HostMain /nodefaultlib /subsystem:console ixa_c_host.obj lib\IxaLoader.lib kernel32.lib
 * clang and lld-link (what the package's tests do):
 *   clang --target=i686-pc-windows-msvc -ffreestanding -O1 -Iinclude -c examples/tools/c_host/ixa_c_host.c
 *   lld-link /entry:HostMain /nodefaultlib /subsystem:console ixa_c_host.o lib/IxaLoader.lib kernel32.lib
 * Run it beside bin/IxaLoader.dll. */
#include "IxaLoader.h"

/* The three kernel32 functions it needs, declared here: no SDK header is
 * needed to build it. */
__declspec(dllimport) void __stdcall ExitProcess(unsigned int exitCode);
__declspec(dllimport) void *__stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void *file, const void *bytes, unsigned long count,
                                              unsigned long *written, void *overlapped);

static void Say(const char *text) {
  unsigned long length = 0;
  unsigned long written = 0;
  while (text[length] != '\0') ++length;
  WriteFile(GetStdHandle((unsigned long)-11), text, length, &written, 0); /* standard output */
}

void HostMain(void) {
  int32_t started = StartDetect();
  ShutdownOB(1);
  Say(started == 1 ? "c host: StartDetect returned 1, ShutdownOB(1) returned\r\n"
                   : "c host: StartDetect did not return 1\r\n");
  ExitProcess(started == 1 ? 0 : 1);
}
