// USB printer interfaces registered in the test prefix through SetupAPI, as a
// printer's driver leaves them: the device, its USB printing interface, the
// "Port Number" under the interface's "Device Parameters" key, and the
// Control\Linked mark that makes Wine count the interface as present.
// Everything registered is removed again when the object goes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tde::test {

// Instance IDs of test devices begin with this; nothing else is ever removed.
inline constexpr wchar_t kTestDevicePrefix[] = L"USB\\VID_1FC9&PID_2016\\";
bool IsTestDevice(const std::wstring& text);

class UsbPrinterDevices {
  public:
    UsbPrinterDevices() = default;
    ~UsbPrinterDevices();
    UsbPrinterDevices(const UsbPrinterDevices&) = delete;
    UsbPrinterDevices& operator=(const UsbPrinterDevices&) = delete;

    // Registers a device with this instance ID ("USB\VID_...\serial"). A port
    // number is written as a REG_DWORD; `linked` false leaves the interface
    // registered but not present.
    bool Add(const std::wstring& instanceId, std::optional<DWORD> portNumber, bool linked = true);
    // Writes "Port Number" with any type and bytes under the device's interface key.
    bool SetPortValue(const std::wstring& instanceId, DWORD type, const void* data, DWORD size);
    // Removes every USB printer interface and device of the prefix, also ones a
    // crashed earlier run left.
    static void RemoveAll();

  private:
    std::vector<std::wstring> added_;
};

}  // namespace tde::test
