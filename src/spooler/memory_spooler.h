// A spooler in memory for tests: it keeps ports, drivers, queues, driver
// packages and the default printer, checks what the real one checks, logs each
// call and fails any call on request.
#pragma once

#include "spooler/spooler.h"

#include "base/fault_plan.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tde {

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
        // The printing defaults and the security, as opaque text: GetPrinterW points
        // pDevMode and pSecurityDescriptor at them. SetPrinterW takes the DEVMODE it is
        // handed, and drops it when handed none, so a caller that loses it is seen; a
        // security descriptor it is handed replaces the queue's and is counted.
        std::u16string devMode;
        std::u16string security;
        int securitySets = 0;
        bool connection = false;  // a connection to another computer's queue
        bool openable = true;     // false: listed, but every open fails with 1801
        uint32_t jobs = 0;        // jobs waiting to print, reported as cJobs
        // Deleted while it held jobs: the spooler keeps it until they have printed,
        // neither listed nor opened, and its name still taken.
        bool pendingDeletion = false;
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

}  // namespace tde
