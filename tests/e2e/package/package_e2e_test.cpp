// The A4 Printer's package under Wine's msiexec, checked from outside: exit
// codes through GetExitCodeProcess (wine itself keeps only 8 bits), what the
// spooler holds, the installed files and the Apps & features entry.
#include "installer_process.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace {

using tde::e2e::Env;

const wchar_t kModel[] = L"A4 Printer";

DWORD Msiexec(const std::wstring& arguments) {
    std::wstring command = L"msiexec.exe " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return 0xFFFFFFFF;
    }
    if (WaitForSingleObject(info.hProcess, 240000) != WAIT_OBJECT_0) {
        TerminateProcess(info.hProcess, 99);
        ADD_FAILURE() << "msiexec did not end in four minutes";
    }
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

std::wstring Package() {
    return L"\"" + Env(L"TDE_E2E_PACKAGE") + L"\"";
}

bool DriverInstalled() {
    DWORD needed = 0, count = 0;
    EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    EnumPrinterDriversW(nullptr, nullptr, 1, buffer.data(), needed, &needed, &count);
    auto* drivers = reinterpret_cast<DRIVER_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (lstrcmpiW(drivers[i].pName, kModel) == 0) {
            return true;
        }
    }
    return false;
}

// The port of the model's queue; empty when there is none.
std::wstring QueuePort() {
    DWORD needed = 0, count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count);
    auto* printers = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (lstrcmpiW(printers[i].pPrinterName, kModel) == 0) {
            return printers[i].pPortName ? printers[i].pPortName : L"(none)";
        }
    }
    return L"";
}

std::wstring DefaultPrinter() {
    wchar_t name[512] = {};
    DWORD size = 512;
    return GetDefaultPrinterW(name, &size) ? name : L"";
}

std::wstring InstallFolder() {
    wchar_t folder[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%ProgramFiles%\\ZNW\\DovEzuvar", folder, MAX_PATH);
    return folder;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct ArpEntry {
    bool found = false;
    std::wstring publisher, version;
    DWORD noModify = 0, noRepair = 0;
};

std::wstring ReadString(HKEY key, const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    return RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS
               ? value
               : L"";
}

// The Apps & features entry named after the model, in either registry view.
ArpEntry FindArpEntry() {
    ArpEntry entry;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY uninstall = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                          KEY_READ | view, &uninstall) != ERROR_SUCCESS) {
            continue;
        }
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            HKEY product = nullptr;
            if (RegOpenKeyExW(uninstall, name, 0, KEY_READ | view, &product) != ERROR_SUCCESS) {
                continue;
            }
            if (ReadString(product, L"DisplayName") == L"DovEzuvar A4 Printer") {
                entry.found = true;
                entry.publisher = ReadString(product, L"Publisher");
                entry.version = ReadString(product, L"DisplayVersion");
                DWORD size = sizeof(DWORD);
                RegGetValueW(product, nullptr, L"NoModify", RRF_RT_REG_DWORD, nullptr,
                             &entry.noModify, &size);
                size = sizeof(DWORD);
                RegGetValueW(product, nullptr, L"NoRepair", RRF_RT_REG_DWORD, nullptr,
                             &entry.noRepair, &size);
            }
            RegCloseKey(product);
        }
        RegCloseKey(uninstall);
    }
    return entry;
}

void ExpectNothingLeft() {
    EXPECT_FALSE(DriverInstalled());
    EXPECT_EQ(QueuePort(), L"");
    EXPECT_FALSE(Exists(InstallFolder() + L"\\TarnDovEzuvar.exe"));
    EXPECT_FALSE(Exists(InstallFolder() + L"\\SetDefaultPrinter.exe"));
    EXPECT_FALSE(FindArpEntry().found);
}

TEST(PackageE2E, InstallsWithPortAndDefaultUninstallsAndFailsCleanOnAnUnknownPort) {
    ASSERT_FALSE(Env(L"TDE_E2E_PACKAGE").empty());
    Msiexec(L"/x " + Package() + L" /qn");  // what an earlier failed run may have left
    // No default printer yet, so only the package's helper can make the queue one.
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                    L"Device", REG_SZ, L"", sizeof(wchar_t));
    ASSERT_NE(DefaultPrinter(), kModel);

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"tde package install.log";
    DeleteFileW(log.c_str());
    EXPECT_EQ(Msiexec(L"/i " + Package() + L" /qn PORT=LPT2: DEFAULT=1 LOGFILE=\"" + log + L"\""),
              0u);
    EXPECT_TRUE(DriverInstalled());
    EXPECT_EQ(QueuePort(), L"LPT2:");
    EXPECT_EQ(DefaultPrinter(), kModel);
    EXPECT_TRUE(Exists(InstallFolder() + L"\\TarnDovEzuvar.exe"));
    EXPECT_TRUE(Exists(log)) << "LOGFILE reached the exe's /log";
    const ArpEntry entry = FindArpEntry();
    EXPECT_TRUE(entry.found);
    EXPECT_EQ(entry.publisher, L"ZNW");
    EXPECT_EQ(entry.version, L"" TDE_VERSION);
    EXPECT_EQ(entry.noModify, 1u);
    EXPECT_EQ(entry.noRepair, 1u);
    DeleteFileW(log.c_str());

    EXPECT_EQ(Msiexec(L"/x " + Package() + L" /qn"), 0u);
    ExpectNothingLeft();
    EXPECT_FALSE(Exists(InstallFolder()));

    // Windows answers 1603 for the failed action, Wine's msiexec 1627.
    const DWORD failed = Msiexec(L"/i " + Package() + L" /qn PORT=NOPORT9:");
    EXPECT_TRUE(failed == 1603 || failed == 1627) << failed;
    ExpectNothingLeft();
}

}  // namespace
