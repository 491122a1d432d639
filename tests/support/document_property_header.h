/* The header the spooler hands a printer driver's configuration module when it
 * wants a DEVMODEW without a property sheet (the DDK's DOCUMENTPROPERTYHEADER,
 * which mingw's headers lack). C, for the stand-in module, and C++. */
#pragma once

#include <windows.h>

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
