/* A configuration module that needs its neighbour DLL: the spooler can load it
 * only when the driver directory is searched for its imports. */
#include <windows.h>

__declspec(dllimport) int WINAPI TdeNeighbourValue(void);

typedef struct {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    PDEVMODEW pdmIn;
    PDEVMODEW pdmOut;
    DWORD cbOut;
    DWORD fMode;
} DocumentPropertyHeader;

LONG WINAPI DrvDocumentPropertySheets(void* sheetInfo, LPARAM lParam) {
    DocumentPropertyHeader* header = (DocumentPropertyHeader*)lParam;
    if (sheetInfo != NULL || header == NULL || TdeNeighbourValue() != 42) {
        return -1;
    }
    if (header->fMode == 0 || header->pdmOut == NULL) {
        return sizeof(DEVMODEW);
    }
    if (header->cbOut < sizeof(DEVMODEW)) {
        return -1;
    }
    ZeroMemory(header->pdmOut, sizeof(DEVMODEW));
    header->pdmOut->dmSpecVersion = DM_SPECVERSION;
    header->pdmOut->dmSize = sizeof(DEVMODEW);
    return 1;
}

DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, PWSTR device, WORD capability, void* output,
                                   PDEVMODEW devMode) {
    (void)printer;
    (void)device;
    (void)capability;
    (void)output;
    (void)devMode;
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
