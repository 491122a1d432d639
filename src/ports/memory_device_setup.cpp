#include "ports/device_setup.h"
#include "spooler/spooler.h"

#include <cstring>

namespace tde {

namespace {

constexpr uintptr_t kSetHandle = 0x100;

std::u16string Lower(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return lower;
}

// A property as SetupAPI stores it: REG_SZ, or REG_MULTI_SZ with its second NUL.
std::vector<uint8_t> PropertyBytes(const std::u16string& text, bool multi) {
    std::u16string stored = text + u'\0';
    if (multi) {
        stored += u'\0';
    }
    std::vector<uint8_t> bytes(stored.size() * sizeof(char16_t));
    std::memcpy(bytes.data(), stored.data(), bytes.size());
    return bytes;
}

}  // namespace

bool operator==(const Guid& a, const Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

std::u16string UsbPortKeyPath(std::u16string_view instanceId) {
    std::u16string id(instanceId);
    for (char16_t& c : id) {
        if (c == u'\\') {
            c = u'#';
        }
    }
    const std::u16string guid = u"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    return u"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + guid + u"\\##?#" + id + u"#" +
           guid + u"\\#\\Device Parameters";
}

void MemoryDeviceSetup::AddPrinter(std::u16string instanceId, std::optional<uint32_t> portNumber) {
    if (portNumber) {
        Value value;
        value.bytes.resize(4);
        std::memcpy(value.bytes.data(), &*portNumber, 4);
        SetValue(instanceId, value);
    }
    devices.push_back({std::move(instanceId)});
}

void MemoryDeviceSetup::SetValue(std::u16string_view instanceId, Value value) {
    registry[Lower(UsbPortKeyPath(instanceId))][u"Port Number"] = std::move(value);
}

void MemoryDeviceSetup::FailCall(DeviceSetupOp op, uint32_t error, uint32_t onCall) {
    faults_.Add(op, error, onCall);
}

size_t MemoryDeviceSetup::CallCount(DeviceSetupOp op) const {
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

bool MemoryDeviceSetup::Fails(DeviceSetupOp op) {
    ++calls_[op];
    std::optional<uint32_t> error = faults_.Check(op);
    return error && Fail(*error);
}

bool MemoryDeviceSetup::Fail(uint32_t error) {
    lastError_ = error;
    return true;
}

std::vector<const MemoryDeviceSetup::Device*> MemoryDeviceSetup::PresentDevices() const {
    std::vector<const Device*> present;
    for (const Device& device : devices) {
        if (device.present) {
            present.push_back(&device);
        }
    }
    return present;
}

// A device's DevInst is its place among the present devices, plus one.
const MemoryDeviceSetup::Device* MemoryDeviceSetup::DeviceOf(DeviceSet set,
                                                             uint32_t devInst) const {
    std::vector<const Device*> present = PresentDevices();
    if (reinterpret_cast<uintptr_t>(set) != kSetHandle || openSets_ == 0 || devInst == 0 ||
        devInst > present.size()) {
        return nullptr;
    }
    return present[devInst - 1];
}

void MemoryDeviceSetup::Wait(uint32_t milliseconds) {
    if (calls_.empty()) {
        waitedBeforeAsking = true;
    }
    waitedMs += milliseconds;
}

DeviceSet MemoryDeviceSetup::GetClassDevsW(const Guid& interfaceClass, uint32_t flags) {
    classDevsFlags = flags;
    if (Fails(DeviceSetupOp::GetClassDevsW)) {
        return nullptr;
    }
    if (classDevsFails || !(interfaceClass == kUsbPrintInterfaceClass)) {
        Fail(kErrorInvalidParameter);
        return nullptr;
    }
    ++openSets_;
    return reinterpret_cast<DeviceSet>(kSetHandle);
}

bool MemoryDeviceSetup::EnumDeviceInterfaces(DeviceSet set, const Guid& interfaceClass,
                                             uint32_t index, DeviceInterfaceData* data) {
    if (Fails(DeviceSetupOp::EnumDeviceInterfaces)) {
        return false;
    }
    if (reinterpret_cast<uintptr_t>(set) != kSetHandle || openSets_ == 0) {
        return !Fail(kErrorInvalidHandle);
    }
    if (data == nullptr || data->cbSize != kDeviceInterfaceDataSize) {
        return !Fail(kErrorInvalidParameter);
    }
    if (!(interfaceClass == kUsbPrintInterfaceClass)) {
        return !Fail(kErrorNoMoreItems);
    }
    if (index >= PresentDevices().size()) {
        return !Fail(kErrorNoMoreItems);
    }
    data->interfaceClassGuid = interfaceClass;
    data->flags = 1;  // SPINT_ACTIVE
    data->reserved = index + 1;
    return true;
}

bool MemoryDeviceSetup::GetDeviceInterfaceDetailW(DeviceSet set, const DeviceInterfaceData& data,
                                                  uint8_t* detail, uint32_t detailSize,
                                                  uint32_t* requiredSize, DeviceInfoData* info) {
    detailSizes.push_back(detail != nullptr ? detailSize : 0);
    if (Fails(DeviceSetupOp::GetDeviceInterfaceDetailW)) {
        return false;
    }
    const Device* device = DeviceOf(set, static_cast<uint32_t>(data.reserved));
    if (device == nullptr) {
        return !Fail(kErrorInvalidParameter);
    }
    std::u16string path = u"\\\\?\\" + Lower(UsbPortKeyPath(device->instanceId));
    uint32_t needed = 4 + static_cast<uint32_t>((path.size() + 1) * sizeof(char16_t));
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (detail == nullptr) {
        return device->detailSizeQuerySucceeds || !Fail(kErrorInsufficientBuffer);
    }
    uint32_t sizeField = 0;
    std::memcpy(&sizeField, detail, detailSize >= 4 ? 4 : 0);
    if (detailSize < 4 || sizeField != kInterfaceDetailSizeField) {
        return !Fail(kErrorInvalidUserBuffer);  // as SetupAPI answers any size field but 6
    }
    if (detailSize < needed) {
        return !Fail(kErrorInsufficientBuffer);
    }
    if (info != nullptr) {
        if (info->cbSize != kDeviceInfoDataSize) {
            return !Fail(kErrorInvalidParameter);
        }
        info->devInst = static_cast<uint32_t>(data.reserved);
    }
    std::memcpy(detail + 4, path.c_str(), (path.size() + 1) * sizeof(char16_t));
    return true;
}

bool MemoryDeviceSetup::GetDeviceInstanceIdW(DeviceSet set, const DeviceInfoData& info,
                                             char16_t* buffer, uint32_t bufferChars) {
    instanceIdChars.push_back(bufferChars);
    if (Fails(DeviceSetupOp::GetDeviceInstanceIdW)) {
        return false;
    }
    const Device* device = DeviceOf(set, info.devInst);
    if (device == nullptr || info.cbSize != kDeviceInfoDataSize) {
        return !Fail(kErrorInvalidParameter);
    }
    if (device->instanceId.size() + 1 > bufferChars) {
        return !Fail(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, device->instanceId.c_str(),
                (device->instanceId.size() + 1) * sizeof(char16_t));
    return true;
}

bool MemoryDeviceSetup::GetDeviceRegistryPropertyW(DeviceSet set, const DeviceInfoData& info,
                                                   uint32_t property, uint8_t* buffer,
                                                   uint32_t bufferSize) {
    propertyBytes.push_back(bufferSize);
    if (Fails(DeviceSetupOp::GetDeviceRegistryPropertyW)) {
        return false;
    }
    const Device* device = DeviceOf(set, info.devInst);
    if (device == nullptr || info.cbSize != kDeviceInfoDataSize) {
        return !Fail(kErrorInvalidParameter);
    }
    const std::optional<std::u16string>& value =
        property == kSpdrpDeviceDesc ? device->description : device->hardwareIds;
    if (!value || (property != kSpdrpDeviceDesc && property != kSpdrpHardwareId)) {
        return !Fail(13);  // ERROR_INVALID_DATA: the device has no such property
    }
    std::vector<uint8_t> bytes = PropertyBytes(*value, property == kSpdrpHardwareId);
    if (bytes.size() > bufferSize) {
        return !Fail(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    return true;
}

bool MemoryDeviceSetup::DestroyDeviceInfoList(DeviceSet set) {
    if (reinterpret_cast<uintptr_t>(set) != kSetHandle || openSets_ == 0) {
        return !Fail(kErrorInvalidHandle);
    }
    --openSets_;
    return true;
}

uint32_t MemoryDeviceSetup::OpenMachineKey(std::u16string_view path, uint32_t access,
                                           RegistryKey* key) {
    keyAccess.push_back(access);
    if (Fails(DeviceSetupOp::OpenMachineKey)) {
        return lastError_;
    }
    if (registry.find(Lower(path)) == registry.end()) {
        return kErrorFileNotFound;
    }
    uintptr_t handle = nextKey_++;
    openKeys_[handle] = Lower(path);
    *key = reinterpret_cast<RegistryKey>(handle);
    return 0;
}

uint32_t MemoryDeviceSetup::QueryValue(RegistryKey key, const char16_t* valueName, uint32_t* type,
                                       uint8_t* data, uint32_t* size) {
    if (Fails(DeviceSetupOp::QueryValue)) {
        return lastError_;
    }
    auto open = openKeys_.find(reinterpret_cast<uintptr_t>(key));
    if (open == openKeys_.end()) {
        return kErrorInvalidHandle;
    }
    const std::map<std::u16string, Value>& values = registry[open->second];
    auto value = values.find(valueName);
    if (value == values.end()) {
        return kErrorFileNotFound;
    }
    if (type != nullptr) {
        *type = value->second.type;
    }
    uint32_t capacity = *size;
    *size = static_cast<uint32_t>(value->second.bytes.size());
    if (value->second.bytes.size() > capacity) {
        return 234;  // ERROR_MORE_DATA
    }
    std::memcpy(data, value->second.bytes.data(), value->second.bytes.size());
    return 0;
}

void MemoryDeviceSetup::CloseKey(RegistryKey key) {
    openKeys_.erase(reinterpret_cast<uintptr_t>(key));
}

}  // namespace tde
