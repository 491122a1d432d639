/* A driver module's neighbour: a DLL the configuration module imports, found
 * only in the driver directory beside it. */
#include <windows.h>

__declspec(dllexport) int WINAPI TdeNeighbourValue(void) {
    return 42;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
