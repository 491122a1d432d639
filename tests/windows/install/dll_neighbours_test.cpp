// With the DLL search restricted as at start-up, Wine's in-process spooler still
// loads a driver's configuration module whose imports sit beside it in the
// driver directory. Runs alone: the restriction cannot be undone in a process.
#include "spooler/spooler.h"

#include "base/win32.h"
#include "support/spooler_fixtures_win32.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <string>

#ifndef TDE_NEIGHBOUR_DIR
#error "TDE_NEIGHBOUR_DIR names the folder of the test modules"
#endif

namespace tde {
namespace {

const wchar_t kDriver[] = L"TDE Neighbour Driver";
const wchar_t kQueue[] = L"TDE Neighbour Queue";

void Remove() {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(const_cast<wchar_t*>(kQueue), &printer, &defaults)) {
        DeletePrinter(printer);
        ClosePrinter(printer);
    }
    DeletePrinterDriverW(nullptr, nullptr, const_cast<wchar_t*>(kDriver));
}

TEST(DllNeighbours, TheConfigurationModuleLoadsWithItsNeighbourUnderTheRestriction) {
    ASSERT_TRUE(RestrictDllSearchToSystemFolder());
    Remove();
    const std::wstring directory = test::DriverDirectory();
    const std::wstring source = TDE_NEIGHBOUR_DIR;
    for (const wchar_t* file : {L"tdenbcfg.dll", L"tdenbdep.dll"}) {
        ASSERT_TRUE(
            CopyFileW((source + L"\\" + file).c_str(), (directory + L"\\" + file).c_str(), FALSE))
            << GetLastError();
    }
    DRIVER_INFO_3W driver = {};
    driver.cVersion = 3;
    driver.pName = const_cast<wchar_t*>(kDriver);
    driver.pDriverPath = const_cast<wchar_t*>(L"tdenbcfg.dll");
    driver.pDataFile = const_cast<wchar_t*>(L"tdenbcfg.dll");
    driver.pConfigFile = const_cast<wchar_t*>(L"tdenbcfg.dll");
    wchar_t dependent[] = L"tdenbdep.dll\0";
    driver.pDependentFiles = dependent;
    ASSERT_TRUE(
        AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&driver), APD_COPY_ALL_FILES))
        << GetLastError();

    // Through the installer's own spooler boundary, as the run creates queues.
    std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
    std::string why;
    ASSERT_TRUE(test::AddLocalQueue(*spooler, u"TDE Neighbour Queue", u"LPT1:",
                                    u"TDE Neighbour Driver", &why))
        << why;

    // The spooler asks the configuration module for the DEVMODE size.
    LONG size =
        DocumentPropertiesW(nullptr, nullptr, const_cast<wchar_t*>(kQueue), nullptr, nullptr, 0);
    EXPECT_GE(size, static_cast<LONG>(sizeof(DEVMODEW)))
        << "the configuration module or its neighbour did not load";
    Remove();
}

}  // namespace
}  // namespace tde
