// Print jobs a quiet run looks at before it deletes a queue or restarts the
// spooler: a deleted queue that holds jobs stays with the spooler until they
// have printed, and a restart interrupts every printer of the till.
#pragma once

#include "quiet/unattended.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// The local queues that hold jobs, as EnumPrintersW level 2 reports cJobs.
struct WaitingJobs {
    bool listRead = true;
    uint32_t readError = 0;
    std::vector<SpoolerEntry> queues;  // name and driver of each, in list order
};
WaitingJobs QueuesHoldingJobs(Spooler& spooler);

// The names of those on the model's driver: named exactly, as an install's
// removal compares, or with letter case ignored, as /uninstall does.
std::vector<std::u16string> JobsOnDriver(const WaitingJobs& jobs, std::u16string_view model,
                                         bool ignoreCase);

// The service control a quiet run hands on: it stops the spooler only while no
// local queue holds jobs, read just before. A refused stop fails with 1061 (the
// service cannot accept the control now), and a line says why.
class JobsGuardedServices final : public ServiceControl {
  public:
    JobsGuardedServices(ServiceControl& services, Spooler& spooler, RunReporter report)
        : services_(services), spooler_(spooler), report_(std::move(report)) {}

    ServiceHandle OpenSCManagerW(uint32_t access) override;
    ServiceHandle OpenServiceW(ServiceHandle manager, const char16_t* name,
                               uint32_t access) override;
    bool ControlService(ServiceHandle service, uint32_t control) override;
    bool StartServiceW(ServiceHandle service) override;
    bool QueryServiceStatusEx(ServiceHandle service, ServiceStatusProcess* status) override;
    bool CloseServiceHandle(ServiceHandle handle) override;
    uint32_t LastError() const override;

    // Whether a stop was refused, and what the last refusal found: the queues
    // with jobs, or a list that could not be read.
    bool Refused() const { return refusedOnce_; }
    const WaitingJobs& Found() const { return found_; }

  private:
    ServiceControl& services_;
    Spooler& spooler_;
    RunReporter report_;
    std::vector<ServiceHandle> spoolerHandles_;
    WaitingJobs found_;
    bool refused_ = false;  // the last call was a refused stop
    bool refusedOnce_ = false;
};

}  // namespace tde
