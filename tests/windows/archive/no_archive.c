/* A module without a "ZIPRES" resource, for the fallback to the resource folder. */
#include <windows.h>

__declspec(dllexport) int NoArchiveMarker(void) { return 1; }
