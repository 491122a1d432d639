// What the end-to-end tests share: starting the real installer, finding its
// dialogs, and reading window texts.
#pragma once

#include <windows.h>

#include <string>

namespace tde::e2e {

inline std::wstring Env(const wchar_t* name) {
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

inline std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

inline std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// Visible top-level windows of a process, of one window class (any when null).
struct WindowSearch {
    DWORD process;
    const wchar_t* windowClass;
    HWND exclude;
    HWND found;
    int count;
};

inline BOOL CALLBACK VisitWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->process && window != search->exclude && IsWindowVisible(window) &&
        (search->windowClass == nullptr || ClassOf(window) == search->windowClass)) {
        if (search->found == nullptr) {
            search->found = window;  // the first in z-order, the one on top
        }
        ++search->count;
    }
    return TRUE;
}

inline WindowSearch FindWindows(DWORD process, const wchar_t* windowClass, HWND exclude = nullptr) {
    WindowSearch search = {process, windowClass, exclude, nullptr, 0};
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
    return search;
}

// Polls for a visible window of the process and class other than `exclude`.
inline HWND WaitForWindow(DWORD process, const wchar_t* windowClass, HWND exclude = nullptr,
                          DWORD timeoutMs = 30000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (HWND found = FindWindows(process, windowClass, exclude).found) {
            return found;
        }
        Sleep(100);
    }
    return nullptr;
}

// Polls for a visible dialog window of the process other than `exclude`.
inline HWND WaitForDialog(DWORD process, HWND exclude = nullptr, DWORD timeoutMs = 30000) {
    return WaitForWindow(process, L"#32770", exclude, timeoutMs);
}

// A control's text read with WM_GETTEXT, which works across processes.
inline std::wstring ControlText(HWND control) {
    wchar_t text[512] = {};
    SendMessageW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}

// Waits up to about ten seconds for a window to go away.
inline bool WaitUntilGone(HWND window) {
    for (int i = 0; i < 100 && IsWindow(window); ++i) {
        Sleep(100);
    }
    return !IsWindow(window);
}

// The installer named by TDE_E2E_EXE, run as a child process; a process still
// running when the object goes is terminated, so a failed test leaves nothing.
class InstallerProcess {
  public:
    InstallerProcess() = default;
    InstallerProcess(const InstallerProcess&) = delete;
    InstallerProcess& operator=(const InstallerProcess&) = delete;

    bool Start() { return Start(Env(L"TDE_E2E_EXE")); }

    bool Start(const std::wstring& exe) {
        if (exe.empty()) {
            return false;
        }
        std::wstring command = L"\"" + exe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &info_)) {
            return false;
        }
        started_ = true;
        return true;
    }

    // Whether the process ended within the time, and its exit code.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
        if (!started_ || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            return false;
        }
        GetExitCodeProcess(info_.hProcess, exitCode);
        return true;
    }

    bool Started() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }

    ~InstallerProcess() {
        if (started_) {
            if (WaitForSingleObject(info_.hProcess, 0) != WAIT_OBJECT_0) {
                TerminateProcess(info_.hProcess, 99);
            }
            CloseHandle(info_.hThread);
            CloseHandle(info_.hProcess);
        }
    }

  private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
};

// The Windows Protected Print policy switched on in the prefix's 64-bit
// registry view for as long as the object lives.
class ProtectedPrintPolicyOn {
  public:
    ProtectedPrintPolicyOn() {
        const DWORD on = 1;
        HKEY key = Open();
        set_ = RegSetValueExW(key, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on),
                              sizeof on) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    ~ProtectedPrintPolicyOn() {
        HKEY key = Open();
        RegDeleteValueW(key, kValue);
        RegCloseKey(key);
    }
    static HKEY Open() {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                        nullptr, &key, nullptr);
        return key;
    }
    bool Set() const { return set_; }

  private:
    static constexpr wchar_t kKey[] = L"Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP";
    static constexpr wchar_t kValue[] = L"WindowsProtectedPrintGroupPolicyState";
    bool set_ = false;
};

}  // namespace tde::e2e
