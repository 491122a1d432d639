// The spooler service restart over the service control manager.
#pragma once

#include "base/errors.h"
#include "base/fault_plan.h"
#include "base/handles.h"
#include "install/clock.h"
#include "spooler/spooler.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

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
    static constexpr uint32_t kEveryCall = FaultLog<ServiceOp>::kEveryCall;

    struct Service {
        std::u16string name;
        uint32_t state = kServiceRunning;
        uint32_t stopDelayMs = 0;   // from the stop request to stopped; kNever: never
        uint32_t startDelayMs = 0;  // from the start request to running; kNever: never
    };

    explicit MemoryServiceControl(Clock& clock) : clock_(clock) {}

    std::vector<Service> services;

    void FailCall(ServiceOp op, uint32_t error, uint32_t onCall = 1) {
        log_.FailCall(op, error, onCall);
    }
    const std::vector<ServiceOp>& Calls() const { return log_.Calls(); }
    size_t CallCount(ServiceOp op) const { return log_.CallCount(op); }
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
    FaultLog<ServiceOp> log_;
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
// The service control manager of this machine.
std::unique_ptr<ServiceControl> CreateWin32ServiceControl();
#endif

}  // namespace tde
