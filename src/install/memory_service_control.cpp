#include "install/service.h"

#include "base/collation.h"

namespace tde {

bool MemoryServiceControl::Begin(ServiceOp op) {
    return log_.Begin(op, lastError_);
}

bool MemoryServiceControl::Fail(uint32_t error) {
    lastError_ = error;
    return false;
}

MemoryServiceControl::Service* MemoryServiceControl::ServiceOf(ServiceHandle handle) {
    for (const Handle& h : handles_) {
        if (h.id == reinterpret_cast<uintptr_t>(handle) && h.service >= 0) {
            Advance(static_cast<size_t>(h.service));
            return &services[static_cast<size_t>(h.service)];
        }
    }
    return nullptr;
}

void MemoryServiceControl::Advance(size_t index) {
    if (pending_.size() < services.size()) {
        pending_.resize(services.size());
    }
    Pending& pending = pending_[index];
    if (pending.target != 0 && pending.delay != kNever &&
        static_cast<uint32_t>(clock_.TickCount() - pending.since) >= pending.delay) {
        services[index].state = pending.target;
        pending.target = 0;
    }
}

uint32_t MemoryServiceControl::StateOf(std::u16string_view name) {
    for (size_t i = 0; i < services.size(); ++i) {
        if (services[i].name == name) {
            Advance(i);
            return services[i].state;
        }
    }
    return 0;
}

ServiceHandle MemoryServiceControl::OpenSCManagerW(uint32_t) {
    if (Begin(ServiceOp::OpenSCManagerW)) {
        return nullptr;
    }
    uintptr_t id = nextHandle_++;
    handles_.push_back({id, -1});
    return reinterpret_cast<ServiceHandle>(id);
}

ServiceHandle MemoryServiceControl::OpenServiceW(ServiceHandle manager, const char16_t* name,
                                                 uint32_t) {
    if (Begin(ServiceOp::OpenServiceW)) {
        return nullptr;
    }
    bool managerOpen = false;
    for (const Handle& h : handles_) {
        managerOpen |= h.id == reinterpret_cast<uintptr_t>(manager) && h.service < 0;
    }
    if (!managerOpen) {
        Fail(kErrorInvalidHandle);
        return nullptr;
    }
    for (size_t i = 0; name != nullptr && i < services.size(); ++i) {
        if (CompareNamesIgnoreCase(services[i].name, name) == 0) {
            uintptr_t id = nextHandle_++;
            handles_.push_back({id, static_cast<int>(i)});
            return reinterpret_cast<ServiceHandle>(id);
        }
    }
    Fail(kErrorServiceDoesNotExist);
    return nullptr;
}

bool MemoryServiceControl::ControlService(ServiceHandle service, uint32_t control) {
    if (Begin(ServiceOp::ControlService)) {
        return false;
    }
    Service* s = ServiceOf(service);
    if (s == nullptr) {
        return Fail(kErrorInvalidHandle);
    }
    if (control != kServiceControlStop) {
        return Fail(kErrorInvalidParameter);
    }
    if (s->state == kServiceStopped) {
        return Fail(kErrorServiceNotActive);
    }
    if (s->state != kServiceRunning) {
        return Fail(1061);  // ERROR_SERVICE_CANNOT_ACCEPT_CTRL while pending
    }
    size_t index = static_cast<size_t>(s - services.data());
    s->state = kServiceStopPending;
    pending_[index] = {kServiceStopped, clock_.TickCount(), s->stopDelayMs};
    Advance(index);
    return true;
}

bool MemoryServiceControl::StartServiceW(ServiceHandle service) {
    if (Begin(ServiceOp::StartServiceW)) {
        return false;
    }
    Service* s = ServiceOf(service);
    if (s == nullptr) {
        return Fail(kErrorInvalidHandle);
    }
    if (s->state != kServiceStopped) {
        return Fail(kErrorServiceAlreadyRunning);
    }
    size_t index = static_cast<size_t>(s - services.data());
    s->state = kServiceStartPending;
    pending_[index] = {kServiceRunning, clock_.TickCount(), s->startDelayMs};
    Advance(index);
    return true;
}

bool MemoryServiceControl::QueryServiceStatusEx(ServiceHandle service,
                                                ServiceStatusProcess* status) {
    if (Begin(ServiceOp::QueryServiceStatusEx)) {
        return false;
    }
    Service* s = ServiceOf(service);
    if (s == nullptr) {
        return Fail(kErrorInvalidHandle);
    }
    if (status == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    queryTimes_.push_back(clock_.TickCount());
    *status = {};
    status->dwServiceType = 0x20;  // SERVICE_WIN32_SHARE_PROCESS
    status->dwCurrentState = s->state;
    return true;
}

bool MemoryServiceControl::CloseServiceHandle(ServiceHandle handle) {
    if (Begin(ServiceOp::CloseServiceHandle)) {
        return false;
    }
    for (size_t i = 0; i < handles_.size(); ++i) {
        if (handles_[i].id == reinterpret_cast<uintptr_t>(handle)) {
            handles_.erase(handles_.begin() + static_cast<ptrdiff_t>(i));
            return true;
        }
    }
    return Fail(kErrorInvalidHandle);
}

}  // namespace tde
