#include "install/preflight.h"

#include "base/win32.h"

#include <windows.h>

namespace tde {

namespace {

constexpr wchar_t kProtectedPrintKey[] =
    L"Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP";
constexpr wchar_t kProtectedPrintValue[] = L"WindowsProtectedPrintGroupPolicyState";

class Win32PreflightQueries final : public PreflightQueries {
  public:
    std::optional<uint32_t> ProtectedPrintPolicy() override {
        // A 32-bit process would read the WOW64 copy of the key without the flag.
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProtectedPrintKey, 0,
                          KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        const LONG read = RegQueryValueExW(key, kProtectedPrintValue, nullptr, &type,
                                           reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) {
            return std::nullopt;
        }
        return value;
    }

    std::optional<bool> ProcessElevated() override {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return std::nullopt;
        }
        TOKEN_ELEVATION elevation = {};
        DWORD size = 0;
        const BOOL read =
            GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
        CloseHandle(token);
        if (!read) {
            return std::nullopt;
        }
        return elevation.TokenIsElevated != 0;
    }

    std::optional<uint64_t> FreeBytes(std::u16string_view folder) override {
        const std::wstring path(folder.begin(), folder.end());
        ULARGE_INTEGER available = {};
        if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
            return std::nullopt;
        }
        return available.QuadPart;
    }

    std::optional<uint32_t> SpoolerStartType() override {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager == nullptr) {
            return std::nullopt;
        }
        std::optional<uint32_t> startType;
        if (SC_HANDLE service = OpenServiceW(manager, L"Spooler", SERVICE_QUERY_CONFIG)) {
            DWORD needed = 0;
            QueryServiceConfigW(service, nullptr, 0, &needed);
            if (needed > 0 && needed <= 8192) {
                alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
                auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
                if (QueryServiceConfigW(service, config, needed, &needed)) {
                    startType = config->dwStartType;
                }
            }
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
        return startType;
    }

    PayloadCheck VerifyItems(const std::vector<std::u16string>& items) override {
        ArchiveReader* reader =
            CUiResources::IsArchiveKeptOpen() ? CUiResources::GetArchiveHandle() : nullptr;
        return VerifyArchiveItems(reader, items);
    }

    std::optional<uint32_t> BuildNumber() override {
        // GetVersionExW is capped at 6.2 by the manifest; ntdll tells the truth.
        using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
        auto get = SystemFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
        OSVERSIONINFOW version = {};
        version.dwOSVersionInfoSize = sizeof version;
        if (get == nullptr || get(&version) != 0) {
            return std::nullopt;
        }
        return version.dwBuildNumber;
    }
};

}  // namespace

std::unique_ptr<PreflightQueries> CreateWin32PreflightQueries() {
    return std::make_unique<Win32PreflightQueries>();
}

}  // namespace tde
