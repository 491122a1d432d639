// The device-setup boundary: the SetupAPI calls and registry reads the USB port
// detection makes, behind one interface, with an in-memory machine for tests and
// (on Windows) an implementation over "setupapi.dll" and the registry.
//
// The operations keep SetupAPI's shape: records carry their size field, the
// caller sets it, and the interface detail answers its size through a failed
// call with last error 122. Record layouts mirror SP_DEVICE_INTERFACE_DATA and
// SP_DEVINFO_DATA, so the Windows implementation hands them through unchanged.
#pragma once

#include "base/errors.h"
#include "base/fault_plan.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

bool operator==(const Guid& a, const Guid& b);

// GUID_DEVINTERFACE_USBPRINT.
inline constexpr Guid kUsbPrintInterfaceClass = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

inline constexpr uint32_t kDigcfPresent = 0x02;
inline constexpr uint32_t kDigcfDeviceInterface = 0x10;
inline constexpr uint32_t kSpdrpDeviceDesc = 0x00;
inline constexpr uint32_t kSpdrpHardwareId = 0x01;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kRegDword = 4;

// Size fields a 32-bit process passes: SP_DEVICE_INTERFACE_DATA and
// SP_DEVINFO_DATA are 28 bytes; the fixed part of
// SP_DEVICE_INTERFACE_DETAIL_DATA_W is 6 (SetupAPI packs to 1 byte there).
inline constexpr uint32_t kDeviceInterfaceDataSize = 28;
inline constexpr uint32_t kDeviceInfoDataSize = 28;
inline constexpr uint32_t kInterfaceDetailSizeField = 6;

struct DeviceInterfaceData {
    uint32_t cbSize;
    Guid interfaceClassGuid;
    uint32_t flags;
    uintptr_t reserved;
};

struct DeviceInfoData {
    uint32_t cbSize;
    Guid classGuid;
    uint32_t devInst;
    uintptr_t reserved;
};

// A device information set (HDEVINFO) and an open registry key (HKEY); null when none.
struct DeviceSetTag;
using DeviceSet = DeviceSetTag*;
struct RegistryKeyTag;
using RegistryKey = RegistryKeyTag*;

class DeviceSetup {
  public:
    virtual ~DeviceSetup() = default;

    // Sleep: the pause that lets a printer just plugged in finish its setup.
    virtual void Wait(uint32_t milliseconds) = 0;

    // SetupDiGetClassDevsW with no enumerator and no window: null on failure.
    virtual DeviceSet GetClassDevsW(const Guid& interfaceClass, uint32_t flags) = 0;
    // SetupDiEnumDeviceInterfaces with no device filter.
    virtual bool EnumDeviceInterfaces(DeviceSet set, const Guid& interfaceClass, uint32_t index,
                                      DeviceInterfaceData* data) = 0;
    // SetupDiGetDeviceInterfaceDetailW. `detail` starts with the 4-byte size
    // field; no buffer: fails with 122 and answers the bytes needed.
    virtual bool GetDeviceInterfaceDetailW(DeviceSet set, const DeviceInterfaceData& data,
                                           uint8_t* detail, uint32_t detailSize,
                                           uint32_t* requiredSize, DeviceInfoData* info) = 0;
    // SetupDiGetDeviceInstanceIdW; fails with 122 when the ID and its NUL do not fit.
    virtual bool GetDeviceInstanceIdW(DeviceSet set, const DeviceInfoData& info, char16_t* buffer,
                                      uint32_t bufferChars) = 0;
    // SetupDiGetDeviceRegistryPropertyW; fails with 122 when the value does not fit.
    virtual bool GetDeviceRegistryPropertyW(DeviceSet set, const DeviceInfoData& info,
                                            uint32_t property, uint8_t* buffer,
                                            uint32_t bufferSize) = 0;
    // SetupDiDestroyDeviceInfoList.
    virtual bool DestroyDeviceInfoList(DeviceSet set) = 0;

    // RegOpenKeyExW below HKEY_LOCAL_MACHINE: a Windows error code, 0 on success.
    virtual uint32_t OpenMachineKey(std::u16string_view path, uint32_t access,
                                    RegistryKey* key) = 0;
    // RegQueryValueExW: a Windows error code; `size` is in and out.
    virtual uint32_t QueryValue(RegistryKey key, const char16_t* valueName, uint32_t* type,
                                uint8_t* data, uint32_t* size) = 0;
    virtual void CloseKey(RegistryKey key) = 0;

    // The thread's last error after a failed SetupAPI call.
    virtual uint32_t LastError() const = 0;
};

