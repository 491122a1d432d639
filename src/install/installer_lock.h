// The lock that keeps installer runs apart, also across sessions: a quiet run as
// SYSTEM, another in a user's session and the dialog's install run all see it.
#pragma once

#include "base/errors.h"

#include <cstdint>

namespace tde {

// A mutex in a private namespace whose boundary is the Administrators group at
// High integrity: a standard user, or an administrator's filtered token, can
// neither create that namespace nor open it, so no one can take the name first.
// Where the system lacks private namespaces (Wine 8), the Global\ name below is
// used; there a user can squat the name, and what that gives is reported as
// what it is.
inline constexpr wchar_t kInstallerNamespace[] = L"TarnDovEzuvar";
inline constexpr wchar_t kInstallerLockInNamespace[] = L"TarnDovEzuvar\\Installer";
inline constexpr wchar_t kInstallerLockName[] = L"Global\\TarnDovEzuvar.Installer";
// The namespace and the mutex alike: without a descriptor any process may open
// an existing namespace.
inline constexpr wchar_t kInstallerLockSecurity[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";

enum class LockState {
    Taken,          // held by this process until the lock object goes
    HeldElsewhere,  // another run holds it
    AccessDenied,   // an object of its name exists that this run may not open
    Failed,         // anything else
};

enum class LockWait { Taken, Abandoned, Timeout, Failed };

// The system calls behind the lock; the Win32 one keeps its handles until it is destroyed.
class LockSystem {
  public:
    virtual ~LockSystem() = default;
    // Whether the private-namespace functions exist (looked up at run time).
    virtual bool HasPrivateNamespaces() = 0;
    // Whether a boundary can demand an integrity level (looked up at run time too).
    virtual bool HasIntegrityLabels() = 0;
    // Makes the namespace's boundary, Administrators and, when asked, High
    // integrity: 0 or the system error.
    virtual uint32_t MakeBoundary(bool highIntegrity) = 0;
    // 0, or the system error: 183 when the namespace exists.
    virtual uint32_t CreateNamespace() = 0;
    virtual uint32_t OpenNamespace() = 0;
    // Creates or opens the mutex, inside the namespace once one is created or
    // opened, else under the Global\ name: 0, 183 when it opened an existing one,
    // or the system error.
    virtual uint32_t CreateLockMutex() = 0;
    // Takes the mutex without waiting.
    virtual LockWait WaitForMutex() = 0;
};

// Makes the boundary, creates or opens the namespace (again when it vanished
// between the two), then the mutex, and takes it. A mutex its previous holder abandoned counts as
// taken.
LockState TakeInstallerLock(LockSystem& system);

// A lock in memory that answers as the machine's would in each of its states.
class MemoryInstallerLock final : public LockSystem {
  public:
    LockState state = LockState::Taken;  // what taking it comes to
    int takes = 0;

    bool HasPrivateNamespaces() override { return true; }
    bool HasIntegrityLabels() override { return true; }
    uint32_t MakeBoundary(bool) override { return 0; }
    uint32_t CreateNamespace() override { return 0; }
    uint32_t OpenNamespace() override { return 0; }
    uint32_t CreateLockMutex() override;
    LockWait WaitForMutex() override {
        return state == LockState::HeldElsewhere ? LockWait::Timeout : LockWait::Taken;
    }
};

#ifdef _WIN32
// The lock on this machine (installer_lock_win32.cpp). Destroying it releases
// the mutex and closes the namespace.
class Win32InstallerLock final : public LockSystem {
  public:
    Win32InstallerLock() = default;
    ~Win32InstallerLock() override;
    Win32InstallerLock(const Win32InstallerLock&) = delete;
    Win32InstallerLock& operator=(const Win32InstallerLock&) = delete;

    bool HasPrivateNamespaces() override;
    bool HasIntegrityLabels() override;
    uint32_t MakeBoundary(bool highIntegrity) override;
    uint32_t CreateNamespace() override;
    uint32_t OpenNamespace() override;
    uint32_t CreateLockMutex() override;
    LockWait WaitForMutex() override;

  private:
    void* boundary_ = nullptr;
    void* namespace_ = nullptr;
    void* mutex_ = nullptr;
    bool held_ = false;
};
#endif

}  // namespace tde
