#include "quiet/waiting_jobs.h"

#include "base/collation.h"
#include "text/text.h"

#include <algorithm>

namespace tde {

namespace {

std::u16string_view Text(const char16_t* text) {
    return text != nullptr ? text : u"";
}

std::u16string Joined(const std::vector<SpoolerEntry>& queues) {
    std::u16string text;
    for (const SpoolerEntry& queue : queues) {
        text += (text.empty() ? u"" : u", ") + queue.printerName;
    }
    return text;
}

// ERROR_SERVICE_CANNOT_ACCEPT_CTRL: the stop is refused for now.
constexpr uint32_t kErrorServiceCannotAcceptControl = 1061;

}  // namespace

WaitingJobs QueuesHoldingJobs(Spooler& spooler) {
    WaitingJobs jobs;
    const SpoolerBuffer printers =
        FetchTwice(spooler, [&](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* count) {
            return spooler.EnumPrintersW(kPrinterEnumLocal, 2, buffer, size, needed, count);
        });
    if (printers.outcome != SpoolerFetch::Filled &&
        printers.outcome != SpoolerFetch::NothingNeeded) {
        jobs.listRead = false;
        jobs.readError = printers.error;
        return jobs;
    }
    uint32_t count = 0;
    const PrinterInfo2* printer = printers.Records<PrinterInfo2>(&count);
    for (uint32_t i = 0; i < count; ++i) {
        if (printer[i].cJobs > 0) {
            jobs.queues.push_back({std::u16string(Text(printer[i].pPrinterName)),
                                   std::u16string(Text(printer[i].pDriverName)),
                                   {}});
        }
    }
    return jobs;
}

std::vector<std::u16string> JobsOnDriver(const WaitingJobs& jobs, std::u16string_view model,
                                         bool ignoreCase) {
    std::vector<std::u16string> names;
    for (const SpoolerEntry& queue : jobs.queues) {
        if (ignoreCase ? SameNameIgnoringCase(queue.driverName, model)
                       : queue.driverName == model) {
            names.push_back(queue.printerName);
        }
    }
    return names;
}

ServiceHandle JobsGuardedServices::OpenSCManagerW(uint32_t access) {
    refused_ = false;
    return services_.OpenSCManagerW(access);
}

ServiceHandle JobsGuardedServices::OpenServiceW(ServiceHandle manager, const char16_t* name,
                                                uint32_t access) {
    refused_ = false;
    const ServiceHandle service = services_.OpenServiceW(manager, name, access);
    if (service != nullptr && name != nullptr && SameNameIgnoringCase(name, u"Spooler")) {
        spoolerHandles_.push_back(service);
    }
    return service;
}

bool JobsGuardedServices::ControlService(ServiceHandle service, uint32_t control) {
    refused_ = false;
    if (control == kServiceControlStop && std::find(spoolerHandles_.begin(), spoolerHandles_.end(),
                                                    service) != spoolerHandles_.end()) {
        // Read just before the stop: jobs keep arriving while the run works.
        WaitingJobs jobs = QueuesHoldingJobs(spooler_);
        if (!jobs.listRead || !jobs.queues.empty()) {
            report_(jobs.listRead ? u"The spooler is not restarted: jobs are waiting on " +
                                        Joined(jobs.queues)
                                  : u"The spooler is not restarted: its printers cannot be read "
                                    u"to look for waiting jobs (error " +
                                        DecimalText(jobs.readError) + u")");
            found_ = std::move(jobs);
            refused_ = refusedOnce_ = true;
            return false;
        }
    }
    return services_.ControlService(service, control);
}

bool JobsGuardedServices::StartServiceW(ServiceHandle service) {
    refused_ = false;
    return services_.StartServiceW(service);
}

bool JobsGuardedServices::QueryServiceStatusEx(ServiceHandle service,
                                               ServiceStatusProcess* status) {
    refused_ = false;
    return services_.QueryServiceStatusEx(service, status);
}

bool JobsGuardedServices::CloseServiceHandle(ServiceHandle handle) {
    refused_ = false;
    std::erase(spoolerHandles_, handle);
    return services_.CloseServiceHandle(handle);
}

uint32_t JobsGuardedServices::LastError() const {
    return refused_ ? kErrorServiceCannotAcceptControl : services_.LastError();
}

}  // namespace tde
