// The print spooler boundary: every spooler operation the installer calls,
// behind one interface, with an in-memory spooler for tests and (on Windows) an
// implementation over "winspool.drv".
//
// The operations keep the shape of the spooler's own: enumerations answer the
// bytes they need when the buffer is missing or short (false, last error 122)
// and fill records followed by their strings otherwise; after a failure the
// caller reads LastError(). Record types mirror the Win32 ones field for field,
// so the Windows implementation hands them through unchanged.
#pragma once

#include "base/errors.h"
#include "base/fault_plan.h"
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

// --- The in-memory spooler --------------------------------------------------------------------
enum class SpoolerOp {
    EnumPortsW,
    EnumPrintersW,
    EnumPrinterDriversW,
    GetPrinterDriverDirectoryW,
    AddPrinterDriverExW,
    DeletePrinterDriverExW,
    DeletePrinterDriverPackageW,
    UploadPrinterDriverPackageW,
    InstallPrinterDriverFromPackageW,
    OpenPrinterW,
    DeletePrinter,
    ClosePrinter,
    GetPrinterW,
    SetPrinterW,
    AddPrinterW,
    SetDefaultPrinterW,
    DeletePrinterConnectionW,
    GetDefaultPrinterW,
};

// One call as the in-memory spooler saw it.
struct SpoolerCall {
    SpoolerOp op;
    std::u16string name;  // printer, driver, port or INF path the call named, if any
    uint32_t level = 0;
    uint32_t flags = 0;       // enumeration, copy, delete or package flags; SetPrinterW's command
    bool withBuffer = false;  // enumerations and GetPrinterW: a buffer was passed
};

// A spooler in memory that keeps ports, drivers, queues, driver packages and the
// default printer, checks what the real one checks, logs every call and fails
// any call on request.
class MemorySpooler final : public Spooler {
  public:
    struct Port {
        std::u16string name;
        std::u16string monitor = u"Local Port";
        std::u16string description = u"Local Port";
        uint32_t type = 1;
    };
    struct Driver {
        std::u16string name;
        uint32_t version = 3;
        std::u16string environment = u"Windows NT x86";
        std::u16string driverPath;
        std::u16string dataFile;
        std::u16string configFile;
        std::u16string helpFile;
        std::vector<std::u16string> dependentFiles;
        std::u16string mfgName;
        std::u16string provider;
        uint64_t driverVersion = 0;
        std::u16string infPath;  // driver-store INF path; empty when unknown
    };
    struct Queue {
        std::u16string name;
        std::u16string port;
        std::u16string driver;
        std::u16string printProcessor = u"WinPrint";
        std::u16string datatype = u"RAW";
        std::u16string shareName;
        std::u16string comment;
        std::u16string location;
        std::u16string sepFile;
        std::u16string parameters;
        uint32_t attributes = kPrinterAttributeLocal;
        uint32_t priority = 0;
        uint32_t defaultPriority = 0;
        uint32_t startTime = 0;
        uint32_t untilTime = 0;
        bool connection = false;  // a connection to another computer's queue
        bool openable = true;     // false: listed, but every open fails with 1801
    };
    // A driver package that can be uploaded from `sourceInfPath`.
    struct Package {
        std::u16string sourceInfPath;
        std::vector<std::u16string> driverNames;
        std::u16string storeInfPath;  // set by the upload
        bool uploaded = false;
    };
    // What a queue created without a datatype gets.
    enum class NullDatatype {
        Raw,      // Windows: the spooler chooses RAW
        Refused,  // Wine: the queue is kept but cannot be opened; the call fails with 1801
    };

    static constexpr uint32_t kEveryCall = FaultLog<SpoolerOp, SpoolerCall>::kEveryCall;

    std::vector<Port> ports;
    std::vector<Driver> drivers;
    std::vector<Queue> queues;
    std::vector<Package> packages;
    std::u16string defaultPrinter;
    std::u16string driverDirectory = u"C:\\Windows\\system32\\spool\\drivers\\w32x86";
    bool packageFunctionsPresent = true;  // false: Windows XP, which has none
    // An upload that answers this HRESULT and leaves the last error as it was,
    // as Wine's does (0x80004001).
    std::optional<int32_t> uploadRefusedSilently;
    // The last error a successful upload leaves behind, as calls that succeed may.
    uint32_t uploadLeavesError = 0;
    // An install from a package that answers this HRESULT and leaves the last
    // error as it was.
    std::optional<int32_t> installRefusedSilently;
    // When set, every call fails with 1722 while it answers false, as the spooler
    // does while its service is stopped.
    std::function<bool()> serviceRunning;
    NullDatatype nullDatatype = NullDatatype::Raw;
    // When set, AddPrinterDriverExW asks it for each bare file name of the record
    // and fails with 2 for one that is not in the driver directory.
    std::function<bool(std::u16string_view fileName)> driverFileExists;

