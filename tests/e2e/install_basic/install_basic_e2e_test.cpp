// Pressing Install in the real installer, in the build's own Windows 7 prefix
// (no certificate step there): the model's driver and queue appear in Wine's
// spooler and the button comes back.
#include "installer_process.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <memory>
#include <string>

namespace tde::e2e {
namespace {

constexpr int kInstall = 1000, kModel = 1007, kDefault = 1008, kPort = 1011, kExit = 1001;
const wchar_t kName[] = L"A3 Printer";

bool DriverRegistered(const std::wstring& name) {
    DWORD needed = 0, count = 0;
    EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
    std::unique_ptr<BYTE[]> buffer(new BYTE[needed + 1]);
    if (!EnumPrinterDriversW(nullptr, nullptr, 1, buffer.get(), needed, &needed, &count)) {
        return false;
    }
    auto* drivers = reinterpret_cast<DRIVER_INFO_1W*>(buffer.get());
    for (DWORD i = 0; i < count; ++i) {
        if (name == drivers[i].pName) {
            return true;
        }
    }
    return false;
}

// The queue's port and driver, empty when there is no such queue.
std::pair<std::wstring, std::wstring> QueuePortAndDriver(const std::wstring& name) {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    if (!OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &printer, &defaults)) {
        return {};
    }
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::unique_ptr<BYTE[]> buffer(new BYTE[needed + 1]);
    std::pair<std::wstring, std::wstring> result;
    if (GetPrinterW(printer, 2, buffer.get(), needed, &needed)) {
        auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.get());
        result = {info->pPortName ? info->pPortName : L"",
                  info->pDriverName ? info->pDriverName : L""};
    }
    ClosePrinter(printer);
    return result;
}

void RemoveInstallation() {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(const_cast<wchar_t*>(kName), &printer, &defaults)) {
        DeletePrinter(printer);
        ClosePrinter(printer);
    }
    DeletePrinterDriverW(nullptr, nullptr, const_cast<wchar_t*>(kName));
}

TEST(InstallBasic, PressingInstallRegistersTheDriverAndCreatesTheQueue) {
    RemoveInstallation();
    ASSERT_FALSE(DriverRegistered(kName));

    InstallerProcess installer;
    ASSERT_TRUE(installer.Start());
    HWND dialog = WaitForDialog(installer.Id());
    ASSERT_NE(dialog, nullptr);
    HWND button = GetDlgItem(dialog, kInstall);
    ASSERT_EQ(SendDlgItemMessageW(dialog, kModel, CB_SETCURSEL, 1, 0), 1);
    LRESULT port = SendDlgItemMessageW(dialog, kPort, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(L"LPT1:"));
    ASSERT_NE(port, CB_ERR);
    SendDlgItemMessageW(dialog, kPort, CB_SETCURSEL, port, 0);
    SendDlgItemMessageW(dialog, kDefault, BM_SETCHECK, BST_UNCHECKED, 0);

    // Posted: the click handler runs the whole installation.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kInstall, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    bool installed = false;
    for (int i = 0; i < 600 && !installed; ++i) {
        Sleep(100);
        installed = IsWindowEnabled(button) && QueuePortAndDriver(kName).first == L"LPT1:";
    }
    EXPECT_TRUE(installed) << "no queue on LPT1: with the button enabled again within a minute";
    EXPECT_TRUE(DriverRegistered(kName));
    EXPECT_EQ(QueuePortAndDriver(kName).second, kName);
    EXPECT_EQ(WaitForDialog(installer.Id(), dialog, 500), nullptr) << "a message box came up";

    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kExit, BN_CLICKED), 0);
    DWORD code = 0;
    EXPECT_TRUE(installer.WaitForExit(10000, &code));
    RemoveInstallation();
}

}  // namespace
}  // namespace tde::e2e
