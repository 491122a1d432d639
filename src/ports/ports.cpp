#include "ports/ports.h"

#include "base/collation.h"

namespace tde {

bool IsOfferedPort(std::u16string_view portName) {
    std::u16string_view prefix = portName.substr(0, 3);
    return prefix == u"COM" || prefix == u"LPT" || prefix == u"USB";
}

std::vector<std::u16string> ReadPortNames(Spooler& spooler) {
    SpoolerBuffer ports = FetchTwice(
        spooler, [&spooler](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* returned) {
            return spooler.EnumPortsW(2, buffer, size, needed, returned);
        });
    uint32_t count = 0;
    const PortInfo2* records = ports.Records<PortInfo2>(&count);
    std::vector<std::u16string> names;
    for (uint32_t i = 0; i < count; ++i) {
        names.emplace_back(records[i].pPortName != nullptr ? records[i].pPortName : u"");
    }
    return names;
}

std::vector<std::u16string> OfferedPorts(const std::vector<std::u16string>& portNames) {
    std::vector<std::u16string> offered;
    for (const std::u16string& name : portNames) {
        if (IsOfferedPort(name)) {
            offered.push_back(name);
        }
    }
    return offered;
}

size_t SortedInsertPosition(const std::vector<std::u16string>& items, std::u16string_view name) {
    size_t low = 0;
    size_t high = items.size();
    while (low < high) {
        size_t middle = (low + high) / 2;
        int order = CompareNamesIgnoreCase(name, items[middle]);
        if (order == 0) {
            return middle;
        }
        if (order < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return high;
}

std::vector<std::u16string> SortedPortList(const std::vector<std::u16string>& portNames) {
    std::vector<std::u16string> list;
    for (const std::u16string& name : OfferedPorts(portNames)) {
        list.insert(list.begin() + static_cast<ptrdiff_t>(SortedInsertPosition(list, name)), name);
    }
    return list;
}

}  // namespace tde
