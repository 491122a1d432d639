// The "Find USB port" button of the real installer in an English session: with
// no USB printer it tells so after its one-second wait and leaves the port list
// alone; with printers registered in the prefix it adds their ports and selects
// the first one enumerated.
#include "app/resource_ids.h"
#include "installer_process.h"
#include "usb_devices_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

using namespace tde::e2e;

std::vector<std::wstring> Items(HWND combo) {
    std::vector<std::wstring> items;
    LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

class UsbEndToEnd : public testing::Test {
  protected:
    void SetUp() override { tde::test::UsbPrinterDevices::RemoveAll(); }

    void StartInstaller() {
        ASSERT_TRUE(installer.Start()) << "TDE_E2E_EXE names the installer; " << GetLastError();
        dialog = WaitForDialog(installer.Id());
        ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
        port = GetDlgItem(dialog, IDC_PORT);
        before = Items(port);
        selectionBefore = SendMessageW(port, CB_GETCURSEL, 0, 0);
    }

    void PressDetect() {
        HWND button = GetDlgItem(dialog, IDC_USB_DETECT);
        pressedAt = GetTickCount();
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_USB_DETECT, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }

    void TearDown() override {
        if (dialog != nullptr && IsWindow(dialog)) {
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
            DWORD code = 1234;
            EXPECT_TRUE(installer.WaitForExit(20000, &code)) << "the installer did not end";
        }
    }

    InstallerProcess installer;
    tde::test::UsbPrinterDevices devices;
    HWND dialog = nullptr;
    HWND port = nullptr;
    std::vector<std::wstring> before;
    LRESULT selectionBefore = CB_ERR;
    DWORD pressedAt = 0;
};

TEST_F(UsbEndToEnd, NoPrinterShowsTheMessageAfterTheWaitAndKeepsTheSelection) {
    StartInstaller();
    ASSERT_FALSE(before.empty()) << "Wine's spooler offers COM and LPT ports";
    PressDetect();
    HWND box = WaitForDialog(installer.Id(), dialog, 15000);
    DWORD shownAfter = GetTickCount() - pressedAt;
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_GE(shownAfter, 1000u);
    EXPECT_EQ(TextOf(box), L"Printer Driver Setup");
    EXPECT_EQ(ControlText(GetDlgItem(box, 0xFFFF)),
              L"No USB printer was found. Connect the printer with a USB cable, switch it on, "
              L"wait a few seconds and click Find USB port again, or choose the port from the "
              L"list.");
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntilGone(box));
    EXPECT_EQ(Items(port), before);
    EXPECT_EQ(SendMessageW(port, CB_GETCURSEL, 0, 0), selectionBefore);
}

TEST_F(UsbEndToEnd, PrintersAddTheirPortsAndTheFirstEnumeratedIsSelected) {
    // Enumerated in key-name order: A, B, C. C's port number 0 means none.
    ASSERT_TRUE(devices.Add(std::wstring(tde::test::kTestDevicePrefix) + L"A", 3));
    ASSERT_TRUE(devices.Add(std::wstring(tde::test::kTestDevicePrefix) + L"B", 1));
    ASSERT_TRUE(devices.Add(std::wstring(tde::test::kTestDevicePrefix) + L"C", 0));
    StartInstaller();
    PressDetect();
    std::vector<std::wstring> expected = before;
    expected.push_back(L"USB001");
    expected.push_back(L"USB003");  // Wine's ports are COMn: and LPTn:, all before these
    for (int i = 0; i < 100 && Items(port).size() < expected.size(); ++i) {
        Sleep(100);
    }
    Sleep(300);  // the handler has finished with the selection
    EXPECT_EQ(Items(port), expected);
    wchar_t selected[64] = {};
    SendMessageW(port, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(selected));
    EXPECT_STREQ(selected, L"USB003");
    EXPECT_EQ(WaitForDialog(installer.Id(), dialog, 500), nullptr) << "no message box";
}

}  // namespace
