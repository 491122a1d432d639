#include "install/installer_lock.h"

#include "base/win32.h"

#include <windows.h>
#include <sddl.h>

namespace tde {

namespace {

// Absent from Wine 8's kernel32: imported, they would keep the exe from starting there.
using CreateBoundaryFn = HANDLE(WINAPI*)(LPCWSTR, ULONG);
using AddSidFn = BOOL(WINAPI*)(HANDLE*, PSID);  // also the integrity label's
using DeleteBoundaryFn = VOID(WINAPI*)(HANDLE);
using CreateNamespaceFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
using OpenNamespaceFn = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
using CloseNamespaceFn = BOOLEAN(WINAPI*)(HANDLE, ULONG);

struct NamespaceApi {
    CreateBoundaryFn createBoundary = nullptr;
    AddSidFn addSid = nullptr;
    AddSidFn addLabel = nullptr;  // Windows 7 on
    DeleteBoundaryFn deleteBoundary = nullptr;
    CreateNamespaceFn createNamespace = nullptr;
    OpenNamespaceFn openNamespace = nullptr;
    CloseNamespaceFn closeNamespace = nullptr;

    bool Complete() const {
        return createBoundary && addSid && deleteBoundary && createNamespace && openNamespace &&
               closeNamespace;
    }
};

const NamespaceApi& Api() {
    static const NamespaceApi api = [] {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        NamespaceApi found;
        found.createBoundary =
            SystemFunction<CreateBoundaryFn>(kernel, "CreateBoundaryDescriptorW");
        found.addSid = SystemFunction<AddSidFn>(kernel, "AddSIDToBoundaryDescriptor");
        found.addLabel = SystemFunction<AddSidFn>(kernel, "AddIntegrityLabelToBoundaryDescriptor");
        found.deleteBoundary = SystemFunction<DeleteBoundaryFn>(kernel, "DeleteBoundaryDescriptor");
        found.createNamespace =
            SystemFunction<CreateNamespaceFn>(kernel, "CreatePrivateNamespaceW");
        found.openNamespace = SystemFunction<OpenNamespaceFn>(kernel, "OpenPrivateNamespaceW");
        found.closeNamespace = SystemFunction<CloseNamespaceFn>(kernel, "ClosePrivateNamespace");
        return found;
    }();
    return api;
}

// Runs `make` with security attributes holding kInstallerLockSecurity.
template <typename Make>
HANDLE WithLockSecurity(Make make) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kInstallerLockSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE made = make(&attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return made;
}

}  // namespace

Win32InstallerLock::~Win32InstallerLock() {
    if (mutex_ != nullptr) {
        if (held_) {
            ReleaseMutex(mutex_);
        }
        CloseHandle(mutex_);
    }
    if (namespace_ != nullptr) {
        Api().closeNamespace(namespace_, 0);
    }
    if (boundary_ != nullptr) {
        Api().deleteBoundary(boundary_);
    }
}

bool Win32InstallerLock::HasPrivateNamespaces() {
    return Api().Complete();
}

bool Win32InstallerLock::HasIntegrityLabels() {
    return Api().addLabel != nullptr;
}

uint32_t Win32InstallerLock::MakeBoundary(bool highIntegrity) {
    const NamespaceApi& api = Api();
    HANDLE boundary = api.createBoundary(kInstallerNamespace, 0);
    if (boundary == nullptr) {
        const DWORD error = GetLastError();
        return error == 0 ? ERROR_INVALID_HANDLE : error;
    }
    auto add = [&](WELL_KNOWN_SID_TYPE type, AddSidFn addTo) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof sid;
        return CreateWellKnownSid(type, nullptr, sid, &size) && addTo(&boundary, sid);
    };
    if (!add(WinBuiltinAdministratorsSid, api.addSid) ||
        (highIntegrity && (api.addLabel == nullptr || !add(WinHighLabelSid, api.addLabel)))) {
        const DWORD error = GetLastError();
        api.deleteBoundary(boundary);
        return error == 0 ? ERROR_INVALID_HANDLE : error;
    }
    boundary_ = boundary;
    return 0;
}

uint32_t Win32InstallerLock::CreateNamespace() {
    if (boundary_ == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    HANDLE made = WithLockSecurity([&](LPSECURITY_ATTRIBUTES attributes) {
        return Api().createNamespace(attributes, boundary_, kInstallerNamespace);
    });
    if (made == nullptr) {
        const DWORD error = GetLastError();
        return error == 0 ? ERROR_INVALID_HANDLE : error;
    }
    namespace_ = made;
    return 0;
}

uint32_t Win32InstallerLock::OpenNamespace() {
    HANDLE opened = Api().openNamespace(boundary_, kInstallerNamespace);
    if (opened == nullptr) {
        const DWORD error = GetLastError();
        return error == 0 ? ERROR_PATH_NOT_FOUND : error;
    }
    namespace_ = opened;
    return 0;
}

uint32_t Win32InstallerLock::CreateLockMutex() {
    const wchar_t* name = namespace_ != nullptr ? kInstallerLockInNamespace : kInstallerLockName;
    SetLastError(0);
    HANDLE mutex = WithLockSecurity(
        [&](LPSECURITY_ATTRIBUTES attributes) { return CreateMutexW(attributes, FALSE, name); });
    const DWORD error = GetLastError();
    if (mutex == nullptr) {
        return error == 0 ? ERROR_INVALID_HANDLE : error;
    }
    mutex_ = mutex;
    return error == ERROR_ALREADY_EXISTS ? kErrorAlreadyExists : 0;
}

LockWait Win32InstallerLock::WaitForMutex() {
    switch (WaitForSingleObject(mutex_, 0)) {
        case WAIT_OBJECT_0:
            held_ = true;
            return LockWait::Taken;
        case WAIT_ABANDONED:
            held_ = true;
            return LockWait::Abandoned;
        case WAIT_TIMEOUT:
            return LockWait::Timeout;
        default:
            return LockWait::Failed;
    }
}

}  // namespace tde
