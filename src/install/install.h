// Driver installation steps that talk to the spooler and the service manager:
// the installed-driver and printer queries, the printer queue operations, the
// printer properties window and the spooler service restart. Each platform
// boundary (spooler, shell, service control, clock) is an interface with an
// in-memory stand-in for tests and a Win32 implementation.
#pragma once

#include "app/catalogue.h"
#include "spooler/spooler.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// --- Clock ---------------------------------------------------------------------------------
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;  // milliseconds, wrapping at 2^32
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// A clock that only moves when slept on, and remembers every sleep.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(uint32_t start = 0) : now(start) {}
    uint32_t TickCount() override { return now; }
    void Sleep(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        now += milliseconds;
    }
    uint32_t now;
    std::vector<uint32_t> sleeps;
};

// --- Installed driver and printer queries ------------------------------------------------
// One installed printer or driver.
struct SpoolerEntry {
    std::u16string printerName;  // empty for a driver
    std::u16string driverName;
    std::u16string infPath;  // the driver's INF path in the driver store, when known
};

// Rebuilds `installedDrivers` from the spooler: level 8 records (with INF paths)
// when the system reports Vista or later, else level 6 (no INF paths).
void EnumInstalledDrivers(Spooler& spooler, bool reportsVistaOrLater,
                          std::vector<SpoolerEntry>& installedDrivers);

// Rebuilds `installedPrinters` from the local queues and connections, each with
// the INF path of its driver (exact name match) when Vista or later is reported.
void EnumInstalledPrinters(Spooler& spooler, bool reportsVistaOrLater,
                           std::vector<SpoolerEntry>& installedPrinters);

// True when a driver named like the model's driverName is registered, letter case ignored.
bool IsDriverInstalled(Spooler& spooler, const PrinterModel& model);

// True when a printer of exactly that name (local, connection or network) is known.
bool IsPrinterInstalled(Spooler& spooler, std::u16string_view queueName);

// --- Shell -----------------------------------------------------------------------------------
// A ShellExecuteExW request; `file` is always a full path.
struct ShellRequest {
    uint32_t mask = 0;
    WindowHandle owner = nullptr;
    std::u16string verb;
    std::u16string file;
    std::u16string parameters;
    std::u16string directory;  // empty: none
    int32_t show = 0;
};

inline constexpr uint32_t kSeeMaskNoCloseProcess = 0x40;
inline constexpr int32_t kSwShowNormal = 1;

class Shell {
  public:
    virtual ~Shell() = default;
    // The system folder without a trailing backslash; empty when unknown.
    virtual std::u16string SystemFolder() = 0;
    // Starts the request without waiting for it; true when it started.
    virtual bool Execute(const ShellRequest& request) = 0;
};

// Remembers what it was asked to start and starts nothing.
class RecordingShell final : public Shell {
  public:
    std::u16string SystemFolder() override { return systemFolder; }
    bool Execute(const ShellRequest& request) override {
        requests.push_back(request);
        return succeed;
    }
    std::u16string systemFolder = u"C:\\Windows\\system32";
    bool succeed = true;
    std::vector<ShellRequest> requests;
};

// --- Printer queue ---------------------------------------------------------------------------
// The pause after each queue deletion, so the spooler settles before the next.
inline constexpr uint32_t kQueueDeletionPauseMs = 200;

// Deletes each named queue (open with all access, delete, close) and pauses
// after each, also when it could not be opened. Failures are silent.
void DeletePrinterQueues(Spooler& spooler, Clock& clock,
                         const std::vector<std::u16string>& queueNames);

// The level-2 record of the model's new queue: its queueName, portName and
// driverName, print processor "WinPrint", datatype "RAW", attribute local, the
// rest empty. The record points into `model`, which must outlive it.
PrinterInfo2 MakeQueueRecord(const PrinterModel& model);

struct QueueCreation {
    bool created = false;
    uint32_t error = 0;  // the last error after a failed creation
};

// Creates the model's queue; with success makes it the default printer when the
// model's makeDefault is 1, closes it and opens its properties window.
QueueCreation CreatePrinterQueue(Spooler& spooler, Shell& shell, WindowHandle owner,
                                 const PrinterModel& model);

// Moves an existing queue to another port, keeping all its other settings.
// Failures are silent.
void SetPrinterPort(Spooler& spooler, std::u16string_view queueName, std::u16string_view portName);

// The parameters handed to rundll32.exe: " printui.dll, PrintUIEntry /p /n"<queue>" ".
std::u16string PrinterPropertiesParameters(std::u16string_view queueName);

// Starts rundll32.exe from the system folder (never by bare name) to open the
// queue's printer properties window; does not wait. Nothing starts when the
// system folder is unknown.
void ShowPrinterProperties(Shell& shell, WindowHandle owner, std::u16string_view queueName);

// --- Spooler service restart -----------------------------------------------------------------
struct ServiceHandleTag;
using ServiceHandle = ServiceHandleTag*;

