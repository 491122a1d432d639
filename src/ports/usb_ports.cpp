#include "ports/usb_ports.h"

#include "base/collation.h"
#include "ports/ports.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace tde {

namespace {

// No device path comes near this; a larger answer is treated as an allocation failure.
constexpr uint32_t kMaxDetailBytes = 64 * 1024;
// The key text's room, as the registry path is formatted into 1024 characters.
constexpr size_t kMaxKeyPathChars = 1023;

// Releases the device set on every way out.
class DeviceSetHolder {
  public:
    DeviceSetHolder(DeviceSetup& setup, DeviceSet set) : setup_(setup), set_(set) {}
    ~DeviceSetHolder() { setup_.DestroyDeviceInfoList(set_); }
    DeviceSetHolder(const DeviceSetHolder&) = delete;
    DeviceSetHolder& operator=(const DeviceSetHolder&) = delete;

  private:
    DeviceSetup& setup_;
    DeviceSet set_;
};

class KeyHolder {
  public:
    KeyHolder(DeviceSetup& setup, RegistryKey key) : setup_(setup), key_(key) {}
    ~KeyHolder() { setup_.CloseKey(key_); }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;

  private:
    DeviceSetup& setup_;
    RegistryKey key_;
};

}  // namespace

std::u16string UsbPortName(uint32_t portNumber) {
    char text[16];
    std::snprintf(text, sizeof text, "USB%.3d", static_cast<int32_t>(portNumber));
    return std::u16string(text, text + std::strlen(text));
}

std::optional<std::u16string> ReadUsbPortName(DeviceSetup& setup, std::u16string_view instanceId) {
    std::u16string path = UsbPortKeyPath(instanceId);
    if (path.size() > kMaxKeyPathChars) {
        return std::nullopt;
    }
    RegistryKey key = nullptr;
    if (setup.OpenMachineKey(path, kKeyRead, &key) != 0) {
        return std::nullopt;
    }
    KeyHolder holder(setup, key);
    uint32_t type = 0;
    uint32_t number = 0;
    uint32_t size = sizeof number;
    // Only a REG_DWORD is a number: a text "1" would otherwise read as 49.
    if (setup.QueryValue(key, u"Port Number", &type, reinterpret_cast<uint8_t*>(&number), &size) !=
            0 ||
        type != kRegDword || size != sizeof number || number == 0) {
        return std::nullopt;
    }
    return UsbPortName(number);
}

UsbPortList DetectUsbPrinterPorts(DeviceSetup& setup) {
    UsbPortList ports;
    setup.Wait(1000);
    DeviceSet set =
        setup.GetClassDevsW(kUsbPrintInterfaceClass, kDigcfPresent | kDigcfDeviceInterface);
    if (set == nullptr) {
        return ports;
    }
    DeviceSetHolder holder(setup, set);
    std::unique_ptr<uint8_t[]> detail;
    for (uint32_t index = 0;; ++index) {
        DeviceInterfaceData data = {};
        data.cbSize = kDeviceInterfaceDataSize;
        if (!setup.EnumDeviceInterfaces(set, kUsbPrintInterfaceClass, index, &data)) {
            break;
        }
        uint32_t required = 0;
        if (setup.GetDeviceInterfaceDetailW(set, data, nullptr, 0, &required, nullptr) ||
            required < kInterfaceDetailSizeField) {
            break;
        }
        detail.reset();
        if (required > kMaxDetailBytes) {
            break;
        }
        detail.reset(new (std::nothrow) uint8_t[required]);
        if (!detail) {
            break;
        }
        std::memcpy(detail.get(), &kInterfaceDetailSizeField, sizeof kInterfaceDetailSizeField);
        DeviceInfoData info = {};
        info.cbSize = kDeviceInfoDataSize;
        if (!setup.GetDeviceInterfaceDetailW(set, data, detail.get(), required, nullptr, &info)) {
            break;
        }
        // The description and hardware IDs only have to be readable.
        char16_t instanceId[kInstanceIdChars] = {};
        uint8_t property[kPropertyBytes];
        if (!setup.GetDeviceInstanceIdW(set, info, instanceId, kInstanceIdChars) ||
            !setup.GetDeviceRegistryPropertyW(set, info, kSpdrpDeviceDesc, property,
                                              kPropertyBytes) ||
            !setup.GetDeviceRegistryPropertyW(set, info, kSpdrpHardwareId, property,
                                              kPropertyBytes)) {
            continue;
        }
        instanceId[kInstanceIdChars - 1] = u'\0';
        if (std::optional<std::u16string> port = ReadUsbPortName(setup, instanceId)) {
            ports.push_back(std::move(*port));
        }
    }
    return ports;
}

void MergeDetectedPorts(PortCombo& combo, const UsbPortList& ports) {
    for (size_t i = 0; i < ports.size(); ++i) {
        int index = combo.FindStringExact(ports[i]);
        if (index < 0) {
            combo.AddString(ports[i]);
            index = combo.FindStringExact(ports[i]);
        }
        if (i == 0) {
            combo.SetCurSel(index);
        }
    }
}

int SortedPortCombo::FindStringExact(std::u16string_view name) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (CompareNamesIgnoreCase(items[i], name) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void SortedPortCombo::AddString(std::u16string_view name) {
    size_t at = SortedInsertPosition(items, name);
    items.insert(items.begin() + static_cast<ptrdiff_t>(at), std::u16string(name));
    if (selection >= static_cast<int>(at)) {
        ++selection;
    }
}

void SortedPortCombo::SetCurSel(int index) {
    selection = index >= 0 && index < static_cast<int>(items.size()) ? index : -1;
}

}  // namespace tde
