// USB port detection with the real SetupAPI and registry of the Wine prefix,
// over USB printer interfaces the test registers there itself.
#include "ports/usb_ports.h"
#include "usb_devices_win32.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace tde {
namespace {

std::wstring Id(const wchar_t* serial) {
    return std::wstring(test::kTestDevicePrefix) + serial;
}

class UsbDetectWin32Test : public testing::Test {
  protected:
    void SetUp() override { test::UsbPrinterDevices::RemoveAll(); }
    test::UsbPrinterDevices devices;
};

TEST_F(UsbDetectWin32Test, NothingRegisteredGivesNothingAfterTheWait) {
    std::unique_ptr<DeviceSetup> setup = CreateWin32DeviceSetup();
    DWORD start = GetTickCount();
    EXPECT_THAT(DetectUsbPrinterPorts(*setup), IsEmpty());
    EXPECT_GE(GetTickCount() - start, 990u);
}

TEST_F(UsbDetectWin32Test, ReadsThePortsOfPresentPrintersInEnumerationOrder) {
    // Wine enumerates the interfaces in the order of their key names: A before B.
    ASSERT_TRUE(devices.Add(Id(L"B"), 1));
    ASSERT_TRUE(devices.Add(Id(L"A"), 1000));
    ASSERT_TRUE(devices.Add(Id(L"C_ZERO"), 0));
    ASSERT_TRUE(devices.Add(Id(L"D_NOVALUE"), std::nullopt));
    ASSERT_TRUE(devices.Add(Id(L"E_TEXT"), std::nullopt));
    const wchar_t one[] = L"1";
    ASSERT_TRUE(devices.SetPortValue(Id(L"E_TEXT"), REG_SZ, one, sizeof one));
    ASSERT_TRUE(devices.Add(Id(L"F_NOTPRESENT"), 9, /*linked=*/false));

    std::unique_ptr<DeviceSetup> setup = CreateWin32DeviceSetup();
    EXPECT_THAT(DetectUsbPrinterPorts(*setup), ElementsAre(u"USB1000", u"USB001"));

    std::u16string a = u"USB\\VID_1FC9&PID_2016\\A";
    EXPECT_EQ(ReadUsbPortName(*setup, a), u"USB1000");
    EXPECT_EQ(ReadUsbPortName(*setup, u"USB\\VID_1FC9&PID_2016\\E_TEXT"), std::nullopt)
        << "a text value is not a port number";
}

TEST_F(UsbDetectWin32Test, OnlyAZeroPortOrNoValueGivesNothing) {
    ASSERT_TRUE(devices.Add(Id(L"ZERO"), 0));
    ASSERT_TRUE(devices.Add(Id(L"NOVALUE"), std::nullopt));
    std::unique_ptr<DeviceSetup> setup = CreateWin32DeviceSetup();
    EXPECT_THAT(DetectUsbPrinterPorts(*setup), IsEmpty());
}

TEST(UsbPortComboWin32Test, MergesIntoASortedComboBoxAsTheModelDoes) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    HWND combo = CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST | CBS_SORT, 0, 0,
                                 200, 150, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(combo, nullptr);
    SortedPortCombo model;
    Win32PortCombo real(combo);
    for (const char16_t* port : {u"COM1", u"usb001", u"USB010", u"LPT1"}) {
        real.AddString(port);
        model.AddString(port);
    }
    real.SetCurSel(0);
    model.SetCurSel(0);
    for (const UsbPortList& detected :
         {UsbPortList{u"USB001"}, UsbPortList{u"USB007", u"USB002"}, UsbPortList{u"USB1000"}}) {
        MergeDetectedPorts(real, detected);
        MergeDetectedPorts(model, detected);
        LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
        ASSERT_EQ(count, static_cast<LRESULT>(model.items.size()));
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[64] = {};
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            EXPECT_EQ(std::u16string(text, text + lstrlenW(text)), model.items[i]) << i;
        }
        EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), model.selection);
    }
    EXPECT_EQ(model.items[static_cast<size_t>(model.selection)], u"USB1000");
    DestroyWindow(parent);
}

}  // namespace
}  // namespace tde
