// The print spooler boundary: every spooler operation the installer calls,
// behind one interface, with an implementation over "winspool.drv" on Windows
// and an in-memory spooler for tests (memory_spooler.h).
//
// The operations keep the shape of the spooler's own: enumerations answer the
// bytes they need when the buffer is missing or short (false, last error 122)
// and fill records followed by their strings otherwise; after a failure the
// caller reads LastError(). Record types mirror the Win32 ones field for field,
// so the Windows implementation hands them through unchanged.
#pragma once

#include "base/errors.h"
#include "base/handles.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// --- Flags and values ----------------------------------------------------------------------
inline constexpr uint32_t kPrinterEnumLocal = 0x2;
inline constexpr uint32_t kPrinterEnumConnections = 0x4;
inline constexpr uint32_t kPrinterEnumNetwork = 0x40;
inline constexpr uint32_t kPrinterAllAccess = 0xF000C;
inline constexpr uint32_t kPrinterAttributeLocal = 0x40;
inline constexpr uint32_t kApdCopyAllFiles = 0x4;
inline constexpr uint32_t kDpdDeleteUnusedFiles = 0x1;
inline constexpr uint32_t kDpdDeleteSpecificVersion = 0x2;
inline constexpr uint32_t kUpdpSilentUpload = 0x1;
inline constexpr uint32_t kUpdpUploadAlways = 0x2;
inline constexpr uint32_t kIpdfpCopyAllFiles = 0x1;

// A buffer larger than this is treated as one that cannot be allocated: no
// spooler list comes anywhere near it, so a bigger answer is a broken one.
inline constexpr uint32_t kMaxSpoolerBufferBytes = 64u * 1024u * 1024u;

// --- Records (layouts of PORT_INFO_2W, PRINTER_INFO_2W, DRIVER_INFO_1W/6W/8W) ----------------
struct FileTime {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

struct PortInfo2 {
    const char16_t* pPortName;
    const char16_t* pMonitorName;
    const char16_t* pDescription;
    uint32_t fPortType;
    uint32_t Reserved;
};

struct PrinterInfo2 {
    const char16_t* pServerName;
    const char16_t* pPrinterName;
    const char16_t* pShareName;
    const char16_t* pPortName;
    const char16_t* pDriverName;
    const char16_t* pComment;
    const char16_t* pLocation;
    void* pDevMode;
    const char16_t* pSepFile;
    const char16_t* pPrintProcessor;
    const char16_t* pDatatype;
    const char16_t* pParameters;
    void* pSecurityDescriptor;
    uint32_t Attributes;
    uint32_t Priority;
    uint32_t DefaultPriority;
    uint32_t StartTime;
    uint32_t UntilTime;
    uint32_t Status;
    uint32_t cJobs;
    uint32_t AveragePPM;
};

struct DriverInfo1 {
    const char16_t* pName;
};

struct DriverInfo6 {
    uint32_t cVersion;
    const char16_t* pName;
    const char16_t* pEnvironment;
    const char16_t* pDriverPath;
    const char16_t* pDataFile;
    const char16_t* pConfigFile;
    const char16_t* pHelpFile;
    const char16_t* pDependentFiles;  // double-NUL-terminated list
    const char16_t* pMonitorName;
    const char16_t* pDefaultDataType;
    const char16_t* pszzPreviousNames;
    FileTime ftDriverDate;
    uint64_t dwlDriverVersion;
    const char16_t* pszMfgName;
    const char16_t* pszOEMUrl;
    const char16_t* pszHardwareID;
    const char16_t* pszProvider;
};

struct DriverInfo8 {
    uint32_t cVersion;
    const char16_t* pName;
    const char16_t* pEnvironment;
    const char16_t* pDriverPath;
    const char16_t* pDataFile;
    const char16_t* pConfigFile;
    const char16_t* pHelpFile;
    const char16_t* pDependentFiles;
    const char16_t* pMonitorName;
    const char16_t* pDefaultDataType;
    const char16_t* pszzPreviousNames;
    FileTime ftDriverDate;
    uint64_t dwlDriverVersion;
    const char16_t* pszMfgName;
    const char16_t* pszOEMUrl;
    const char16_t* pszHardwareID;
    const char16_t* pszProvider;
    const char16_t* pszPrintProcessor;
    const char16_t* pszVendorSetup;
    const char16_t* pszzColorProfiles;
    const char16_t* pszInfPath;
    uint32_t dwPrinterDriverAttributes;
    const char16_t* pszzCoreDriverDependencies;
    FileTime ftMinInboxDriverVerDate;
    uint64_t dwlMinInboxDriverVerVersion;
};

// --- The interface ---------------------------------------------------------------------------
// Server, printer-name and environment arguments the installer never passes are
// absent: every call addresses the local spooler and the caller's default
// environment.
class Spooler {
  public:
    virtual ~Spooler() = default;