    // Makes call number `onCall` (1-based, counted per operation from now on;
    // kEveryCall for all of them) of `op` fail with `error`, changing nothing.
    // kLeaveLastError fails it without touching the last error, as some
    // spooler calls fail.
    void FailCall(SpoolerOp op, uint32_t error, uint32_t onCall = 1) {
        log_.FailCall(op, error, onCall);
    }
    static constexpr uint32_t kLeaveLastError = FaultLog<SpoolerOp, SpoolerCall>::kLeaveLastError;
    // Every call so far, in order.
    const std::vector<SpoolerCall>& Calls() const { return log_.Calls(); }
    size_t CallCount(SpoolerOp op) const { return log_.CallCount(op); }
    void ClearCalls() { log_.ClearCalls(); }
    // Handles opened or created and not yet closed.
    size_t OpenHandleCount() const { return handles_.size(); }
    // The queue of that exact name, or null.
    const Queue* FindQueue(std::u16string_view name) const;
    const Driver* FindDriver(std::u16string_view name) const;

    bool EnumPortsW(uint32_t level, uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                    uint32_t* returned) override;
    bool EnumPrintersW(uint32_t flags, uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                       uint32_t* needed, uint32_t* returned) override;
    bool EnumPrinterDriversW(uint32_t level, uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                             uint32_t* returned) override;
    bool GetPrinterDriverDirectoryW(uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                                    uint32_t* needed) override;
    bool AddPrinterDriverExW(const DriverInfo6& driver, uint32_t copyFlags) override;
    bool DeletePrinterDriverExW(const char16_t* driverName, uint32_t deleteFlags,
                                uint32_t versionFlag) override;
    std::optional<int32_t> DeletePrinterDriverPackageW(const char16_t* infPath) override;
    std::optional<int32_t> UploadPrinterDriverPackageW(const char16_t* infPath, uint32_t flags,
                                                       WindowHandle owner, char16_t* destInfPath,
                                                       uint32_t* destInfPathChars) override;
    std::optional<int32_t> InstallPrinterDriverFromPackageW(const char16_t* infPath,
                                                            const char16_t* driverName,
                                                            uint32_t flags) override;
    bool OpenPrinterW(const char16_t* printerName, PrinterHandle* printer,
                      uint32_t desiredAccess) override;
    bool DeletePrinter(PrinterHandle printer) override;
    bool DeletePrinterConnectionW(const char16_t* printerName) override;
    bool ClosePrinter(PrinterHandle printer) override;
    bool GetPrinterW(PrinterHandle printer, uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                     uint32_t* needed) override;
    bool SetPrinterW(PrinterHandle printer, const PrinterInfo2& info, uint32_t command) override;
    PrinterHandle AddPrinterW(const PrinterInfo2& info) override;
    bool SetDefaultPrinterW(const char16_t* printerName) override;
    bool GetDefaultPrinterW(char16_t* buffer, uint32_t* chars) override;
    uint32_t LastError() const override { return lastError_; }
    void SetLastError(uint32_t error) override { lastError_ = error; }

  private:
    // Logs the call; true (with the last error set) when a planned fault fails it.
    bool Begin(const SpoolerCall& call);
    bool Fail(uint32_t error);
    Queue* QueueOf(PrinterHandle printer);
    Queue* FindQueueIgnoreCase(std::u16string_view name);
    Driver* FindDriverIgnoreCase(std::u16string_view name);
    bool PortExists(std::u16string_view name) const;

    FaultLog<SpoolerOp, SpoolerCall> log_;
    // Open handles and the queue name each refers to.
    std::vector<std::pair<uintptr_t, std::u16string>> handles_;
    uintptr_t nextHandle_ = 0x100;
    uint32_t lastError_ = 0;
};

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
