#include <windows.h>

#include "loader/instance.h"
#include "os/osboundary.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  return Os::Contain("the library entry point", FALSE, [&]() -> BOOL {
    switch (reason) {
      case DLL_PROCESS_ATTACH:
        return Ixa::InitInstance() ? TRUE : FALSE;
      case DLL_PROCESS_DETACH:
        Ixa::ExitInstance(reserved != nullptr);
        return TRUE;
      default:
        return TRUE;
    }
  });
}
