// The Win32 error codes the program names, in one table, so portable code,
// the fakes and the tests speak of them by name.
#pragma once

#include <cstdint>

namespace tde {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorInvalidLevel = 124;
inline constexpr uint32_t kErrorProcNotFound = 127;
inline constexpr uint32_t kErrorDirNotEmpty = 145;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorRpcServerUnavailable = 1722;
inline constexpr uint32_t kErrorInvalidUserBuffer = 1784;
// ERROR_UNIDENTIFIED_ERROR: what a refused call that set no error reports.
inline constexpr uint32_t kErrorUnidentifiedError = 1287;
inline constexpr uint32_t kErrorUnknownPort = 1796;
inline constexpr uint32_t kErrorUnknownPrinterDriver = 1797;
inline constexpr uint32_t kErrorUnknownPrintProcessor = 1798;
inline constexpr uint32_t kErrorInvalidPrinterName = 1801;
inline constexpr uint32_t kErrorPrinterAlreadyExists = 1802;
inline constexpr uint32_t kErrorInvalidDatatype = 1804;
inline constexpr uint32_t kErrorPrinterDriverInUse = 3001;
inline constexpr uint32_t kErrorPrinterDriverPackageInUse = 3015;

// The HRESULT a Win32 error code becomes in the package operations.
constexpr int32_t HresultFromWin32(uint32_t error) {
    return error == 0 ? 0 : static_cast<int32_t>((error & 0xFFFFu) | 0x80070000u);
}

}  // namespace tde
