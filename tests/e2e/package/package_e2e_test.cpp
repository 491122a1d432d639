// The A4 Printer's package under Wine's msiexec, checked from outside: exit
// codes through GetExitCodeProcess (wine itself keeps only 8 bits), what the
// spooler holds, the installed files and the Apps & features entry.
#include "installer_process.h"
#include "support/spooler_fixtures_win32.h"
#include "support/wine_child.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

using tde::e2e::Env;

DWORD Msiexec(const std::wstring& arguments, const wchar_t* package = L"TDE_E2E_PACKAGE") {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const auto run = tde::testing_support::RunChild(std::wstring(system) + L"\\msiexec.exe",
                                                    arguments + L" \"" + Env(package) + L"\" /qn");
    EXPECT_TRUE(run.started);
    return run.exitCode;
}

bool Has(const std::vector<std::wstring>& names) {
    return std::find(names.begin(), names.end(), L"A4 Printer") != names.end();
}

std::wstring InstallFolder() {
    wchar_t folder[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%ProgramFiles%\\ZNW\\DovEzuvar", folder, MAX_PATH);
    return folder;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The Apps & features entry named after the model, in the view this 32-bit
// process reads (where Wine's msiexec writes it), as "publisher version
// NoModify NoRepair"; empty when there is none, joined by "; " when several.
std::wstring ArpEntry() {
    HKEY uninstall = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                  KEY_READ, &uninstall);
    std::wstring entry;
    wchar_t name[256];
    for (DWORD i = 0, length = 256; RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr,
                                                  nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = 256) {
        HKEY product = nullptr;
        RegOpenKeyExW(uninstall, name, 0, KEY_READ, &product);
        auto value = [&](const wchar_t* item) {
            wchar_t text[256] = {};
            DWORD size = sizeof text - sizeof(wchar_t), type = 0;
            RegGetValueW(product, nullptr, item, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type, text,
                         &size);
            return type == REG_DWORD ? std::to_wstring(*reinterpret_cast<DWORD*>(text))
                                     : std::wstring(text);
        };
        if (value(L"DisplayName") == L"DovEzuvar A4 Printer (test build)") {
            entry += (entry.empty() ? L"" : L"; ") + value(L"Publisher") + L" " +
                     value(L"DisplayVersion") + L" " + value(L"NoModify") + L" " +
                     value(L"NoRepair");
        }
        RegCloseKey(product);
    }
    RegCloseKey(uninstall);
    return entry;
}

void ExpectNothingLeft() {
    EXPECT_FALSE(Has(tde::test::ListedDrivers()));
    EXPECT_FALSE(Has(tde::test::ListedQueues()));
    EXPECT_FALSE(Exists(InstallFolder()));
    EXPECT_EQ(ArpEntry(), L"");
}

TEST(PackageE2E, InstallsWithPortAndDefaultUninstallsAndFailsCleanOnABadPortOrLog) {
    ASSERT_FALSE(Env(L"TDE_E2E_PACKAGE").empty());
    Msiexec(L"/x");  // what an earlier failed run may have left
    tde::test::DefaultPrinterGuard keepDefault;
    // No default printer yet, so only the package's helper can make the queue one.
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                    L"Device", REG_SZ, L"", sizeof(wchar_t));

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"tde package install.log";
    DeleteFileW(log.c_str());
    EXPECT_EQ(Msiexec(L"PORT=LPT2: DEFAULT=1 LOGFILE=\"" + log + L"\" /i"), 0u);
    EXPECT_TRUE(Has(tde::test::ListedDrivers()));
    EXPECT_TRUE(Has(tde::test::ListedQueues()));
    EXPECT_EQ(tde::test::DefaultPrinter(), L"A4 Printer");
    EXPECT_TRUE(Exists(InstallFolder() + L"\\TarnDovEzuvar.exe"));
    EXPECT_TRUE(Exists(InstallFolder() + L"\\SetDefaultPrinter.exe"));
    EXPECT_TRUE(Exists(log)) << "LOGFILE did not reach the exe's /log";
    EXPECT_EQ(ArpEntry(), L"ZNW " TDE_VERSION " 1 1");
    DeleteFileW(log.c_str());

    EXPECT_EQ(Msiexec(L"/x"), 0u);
    ExpectNothingLeft();

    // Windows answers 1603 for the failed action, Wine's msiexec 1627.
    const DWORD failed = Msiexec(L"PORT=NOPORT9: /i");
    EXPECT_TRUE(failed == 1603 || failed == 1627) << failed;
    ExpectNothingLeft();

    // Refused before the exe runs: a PORT that leaves its quotes, a LOGFILE on the network.
    const wchar_t planted[] = L"C:\\users\\public\\x.cmd";
    DeleteFileW(planted);
    const DWORD quote = Msiexec(L"/i", L"TDE_E2E_HOSTILE_PACKAGE");
    const DWORD unc = Msiexec(L"LOGFILE=\\\\server\\share\\x.log /i");
    EXPECT_TRUE((quote == 1603 || quote == 1627) && (unc == 1603 || unc == 1627))
        << quote << " " << unc;
    EXPECT_FALSE(Exists(planted));
    ExpectNothingLeft();
}

// One entry and the printer, either order. Under Wine the older build's removal
// also removes the printer (no UPGRADINGPRODUCTCODE); the new install puts it back.
TEST(PackageE2E, ARebuildOfTheSameVersionReplacesTheInstalledOne) {
    for (const auto& [first, second] : {std::pair{L"TDE_E2E_PACKAGE", L"TDE_E2E_BAKED_PACKAGE"},
                                        std::pair{L"TDE_E2E_BAKED_PACKAGE", L"TDE_E2E_PACKAGE"}}) {
        SCOPED_TRACE(testing::Message() << first << " then " << second);
        EXPECT_EQ(Msiexec(L"PORT=LPT2: /i", first), 0u);
        EXPECT_EQ(Msiexec(L"PORT=LPT2: /i", second), 0u);
        EXPECT_EQ(ArpEntry(), L"ZNW " TDE_VERSION " 1 1");
        EXPECT_TRUE(Has(tde::test::ListedQueues()));
        EXPECT_EQ(Msiexec(L"/x", second), 0u);
        ExpectNothingLeft();
    }
}

}  // namespace
