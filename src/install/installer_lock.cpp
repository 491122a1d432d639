#include "install/installer_lock.h"

namespace tde {

namespace {

LockState FromError(uint32_t error) {
    return error == kErrorAccessDenied ? LockState::AccessDenied : LockState::Failed;
}

}  // namespace

LockState TakeInstallerLock(LockSystem& system) {
    if (system.HasPrivateNamespaces()) {
        // Without labels (before Windows 7) the Administrators group alone bounds it.
        if (const uint32_t error = system.MakeBoundary(system.HasIntegrityLabels()); error != 0) {
            return FromError(error);
        }
        // Another run may close the last handle between our create and open.
        constexpr int kAttempts = 3;
        bool open = false;
        for (int attempt = 0; attempt < kAttempts && !open; ++attempt) {
            uint32_t error = system.CreateNamespace();
            if (error == kErrorAlreadyExists) {
                error = system.OpenNamespace();
                if (error != 0 && error != kErrorAccessDenied) {
                    continue;
                }
            }
            if (error != 0) {
                return FromError(error);
            }
            open = true;
        }
        if (!open) {
            return LockState::Failed;
        }
    }
    const uint32_t error = system.CreateLockMutex();
    if (error != 0 && error != kErrorAlreadyExists) {
        return FromError(error);
    }
    switch (system.WaitForMutex()) {
        case LockWait::Taken:
        case LockWait::Abandoned:
            return LockState::Taken;
        case LockWait::Timeout:
            return LockState::HeldElsewhere;
        case LockWait::Failed:
            break;
    }
    return LockState::Failed;
}

uint32_t MemoryInstallerLock::CreateLockMutex() {
    ++takes;
    switch (state) {
        case LockState::Taken:
            return 0;
        case LockState::HeldElsewhere:
            return kErrorAlreadyExists;
        case LockState::AccessDenied:
            return kErrorAccessDenied;
        case LockState::Failed:
            break;
    }
    return 1450;  // ERROR_NO_SYSTEM_RESOURCES
}

}  // namespace tde
