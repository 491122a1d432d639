#include "system/system.h"

#include "base/win32.h"

#include <windows.h>

namespace tde {

namespace {

// IsWow64Process2 exists from Windows 10 1709 on, so it is looked up by name.
using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE process, USHORT* processMachine,
                                              USHORT* nativeMachine);

}  // namespace

std::optional<bool> Win32SystemFacts::QueryWow64() const {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
        return std::nullopt;
    }
    return wow64 != FALSE;
}

std::optional<std::uint16_t> Win32SystemFacts::QueryNativeMachine() const {
    auto function = SystemFunction<IsWow64Process2Function>(L"kernel32.dll", "IsWow64Process2");
    if (function == nullptr) {
        return std::nullopt;
    }
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (!function(GetCurrentProcess(), &processMachine, &nativeMachine)) {
        return std::nullopt;
    }
    return nativeMachine;
}

std::uint16_t Win32SystemFacts::QueryNativeProcessorArchitecture() const {
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

std::optional<ReportedVersion> Win32SystemFacts::QueryReportedVersion() const {
    // The call is made with the size 284, which is the extended record's: the
    // record passed must be that large, or Windows writes past its end.
    static_assert(sizeof(OSVERSIONINFOEXW) == 284);
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        return std::nullopt;
    }
    return ReportedVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

}  // namespace tde
