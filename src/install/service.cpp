#include "install/service.h"

namespace tde {

bool WaitForServiceState(ServiceControl& services, Clock& clock, ServiceHandle service,
                         uint32_t wantedState) {
    const uint32_t start = clock.TickCount();
    // Unsigned difference: a wrap of the tick counter does no harm.
    while (static_cast<uint32_t>(clock.TickCount() - start) < kServiceWaitLimitMs) {
        ServiceStatusProcess status = {};
        if (!services.QueryServiceStatusEx(service, &status)) {
            return false;
        }
        if (status.dwCurrentState == wantedState) {
            return true;
        }
        clock.Sleep(kServicePollMs);
    }
    return false;
}

bool RestartSpooler(ServiceControl& services, Clock& clock) {
    ServiceHandle manager = services.OpenSCManagerW(kScManagerAllAccess);
    if (manager == nullptr) {
        return false;
    }
    ServiceHandle spooler = services.OpenServiceW(manager, u"Spooler", kServiceAllAccess);
    if (spooler == nullptr) {
        services.CloseServiceHandle(manager);
        return false;
    }
    bool running = false;
    // A spooler that is not running counts as stopped, and is then started.
    bool stopSent = services.ControlService(spooler, kServiceControlStop) ||
                    services.LastError() == kErrorServiceNotActive;
    if (stopSent && WaitForServiceState(services, clock, spooler, kServiceStopped) &&
        services.StartServiceW(spooler)) {
        running = WaitForServiceState(services, clock, spooler, kServiceRunning);
    }
    services.CloseServiceHandle(spooler);
    services.CloseServiceHandle(manager);
    return running;
}

}  // namespace tde
