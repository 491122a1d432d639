#include "install/install.h"

#include "base/win32.h"
#include "spooler/spooler.h"

#include <windows.h>
#include <shlobj.h>

#include <cstddef>

namespace tde {

static_assert(sizeof(ServiceStatusProcess) == sizeof(SERVICE_STATUS_PROCESS));
static_assert(offsetof(ServiceStatusProcess, dwCurrentState) ==
              offsetof(SERVICE_STATUS_PROCESS, dwCurrentState));
static_assert(offsetof(ServiceStatusProcess, dwServiceFlags) ==
              offsetof(SERVICE_STATUS_PROCESS, dwServiceFlags));

namespace {

class Win32Clock final : public Clock {
  public:
    uint32_t TickCount() override { return GetTickCount(); }
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
    uint64_t CurrentFileTime() override {
        SYSTEMTIME now;
        GetSystemTime(&now);
        FILETIME fileTime = {};
        SystemTimeToFileTime(&now, &fileTime);
        return (uint64_t{fileTime.dwHighDateTime} << 32) | fileTime.dwLowDateTime;
    }
};

// shell32 brings a good part of the shell with it when it loads, which made
// start-up measurably slower; only an installation run needs it (for the Program
// Files folder), so it is loaded from the system folder on first use.
ModuleHandle Shell32() {
    static const ModuleHandle shell = LoadSystemLibrary(L"shell32.dll");
    return shell;
}

SC_HANDLE Native(ServiceHandle handle) {
    return reinterpret_cast<SC_HANDLE>(handle);
}
ServiceHandle Portable(SC_HANDLE handle) {
    return reinterpret_cast<ServiceHandle>(handle);
}

class Win32ServiceControl final : public ServiceControl {
  public:
    ServiceHandle OpenSCManagerW(uint32_t access) override {
        return Portable(::OpenSCManagerW(nullptr, nullptr, access));
    }
    ServiceHandle OpenServiceW(ServiceHandle manager, const char16_t* name,
                               uint32_t access) override {
        return Portable(
            ::OpenServiceW(Native(manager), reinterpret_cast<const wchar_t*>(name), access));
    }
    bool ControlService(ServiceHandle service, uint32_t control) override {
        SERVICE_STATUS status = {};
        return ::ControlService(Native(service), control, &status) != FALSE;
    }
    bool StartServiceW(ServiceHandle service) override {
        return ::StartServiceW(Native(service), 0, nullptr) != FALSE;
    }
    bool QueryServiceStatusEx(ServiceHandle service, ServiceStatusProcess* status) override {
        DWORD needed = 0;
        return ::QueryServiceStatusEx(Native(service), SC_STATUS_PROCESS_INFO,
                                      reinterpret_cast<BYTE*>(status), sizeof(*status),
                                      &needed) != FALSE;
    }
    bool CloseServiceHandle(ServiceHandle handle) override {
        return ::CloseServiceHandle(Native(handle)) != FALSE;
    }
    uint32_t LastError() const override { return GetLastError(); }
};

}  // namespace

std::unique_ptr<Clock> CreateWin32Clock() {
    return std::make_unique<Win32Clock>();
}

std::unique_ptr<ServiceControl> CreateWin32ServiceControl() {
    return std::make_unique<Win32ServiceControl>();
}

Win32Shell::~Win32Shell() {
    if (process_ != nullptr) {
        ::CloseHandle(process_);
    }
}

std::u16string Win32Shell::SystemFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    UINT length = GetSystemDirectoryW(path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return std::u16string();
    }
    std::u16string folder(reinterpret_cast<const char16_t*>(path), length);
    while (!folder.empty() && folder.back() == u'\\') {
        folder.pop_back();
    }
    return folder;
}

std::u16string Win32Shell::ProgramFilesFolder() {
    wchar_t path[MAX_PATH] = {};
    auto getFolder =
        SystemFunction<decltype(&::SHGetSpecialFolderPathW)>(Shell32(), "SHGetSpecialFolderPathW");
    if (getFolder == nullptr || !getFolder(nullptr, path, CSIDL_PROGRAM_FILES, FALSE)) {
        return std::u16string();
    }
    std::u16string folder(reinterpret_cast<const char16_t*>(path));
    while (!folder.empty() && folder.back() == u'\\') {
        folder.pop_back();
    }
    return folder;
}

namespace {

// Starts the request's program by its full path; `*process` receives the process
// handle (the caller closes it).
bool StartRequest(const ShellRequest& request, HANDLE* process) {
    *process = nullptr;
    std::u16string commandLine = ProcessCommandLine(request);  // CreateProcessW may write to it
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(request.show);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(AsWide(request.file), reinterpret_cast<wchar_t*>(commandLine.data()),
                        nullptr, nullptr, FALSE, request.creationFlags, nullptr,
                        request.directory.empty() ? nullptr : AsWide(request.directory), &startup,
                        &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    *process = info.hProcess;
    return true;
}

}  // namespace

bool StartAndWait(const ShellRequest& request, uint32_t waitMs, bool* timedOut) {
    HANDLE process = nullptr;
    const bool started = StartRequest(request, &process);
    const bool late =
        started && process != nullptr && WaitForSingleObject(process, waitMs) == WAIT_TIMEOUT;
    if (process != nullptr) {
        ::CloseHandle(process);
    }
    if (timedOut != nullptr) {
        *timedOut = late;
    }
    return started;
}

bool Win32Shell::ExecuteAndWait(const ShellRequest& request) {
    return StartAndWait(request, INFINITE, nullptr);
}

bool Win32Shell::Execute(const ShellRequest& request) {
    HANDLE process = nullptr;
    const bool started = StartRequest(request, &process);
    // Nobody waits for the process; its handle is not kept open either.
    if (process != nullptr) {
        if (keepProcess) {
            if (process_ != nullptr) {
                ::CloseHandle(process_);
            }
            process_ = process;
        } else {
            ::CloseHandle(process);
        }
    }
    return started;
}

void* Win32Shell::TakeProcess() {
    void* process = process_;
    process_ = nullptr;
    return process;
}

}  // namespace tde