// --- The in-memory machine ---------------------------------------------------------------------
enum class DeviceSetupOp {
    GetClassDevsW,
    EnumDeviceInterfaces,
    GetDeviceInterfaceDetailW,
    GetDeviceInstanceIdW,
    GetDeviceRegistryPropertyW,
    OpenMachineKey,
    QueryValue,
};

// Present USB printer interfaces and a registry, with every call counted, the
// size fields checked as SetupAPI checks them, and faults on request.
class MemoryDeviceSetup final : public DeviceSetup {
  public:
    struct Device {
        std::u16string instanceId;
        std::optional<std::u16string> description = u"USB Printing Support";
        std::optional<std::u16string> hardwareIds = u"USB\\VID_1234&PID_5678";
        bool present = true;
        // The size query of its interface detail succeeds instead of answering a size.
        bool detailSizeQuerySucceeds = false;
    };
    struct Value {
        uint32_t type = kRegDword;
        std::vector<uint8_t> bytes;
    };

    static constexpr uint32_t kEveryCall = FaultPlan<DeviceSetupOp>::kEveryCall;

    std::vector<Device> devices;  // in enumeration order
    // Registry values by key path (compared ignoring case) and value name.
    std::map<std::u16string, std::map<std::u16string, Value>> registry;
    bool classDevsFails = false;

    // A device with its "Port Number" written as a REG_DWORD under the key the
    // detection reads; no number: no value.
    void AddPrinter(std::u16string instanceId, std::optional<uint32_t> portNumber);
    void SetValue(std::u16string_view instanceId, Value value);
    // Call `onCall` (1-based, counted per operation; kEveryCall for all) of `op` fails.
    void FailCall(DeviceSetupOp op, uint32_t error, uint32_t onCall = 1);

    uint32_t waitedMs = 0;
    bool waitedBeforeAsking = false;
    uint32_t classDevsFlags = 0;
    // Sizes the calls were given, in order, for the checks of each call's buffers.
    std::vector<uint32_t> detailSizes;
    std::vector<uint32_t> instanceIdChars;
    std::vector<uint32_t> propertyBytes;
    std::vector<uint32_t> keyAccess;
    size_t OpenSetCount() const { return openSets_; }
    size_t OpenKeyCount() const { return openKeys_.size(); }
    size_t CallCount(DeviceSetupOp op) const;

    void Wait(uint32_t milliseconds) override;
    DeviceSet GetClassDevsW(const Guid& interfaceClass, uint32_t flags) override;
    bool EnumDeviceInterfaces(DeviceSet set, const Guid& interfaceClass, uint32_t index,
                              DeviceInterfaceData* data) override;
    bool GetDeviceInterfaceDetailW(DeviceSet set, const DeviceInterfaceData& data, uint8_t* detail,
                                   uint32_t detailSize, uint32_t* requiredSize,
                                   DeviceInfoData* info) override;
    bool GetDeviceInstanceIdW(DeviceSet set, const DeviceInfoData& info, char16_t* buffer,
                              uint32_t bufferChars) override;
    bool GetDeviceRegistryPropertyW(DeviceSet set, const DeviceInfoData& info, uint32_t property,
                                    uint8_t* buffer, uint32_t bufferSize) override;
    bool DestroyDeviceInfoList(DeviceSet set) override;
    uint32_t OpenMachineKey(std::u16string_view path, uint32_t access, RegistryKey* key) override;
    uint32_t QueryValue(RegistryKey key, const char16_t* valueName, uint32_t* type, uint8_t* data,
                        uint32_t* size) override;
    void CloseKey(RegistryKey key) override;
    uint32_t LastError() const override { return lastError_; }

  private:
    bool Fails(DeviceSetupOp op);
    bool Fail(uint32_t error);
    const Device* DeviceOf(DeviceSet set, uint32_t devInst) const;
    std::vector<const Device*> PresentDevices() const;

    FaultPlan<DeviceSetupOp> faults_;
    std::map<DeviceSetupOp, size_t> calls_;
    size_t openSets_ = 0;
    std::map<uintptr_t, std::u16string> openKeys_;
    uintptr_t nextKey_ = 0x200;
    uint32_t lastError_ = 0;
};

// The key below HKEY_LOCAL_MACHINE that holds a USB printer's "Port Number":
// the instance ID goes in with every "\" written as "#".
std::u16string UsbPortKeyPath(std::u16string_view instanceId);

#ifdef _WIN32
// SetupAPI (loaded from the system folder at first use) and the registry of
// this machine. Calls whose function cannot be found fail with last error 127.
std::unique_ptr<DeviceSetup> CreateWin32DeviceSetup();
#endif

}  // namespace tde
