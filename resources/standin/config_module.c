/*
 * STAND-IN printer configuration module (ZNWA3UIV.dll, ZNWA4UIV.dll,
 * ZNWA6UIV.dll for 32-bit x86).
 *
 * Not ZNW's module: it lets a test system create a print queue with the
 * stand-in driver, because the spooler loads the configuration module and asks
 * it for the default DEVMODEW when a queue is created. It has no property
 * sheets and prints nothing. Release builds carry the vendor's module instead
 * (DRIVER_PAYLOAD_DIR).
 *
 * Freestanding (no C runtime): only the two driver entry points and DllMain.
 * Built by resources/standin/build.sh; MODEL_PAPER, MODEL_WIDTH and
 * MODEL_LENGTH (0.1 mm) select the model's paper.
 */
#include <windows.h>
#include <winddiui.h>

#ifndef MODEL_PAPER
#define MODEL_PAPER DMPAPER_A4
#define MODEL_WIDTH 2100
#define MODEL_LENGTH 2970
#endif

#define DRIVER_VERSION 0x0300

/* The header the spooler hands over when it has no property-sheet session
 * (layout of the DDK's DOCUMENTPROPERTYHEADER). */
typedef struct {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    PDEVMODEW pdmIn;
    PDEVMODEW pdmOut;
    DWORD cbOut;
    DWORD fMode;
} StandInPropertyHeader;

static void Clear(void* p, DWORD n) {
    volatile BYTE* b = (volatile BYTE*)p;
    while (n--) *b++ = 0;
}

static void CopyName(WCHAR* to, const WCHAR* from, int capacity) {
    int i = 0;
    if (from != NULL) {
        for (; i < capacity - 1 && from[i] != 0; ++i) to[i] = from[i];
    }
    to[i] = 0;
}

static void DefaultDevMode(DEVMODEW* dm, const WCHAR* printer) {
    Clear(dm, sizeof(*dm));
    CopyName(dm->dmDeviceName, printer, CCHDEVICENAME);
    dm->dmSpecVersion = DM_SPECVERSION;
    dm->dmDriverVersion = DRIVER_VERSION;
    dm->dmSize = sizeof(DEVMODEW);
    dm->dmDriverExtra = 0;
    dm->dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE |
                   DM_PRINTQUALITY | DM_YRESOLUTION;
    dm->dmOrientation = DMORIENT_PORTRAIT;
    dm->dmPaperSize = MODEL_PAPER;
    if (MODEL_PAPER == DMPAPER_USER) {
        dm->dmFields |= DM_PAPERWIDTH | DM_PAPERLENGTH;
        dm->dmPaperWidth = MODEL_WIDTH;
        dm->dmPaperLength = MODEL_LENGTH;
    }
    dm->dmCopies = 1;
    dm->dmDefaultSource = DMBIN_AUTO;
    dm->dmPrintQuality = 300;
    dm->dmYResolution = 300;
}

/* Takes over the settings a caller passed in that this module understands. */
static void MergeDevMode(DEVMODEW* dm, const DEVMODEW* in) {
    if (in == NULL || in->dmSize < FIELD_OFFSET(DEVMODEW, dmFormName)) return;
    if (in->dmFields & DM_ORIENTATION) dm->dmOrientation = in->dmOrientation;
    if ((in->dmFields & DM_COPIES) && in->dmCopies > 0) dm->dmCopies = in->dmCopies;
}

LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM param) {
    StandInPropertyHeader* header = (StandInPropertyHeader*)param;
    if (info != NULL || header == NULL) {
        return -1; /* no property sheets in the stand-in */
    }
    if (header->fMode == 0 || header->pdmOut == NULL) {
        header->cbOut = sizeof(DEVMODEW);
        return (LONG)header->cbOut;
    }
    if (header->cbOut < sizeof(DEVMODEW)) {
        return -1;
    }
    DefaultDevMode(header->pdmOut, header->pszPrinterName);
    if (header->fMode & DM_IN_BUFFER) {
        MergeDevMode(header->pdmOut, header->pdmIn);
    }
    return IDOK;
}

DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, PWSTR device, WORD capability, PVOID output,
                                   PDEVMODEW devmode) {
    (void)printer;
    (void)device;
    (void)devmode;
    switch (capability) {
        case DC_FIELDS: {
            DEVMODEW dm;
            DefaultDevMode(&dm, NULL);
            return dm.dmFields;
        }
        case DC_PAPERS:
            if (output) *(WORD*)output = MODEL_PAPER;
            return 1;
        case DC_PAPERSIZE:
            if (output) {
                ((POINT*)output)->x = MODEL_WIDTH;
                ((POINT*)output)->y = MODEL_LENGTH;
            }
            return 1;
        case DC_MINEXTENT:
        case DC_MAXEXTENT:
            return MAKELONG(MODEL_WIDTH, MODEL_LENGTH);
        case DC_BINS:
            if (output) *(WORD*)output = DMBIN_AUTO;
            return 1;
        case DC_DUPLEX:
        case DC_EXTRA:
        case DC_COLLATE:
        case DC_COLORDEVICE:
            return 0;
        case DC_SIZE:
            return sizeof(DEVMODEW);
        case DC_VERSION:
            return DM_SPECVERSION;
        case DC_DRIVER:
            return DRIVER_VERSION;
        case DC_COPIES:
            return 999;
        case DC_ORIENTATION:
            return 90;
        case DC_ENUMRESOLUTIONS:
            if (output) {
                ((LONG*)output)[0] = 300;
                ((LONG*)output)[1] = 300;
            }
            return 1;
        default:
            return GDI_ERROR;
    }
}

BOOL WINAPI DllEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