// The layout of SERVICE_STATUS_PROCESS (36 bytes).
struct ServiceStatusProcess {
    uint32_t dwServiceType;
    uint32_t dwCurrentState;
    uint32_t dwControlsAccepted;
    uint32_t dwWin32ExitCode;
    uint32_t dwServiceSpecificExitCode;
    uint32_t dwCheckPoint;
    uint32_t dwWaitHint;
    uint32_t dwProcessId;
    uint32_t dwServiceFlags;
};

inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kServiceControlStop = 1;
inline constexpr uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kServiceWaitLimitMs = 30000;
inline constexpr uint32_t kServicePollMs = 1000;

// The service control manager of the local machine.
class ServiceControl {
  public:
    virtual ~ServiceControl() = default;
    // OpenSCManagerW for the local machine and its default database.
    virtual ServiceHandle OpenSCManagerW(uint32_t access) = 0;
    virtual ServiceHandle OpenServiceW(ServiceHandle manager, const char16_t* name,
                                       uint32_t access) = 0;
    virtual bool ControlService(ServiceHandle service, uint32_t control) = 0;
    // StartServiceW with no arguments.
    virtual bool StartServiceW(ServiceHandle service) = 0;
    // QueryServiceStatusEx at SC_STATUS_PROCESS_INFO.
    virtual bool QueryServiceStatusEx(ServiceHandle service, ServiceStatusProcess* status) = 0;
    virtual bool CloseServiceHandle(ServiceHandle handle) = 0;
    virtual uint32_t LastError() const = 0;
};

enum class ServiceOp {
    OpenSCManagerW,
    OpenServiceW,
    ControlService,
    StartServiceW,
    QueryServiceStatusEx,
    CloseServiceHandle
};

// A service manager in memory whose services stop and start after set delays on
// the given clock, with every call logged and any call failing on request.
class MemoryServiceControl final : public ServiceControl {
  public:
    static constexpr uint32_t kNever = 0xFFFFFFFF;
    static constexpr uint32_t kEveryCall = FaultPlan<ServiceOp>::kEveryCall;

    struct Service {
        std::u16string name;
        uint32_t state = kServiceRunning;
        uint32_t stopDelayMs = 0;   // from the stop request to stopped; kNever: never
        uint32_t startDelayMs = 0;  // from the start request to running; kNever: never
    };

    explicit MemoryServiceControl(Clock& clock) : clock_(clock) {}

    std::vector<Service> services;

    void FailCall(ServiceOp op, uint32_t error, uint32_t onCall = 1);
    const std::vector<ServiceOp>& Calls() const { return calls_; }
    size_t CallCount(ServiceOp op) const;
    size_t OpenHandleCount() const { return handles_.size(); }
    // The service's state now, after any pending change has had its time.
    uint32_t StateOf(std::u16string_view name);
    // Tick counts at which the state was queried.
    const std::vector<uint32_t>& QueryTimes() const { return queryTimes_; }

    ServiceHandle OpenSCManagerW(uint32_t access) override;
    ServiceHandle OpenServiceW(ServiceHandle manager, const char16_t* name,
                               uint32_t access) override;
    bool ControlService(ServiceHandle service, uint32_t control) override;
    bool StartServiceW(ServiceHandle service) override;
    bool QueryServiceStatusEx(ServiceHandle service, ServiceStatusProcess* status) override;
    bool CloseServiceHandle(ServiceHandle handle) override;
    uint32_t LastError() const override { return lastError_; }

  private:
    struct Pending {
        uint32_t target = 0;  // the state reached when the delay is over; 0 for none
        uint32_t since = 0;
        uint32_t delay = 0;
    };
    struct Handle {
        uintptr_t id;
        int service;  // index into services; -1 for the manager
    };

    bool Begin(ServiceOp op);
    bool Fail(uint32_t error);
    Service* ServiceOf(ServiceHandle handle);
    void Advance(size_t index);

    Clock& clock_;
    std::vector<ServiceOp> calls_;
    FaultPlan<ServiceOp> faults_;
    std::vector<Handle> handles_;
    std::vector<Pending> pending_;
    std::vector<uint32_t> queryTimes_;
    uintptr_t nextHandle_ = 0x200;
    uint32_t lastError_ = 0;
};

// Polls the service's state at once and then once a second until it is
// `wantedState` (true), the query fails (false) or 30 seconds have passed since
// the start (false).
bool WaitForServiceState(ServiceControl& services, Clock& clock, ServiceHandle service,
                         uint32_t wantedState);

// Stops the "Spooler" service (one already stopped counts as stopped), waits for
// it to stop, starts it and waits for it to run. True when it runs again.
bool RestartSpooler(ServiceControl& services, Clock& clock);

#ifdef _WIN32
// GetTickCount and Sleep.
std::unique_ptr<Clock> CreateWin32Clock();
// The service control manager of this machine.
std::unique_ptr<ServiceControl> CreateWin32ServiceControl();

// ShellExecuteExW; the system folder from GetSystemDirectoryW.
class Win32Shell final : public Shell {
  public:
    ~Win32Shell() override;
    std::u16string SystemFolder() override;
    bool Execute(const ShellRequest& request) override;
    // Tests keep the started process (a HANDLE) to look at it; the taker closes it.
    bool keepProcess = false;
    void* TakeProcess();

  private:
    void* process_ = nullptr;
};
#endif

}  // namespace tde
