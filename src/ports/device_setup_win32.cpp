#include "ports/device_setup.h"
#include "base/win32.h"
#include "spooler/spooler.h"

#include <windows.h>

#include <setupapi.h>

#include <cstring>

namespace tde {

namespace {

// The records are handed through as they are.
static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(sizeof(DeviceInfoData) == sizeof(SP_DEVINFO_DATA));
static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == kDeviceInterfaceDataSize);
static_assert(sizeof(SP_DEVINFO_DATA) == kDeviceInfoDataSize);
// mingw's header packs the detail record as Windows' does in a 32-bit process.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == kInterfaceDetailSizeField);

using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCWSTR, HWND, DWORD);
using EnumInterfacesFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                       PSP_DEVICE_INTERFACE_DATA);
using GetDetailFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD, PDWORD,
                                  PSP_DEVINFO_DATA);
using GetInstanceIdFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, PWSTR, DWORD, PDWORD);
using GetPropertyFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD,
                                    PDWORD);
using DestroyListFn = BOOL(WINAPI*)(HDEVINFO);

bool Missing() {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
}

const GUID* AsGuid(const Guid& guid) {
    return reinterpret_cast<const GUID*>(&guid);
}

HDEVINFO AsSet(DeviceSet set) {
    return reinterpret_cast<HDEVINFO>(set);
}

// SetupAPI takes the records by non-const pointer but only reads the size field and handle.
template <typename Record, typename Win32Record>
Win32Record* AsRecord(const Record& record) {
    return reinterpret_cast<Win32Record*>(const_cast<Record*>(&record));
}

class Win32DeviceSetup final : public DeviceSetup {
  public:
    // Loaded when the detection runs, not at start: most runs never press the button.
    Win32DeviceSetup() : module_(static_cast<HMODULE>(LoadSystemLibrary(L"setupapi.dll"))) {
        getClassDevs_ = SystemFunction<GetClassDevsFn>(module_, "SetupDiGetClassDevsW");
        enumInterfaces_ = SystemFunction<EnumInterfacesFn>(module_, "SetupDiEnumDeviceInterfaces");
        getDetail_ = SystemFunction<GetDetailFn>(module_, "SetupDiGetDeviceInterfaceDetailW");
        getInstanceId_ = SystemFunction<GetInstanceIdFn>(module_, "SetupDiGetDeviceInstanceIdW");
        getProperty_ = SystemFunction<GetPropertyFn>(module_, "SetupDiGetDeviceRegistryPropertyW");
        destroyList_ = SystemFunction<DestroyListFn>(module_, "SetupDiDestroyDeviceInfoList");
    }
    ~Win32DeviceSetup() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    Win32DeviceSetup(const Win32DeviceSetup&) = delete;
    Win32DeviceSetup& operator=(const Win32DeviceSetup&) = delete;

    void Wait(uint32_t milliseconds) override { Sleep(milliseconds); }

    DeviceSet GetClassDevsW(const Guid& interfaceClass, uint32_t flags) override {
        if (getClassDevs_ == nullptr) {
            Missing();
            return nullptr;
        }
        HDEVINFO set = getClassDevs_(AsGuid(interfaceClass), nullptr, nullptr, flags);
        return set == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<DeviceSet>(set);
    }

    bool EnumDeviceInterfaces(DeviceSet set, const Guid& interfaceClass, uint32_t index,
                              DeviceInterfaceData* data) override {
        if (enumInterfaces_ == nullptr) {
            return Missing();
        }
        return enumInterfaces_(AsSet(set), nullptr, AsGuid(interfaceClass), index,
                               reinterpret_cast<PSP_DEVICE_INTERFACE_DATA>(data)) != FALSE;
    }

    bool GetDeviceInterfaceDetailW(DeviceSet set, const DeviceInterfaceData& data, uint8_t* detail,
                                   uint32_t detailSize, uint32_t* requiredSize,
                                   DeviceInfoData* info) override {
        if (getDetail_ == nullptr) {
            return Missing();
        }
        DWORD required = 0;
        BOOL ok =
            getDetail_(AsSet(set), AsRecord<DeviceInterfaceData, SP_DEVICE_INTERFACE_DATA>(data),
                       reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail), detailSize,
                       requiredSize != nullptr ? &required : nullptr,
                       reinterpret_cast<PSP_DEVINFO_DATA>(info));
        if (requiredSize != nullptr) {
            *requiredSize = required;
        }
        return ok != FALSE;
    }

    bool GetDeviceInstanceIdW(DeviceSet set, const DeviceInfoData& info, char16_t* buffer,
                              uint32_t bufferChars) override {
        if (getInstanceId_ == nullptr) {
            return Missing();
        }
        return getInstanceId_(AsSet(set), AsRecord<DeviceInfoData, SP_DEVINFO_DATA>(info),
                              reinterpret_cast<PWSTR>(buffer), bufferChars, nullptr) != FALSE;
    }

    bool GetDeviceRegistryPropertyW(DeviceSet set, const DeviceInfoData& info, uint32_t property,
                                    uint8_t* buffer, uint32_t bufferSize) override {
        if (getProperty_ == nullptr) {
            return Missing();
        }
        return getProperty_(AsSet(set), AsRecord<DeviceInfoData, SP_DEVINFO_DATA>(info), property,
                            nullptr, buffer, bufferSize, nullptr) != FALSE;
    }

    bool DestroyDeviceInfoList(DeviceSet set) override {
        if (destroyList_ == nullptr) {
            return Missing();
        }
        return destroyList_(AsSet(set)) != FALSE;
    }

    uint32_t OpenMachineKey(std::u16string_view path, uint32_t access, RegistryKey* key) override {
        std::wstring text(path.begin(), path.end());
        HKEY opened = nullptr;
        LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, text.c_str(), 0, access, &opened);
        if (error == ERROR_SUCCESS) {
            *key = reinterpret_cast<RegistryKey>(opened);
        }
        return static_cast<uint32_t>(error);
    }

    uint32_t QueryValue(RegistryKey key, const char16_t* valueName, uint32_t* type, uint8_t* data,
                        uint32_t* size) override {
        DWORD t = 0;
        DWORD n = *size;
        LONG error =
            RegQueryValueExW(reinterpret_cast<HKEY>(key),
                             reinterpret_cast<const wchar_t*>(valueName), nullptr, &t, data, &n);
        if (type != nullptr) {
            *type = t;
        }
        *size = n;
        return static_cast<uint32_t>(error);
    }

    void CloseKey(RegistryKey key) override { RegCloseKey(reinterpret_cast<HKEY>(key)); }

    uint32_t LastError() const override { return GetLastError(); }

  private:
    HMODULE module_;
    GetClassDevsFn getClassDevs_ = nullptr;
    EnumInterfacesFn enumInterfaces_ = nullptr;
    GetDetailFn getDetail_ = nullptr;
    GetInstanceIdFn getInstanceId_ = nullptr;
    GetPropertyFn getProperty_ = nullptr;
    DestroyListFn destroyList_ = nullptr;
};

}  // namespace

std::unique_ptr<DeviceSetup> CreateWin32DeviceSetup() {
    return std::make_unique<Win32DeviceSetup>();
}

}  // namespace tde
