#include "ports/usb_ports.h"

#include "base/collation.h"
#include "ports/ports.h"

#include <algorithm>
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

// The text of a REG_SZ or REG_MULTI_SZ property, each string of it on its own,
// never past the buffer.
std::vector<std::u16string> PropertyStrings(const uint8_t* bytes, uint32_t size) {
    std::vector<std::u16string> strings;
    std::u16string current;
    for (uint32_t i = 0; i + 1 < size; i += 2) {
        const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c != u'\0') {
            current += c;
        } else if (current.empty()) {
            break;
        } else {
            strings.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty()) {
        strings.push_back(std::move(current));
    }
    return strings;
}

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
    for (UsbPrinter& printer : DetectUsbPrinters(setup)) {
        ports.push_back(std::move(printer.port));
    }
    return ports;
}

std::vector<UsbPrinter> DetectUsbPrinters(DeviceSetup& setup) {
    std::vector<UsbPrinter> printers;
    setup.Wait(1000);
    DeviceSet set =
        setup.GetClassDevsW(kUsbPrintInterfaceClass, kDigcfPresent | kDigcfDeviceInterface);
    if (set == nullptr) {
        return printers;
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
        // The description and hardware IDs have to be readable.
        char16_t instanceId[kInstanceIdChars] = {};
        uint8_t description[kPropertyBytes] = {};
        uint8_t hardwareIds[kPropertyBytes] = {};
        if (!setup.GetDeviceInstanceIdW(set, info, instanceId, kInstanceIdChars) ||
            !setup.GetDeviceRegistryPropertyW(set, info, kSpdrpDeviceDesc, description,
                                              kPropertyBytes) ||
            !setup.GetDeviceRegistryPropertyW(set, info, kSpdrpHardwareId, hardwareIds,
                                              kPropertyBytes)) {
            continue;
        }
        instanceId[kInstanceIdChars - 1] = u'\0';
        if (std::optional<std::u16string> port = ReadUsbPortName(setup, instanceId)) {
            std::vector<std::u16string> text = PropertyStrings(description, kPropertyBytes);
            printers.push_back({std::move(*port), text.empty() ? std::u16string() : text.front(),
                                PropertyStrings(hardwareIds, kPropertyBytes)});
        }
    }
    return printers;
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

namespace {

bool NamesMaker(std::u16string_view text) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    return std::search(text.begin(), text.end(), kMakerName.begin(), kMakerName.end(),
                       [&](char16_t a, char16_t b) { return lower(a) == lower(b); }) != text.end();
}

std::u16string Quoted(std::u16string_view text) {
    return u"\"" + std::u16string(text) + u"\"";
}

}  // namespace

bool ReadQueuePorts(Spooler& spooler, std::vector<QueueOnPort>& queues, uint32_t* error) {
    queues.clear();
    const SpoolerBuffer buffer =
        FetchTwice(spooler, [&](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* count) {
            return spooler.EnumPrintersW(kPrinterEnumLocal, 2, bytes, size, needed, count);
        });
    if (buffer.outcome != SpoolerFetch::Filled && buffer.outcome != SpoolerFetch::NothingNeeded) {
        *error = buffer.error;
        return false;
    }
    uint32_t count = 0;
    const PrinterInfo2* printers = buffer.Records<PrinterInfo2>(&count);
    auto text = [](const char16_t* s) { return std::u16string(s != nullptr ? s : u""); };
    for (uint32_t i = 0; i < count; ++i) {
        // A pooled queue lists its ports separated by commas.
        const std::u16string ports = text(printers[i].pPortName);
        for (size_t start = 0; start <= ports.size();) {
            size_t end = std::min(ports.find(u',', start), ports.size());
            if (end > start) {
                queues.push_back({text(printers[i].pPrinterName), text(printers[i].pDriverName),
                                  ports.substr(start, end - start)});
            }
            start = end + 1;
        }
    }
    return true;
}

AutoPortChoice ChooseAutoPort(const std::vector<UsbPrinter>& printers,
                              const std::vector<QueueOnPort>& queues, std::u16string_view driver) {
    AutoPortChoice choice;
    std::vector<std::u16string> candidates;  // "USB001 (why)"
    std::u16string skipped;
    for (const UsbPrinter& printer : printers) {
        bool maker = NamesMaker(printer.description);
        for (const std::u16string& id : printer.hardwareIds) {
            maker = maker || NamesMaker(id);
        }
        const QueueOnPort* other = nullptr;
        for (const QueueOnPort& queue : queues) {
            if (other == nullptr && SameNameIgnoringCase(queue.port, printer.port) &&
                !SameNameIgnoringCase(queue.driver, driver)) {
                other = &queue;
            }
        }
        std::u16string why;
        if (maker) {
            why = u"its device names " + std::u16string(kMakerName);
        } else if (other != nullptr) {
            why = u"it carries the printer " + Quoted(other->queue) + u" of the driver " +
                  Quoted(other->driver);
            choice.lines.push_back(u"/port auto: " + printer.port + u" is skipped: " + why);
            skipped += (skipped.empty() ? u"" : u"; ") + printer.port + u": " + why;
            continue;
        } else {
            why = u"its device (" + Quoted(printer.description) +
                  u") names no maker and its port carries no other driver's printer";
        }
        choice.lines.push_back(u"/port auto: " + printer.port + u" may be this model's: " + why);
        candidates.push_back(printer.port + u" (" + why + u")");
        if (candidates.size() == 1) {
            choice.port = printer.port;
        }
    }
    if (candidates.size() > 1) {
        choice.port.reset();
        std::u16string list;
        for (const std::u16string& candidate : candidates) {
            list += (list.empty() ? u"" : u"; ") + candidate;
        }
        choice.refusal = u"more than one USB printer may be this model's: " + list +
                         (skipped.empty() ? u"" : u"; skipped: " + skipped) +
                         u"; name one with /port";
    } else if (candidates.empty()) {
        choice.refusal = printers.empty() ? std::u16string(u"no USB printer was found")
                                          : u"no USB printer of this model was found: " + skipped +
                                                u"; name a port with /port";
    }
    return choice;
}

}  // namespace tde