    // EnumPortsW, level 2 (PortInfo2 records).
    virtual bool EnumPortsW(uint32_t level, uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                            uint32_t* returned) = 0;
    // EnumPrintersW with no name, level 2 (PrinterInfo2 records).
    virtual bool EnumPrintersW(uint32_t flags, uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                               uint32_t* needed, uint32_t* returned) = 0;
    // EnumPrinterDriversW, level 1, 6 or 8 (DriverInfo1, DriverInfo6, DriverInfo8 records).
    virtual bool EnumPrinterDriversW(uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                                     uint32_t* needed, uint32_t* returned) = 0;
    // GetPrinterDriverDirectoryW, level 1: the directory as a NUL-terminated path.
    virtual bool GetPrinterDriverDirectoryW(uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                                            uint32_t* needed) = 0;
    // AddPrinterDriverExW, level 6; bare file names are looked up in the driver directory.
    virtual bool AddPrinterDriverExW(const DriverInfo6& driver, uint32_t copyFlags) = 0;
    // DeletePrinterDriverExW; last error 3001 while a queue uses the driver.
    virtual bool DeletePrinterDriverExW(const char16_t* driverName, uint32_t deleteFlags,
                                        uint32_t versionFlag) = 0;

    // The package operations exist only from Windows Vista on and are looked up
    // by name at each use: nullopt when the function is not there, else its HRESULT.
    virtual std::optional<int32_t> DeletePrinterDriverPackageW(const char16_t* infPath) = 0;
    virtual std::optional<int32_t> UploadPrinterDriverPackageW(const char16_t* infPath,
                                                               uint32_t flags, WindowHandle owner,
                                                               char16_t* destInfPath,
                                                               uint32_t* destInfPathChars) = 0;
    virtual std::optional<int32_t> InstallPrinterDriverFromPackageW(const char16_t* infPath,
                                                                    const char16_t* driverName,
                                                                    uint32_t flags) = 0;

    // OpenPrinterW with defaults of no datatype, no DEVMODE and the given access.
    virtual bool OpenPrinterW(const char16_t* printerName, PrinterHandle* printer,
                              uint32_t desiredAccess) = 0;
    virtual bool DeletePrinter(PrinterHandle printer) = 0;
    // DeletePrinterConnectionW: removes this machine's connection to another
    // computer's queue, leaving the shared queue itself alone.
    virtual bool DeletePrinterConnectionW(const char16_t* printerName) = 0;
    virtual bool ClosePrinter(PrinterHandle printer) = 0;
    // GetPrinterW, level 2: last error 122 and the size when the buffer is missing or short.
    virtual bool GetPrinterW(PrinterHandle printer, uint32_t level, uint8_t* buffer,
                             uint32_t bufferSize, uint32_t* needed) = 0;
    // SetPrinterW at level 2 with the whole record.
    virtual bool SetPrinterW(PrinterHandle printer, const PrinterInfo2& info, uint32_t command) = 0;
    // AddPrinterW with no server at level 2: a handle, or null on failure.
    virtual PrinterHandle AddPrinterW(const PrinterInfo2& info) = 0;
    // winspool.drv's ordinal 204: makes the named queue the default printer.
    virtual bool SetDefaultPrinterW(const char16_t* printerName) = 0;
    // GetDefaultPrinterW: the default printer's name into `buffer` of `*chars`
    // characters; false with 122 and the size when it is missing or short, false
    // with 2 when there is no default printer.
    virtual bool GetDefaultPrinterW(char16_t* buffer, uint32_t* chars) = 0;

    // The thread's last error, as the last failed operation left it.
    virtual uint32_t LastError() const = 0;
    virtual void SetLastError(uint32_t error) = 0;
};

// --- The two-call pattern ---------------------------------------------------------------------
enum class SpoolerFetch {
    Filled,            // the second call succeeded
    NothingNeeded,     // the size query answered 0 bytes
    AllocationFailed,  // the size could not be allocated
    FillFailed,        // the call into the buffer failed
    QueryFailed,       // the size query failed, and not for want of a buffer
};

struct SpoolerBuffer {
    SpoolerFetch outcome = SpoolerFetch::NothingNeeded;
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t size = 0;   // bytes allocated: exactly what the size query asked for
    uint32_t count = 0;  // records the second call reported
    uint32_t error = 0;  // last error after a failed fill or size query

    // The records, never more than the buffer holds; none when the fill failed.
    template <typename Record>
    const Record* Records(uint32_t* recordCount) const {
        *recordCount = outcome == SpoolerFetch::Filled && bytes
                           ? std::min<uint32_t>(count, size / sizeof(Record))
                           : 0;
        return reinterpret_cast<const Record*>(bytes.get());
    }
};

// One call with no buffer for the size, then one into a buffer of exactly that
// size. `call` has the shape bool(uint8_t* buffer, uint32_t size, uint32_t* needed,
// uint32_t* returned). `zeroFill` clears the buffer before the second call.
SpoolerBuffer FetchTwice(Spooler& spooler,
                         const std::function<bool(uint8_t*, uint32_t, uint32_t*, uint32_t*)>& call,
                         bool zeroFill = false);

// The last error after a refused call; kErrorUnidentifiedError when the call
// left none, since 0 would read as success. Clear the error before the call.
uint32_t RefusalCode(const Spooler& spooler);

// The default printer's name; empty when there is none or it cannot be read.
std::u16string DefaultPrinterName(Spooler& spooler);

#ifdef _WIN32
// The spooler of this machine through "winspool.drv", loaded from the system
// folder only; its functions are resolved at run time (the default-printer
// function by its ordinal 204). Operations whose function cannot be found fail
// with last error 127.
std::unique_ptr<Spooler> CreateWin32Spooler();

// Adds the spooler's folder of version-3 driver files (the driver directory +
// "\3") to the restricted DLL search, once per process, so that a driver's
// configuration module loaded into this process finds the modules it imports
// beside it. True when the folder is (already) in the search.
bool AddDriverFolderToDllSearch(Spooler& spooler);

#endif

}  // namespace tde
