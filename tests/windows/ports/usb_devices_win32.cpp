#include "usb_devices_win32.h"

#include <setupapi.h>

namespace tde::test {

namespace {

const GUID kUsbPrint = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
// GUID_DEVCLASS_USB: the setup class the devices are filed under.
const GUID kUsbClass = {
    0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const wchar_t kClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

std::wstring InterfaceKey(const std::wstring& instanceId) {
    std::wstring id = instanceId;
    for (wchar_t& c : id) {
        if (c == L'\\') {
            c = L'#';
        }
    }
    return std::wstring(kClassKey) + L"\\##?#" + id + L"#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
}

bool SetMultiSz(HDEVINFO set, SP_DEVINFO_DATA* info, DWORD property, const std::wstring& text,
                bool multi) {
    std::wstring stored = text + L'\0';
    if (multi) {
        stored += L'\0';
    }
    return SetupDiSetDeviceRegistryPropertyW(set, info, property,
                                             reinterpret_cast<const BYTE*>(stored.c_str()),
                                             static_cast<DWORD>(stored.size() * sizeof(wchar_t)));
}

}  // namespace

bool IsTestDevice(const std::wstring& text) {
    std::wstring lower = text;
    CharLowerW(lower.data());
    return lower.find(L"vid_1fc9&pid_2016") != std::wstring::npos;
}

bool UsbPrinterDevices::Add(const std::wstring& instanceId, std::optional<DWORD> portNumber,
                            bool linked) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kUsbClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = false;
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    if (SetupDiCreateDeviceInfoW(set, instanceId.c_str(), &kUsbClass, L"USB Printing Support",
                                 nullptr, 0, &info) &&
        SetupDiRegisterDeviceInfo(set, &info, 0, nullptr, nullptr, nullptr) &&
        SetMultiSz(set, &info, SPDRP_DEVICEDESC, L"USB Printing Support", false) &&
        SetMultiSz(set, &info, SPDRP_HARDWAREID, L"USB\\VID_1FC9&PID_2016", true) &&
        SetupDiCreateDeviceInterfaceW(set, &info, &kUsbPrint, nullptr, 0, &iface)) {
        added_.push_back(instanceId);
        HKEY parameters =
            SetupDiCreateDeviceInterfaceRegKeyW(set, &iface, 0, KEY_ALL_ACCESS, nullptr, nullptr);
        ok = parameters != INVALID_HANDLE_VALUE;
        if (ok && portNumber) {
            ok = RegSetValueExW(parameters, L"Port Number", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&*portNumber),
                                sizeof(DWORD)) == ERROR_SUCCESS;
        }
        if (parameters != INVALID_HANDLE_VALUE) {
            RegCloseKey(parameters);
        }
        if (ok && linked) {
            HKEY control = nullptr;
            DWORD one = 1;
            ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                 (InterfaceKey(instanceId) + L"\\#\\Control").c_str(), 0, nullptr,
                                 0, KEY_ALL_ACCESS, nullptr, &control, nullptr) == ERROR_SUCCESS &&
                 RegSetValueExW(control, L"Linked", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&one), sizeof one) == ERROR_SUCCESS;
            if (control != nullptr) {
                RegCloseKey(control);
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

bool UsbPrinterDevices::SetPortValue(const std::wstring& instanceId, DWORD type, const void* data,
                                     DWORD size) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      (InterfaceKey(instanceId) + L"\\#\\Device Parameters").c_str(), 0,
                      KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = RegSetValueExW(key, L"Port Number", 0, type, static_cast<const BYTE*>(data), size) ==
              ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void UsbPrinterDevices::RemoveAll() {
    // Only the test's own devices: their instance IDs all carry this hardware ID.
    HDEVINFO set = SetupDiGetClassDevsW(&kUsbClass, nullptr, nullptr, 0);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA info = {};
        info.cbSize = sizeof info;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
            wchar_t id[256] = {};
            if (SetupDiGetDeviceInstanceIdW(set, &info, id, 256, nullptr) && IsTestDevice(id)) {
                SetupDiRemoveDevice(set, &info);
            }
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    HKEY classKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassKey, 0, KEY_ALL_ACCESS, &classKey) ==
        ERROR_SUCCESS) {
        std::vector<std::wstring> names;
        wchar_t name[512];
        for (DWORD i = 0;; ++i) {
            DWORD length = 512;
            if (RegEnumKeyExW(classKey, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            if (IsTestDevice(name)) {
                names.push_back(name);
            }
        }
        for (const std::wstring& n : names) {
            RegDeleteTreeW(classKey, n.c_str());
        }
        RegCloseKey(classKey);
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1FC9&PID_2016");
}

UsbPrinterDevices::~UsbPrinterDevices() {
    if (!added_.empty()) {
        RemoveAll();
    }
}

}  // namespace tde::test
