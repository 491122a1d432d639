/* A stand-in printer driver for the tests under Wine: just enough of a driver's
 * configuration module that the spooler can create a queue for it. Wine loads
 * it while adding a printer and asks it for the default DEVMODEW.
 * Built with TDE_STANDIN_NEEDS_NEIGHBOUR it imports a neighbour DLL, so the
 * spooler can load it only when its own folder is searched for imports. */
#include "document_property_header.h"

#ifdef TDE_STANDIN_NEEDS_NEIGHBOUR
__declspec(dllimport) int WINAPI TdeNeighbourValue(void);
#define NEIGHBOUR_MISSING() (TdeNeighbourValue() != 42)
#else
#define NEIGHBOUR_MISSING() 0
#endif

LONG WINAPI DrvDocumentPropertySheets(void* sheetInfo, LPARAM lParam) {
    DocumentPropertyHeader* header = (DocumentPropertyHeader*)lParam;
    if (sheetInfo != NULL || header == NULL || NEIGHBOUR_MISSING()) {
        return -1; /* no property sheets in a test driver */
    }
    if (header->fMode == 0 || header->pdmOut == NULL) {
        return sizeof(DEVMODEW); /* size query */
    }
    if (header->cbOut < sizeof(DEVMODEW)) {
        return -1;
    }
    ZeroMemory(header->pdmOut, sizeof(DEVMODEW));
    if (header->pszPrinterName != NULL) {
        lstrcpynW(header->pdmOut->dmDeviceName, header->pszPrinterName, CCHDEVICENAME);
    }
    header->pdmOut->dmSpecVersion = DM_SPECVERSION;
    header->pdmOut->dmSize = sizeof(DEVMODEW);
    return 1; /* IDOK */
}

DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, PWSTR device, WORD capability, void* output,
                                   PDEVMODEW devMode) {
    (void)printer;
    (void)device;
    (void)capability;
    (void)output;
    (void)devMode;
    return 0; /* no capabilities worth reporting */
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
