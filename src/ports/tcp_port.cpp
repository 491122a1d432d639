#include "ports/tcp_port.h"
#include "spooler/memory_spooler.h"

#include <algorithm>
#include <cstring>

namespace tde {

namespace {

template <size_t N>
void CopyText(char16_t (&field)[N], std::u16string_view text) {
    size_t n = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), n, field);
    field[n] = u'\0';
}

std::u16string XcvPortObject(std::u16string_view portName) {
    return u",XcvPort " + std::u16string(portName);
}

struct ListedPort {
    std::u16string name;
    std::u16string monitor;
};

std::vector<ListedPort> ListPorts(Spooler& spooler, uint32_t* listError) {
    SpoolerBuffer buffer = FetchTwice(
        spooler, [&spooler](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* returned) {
            return spooler.EnumPortsW(2, bytes, size, needed, returned);
        });
    if (buffer.outcome != SpoolerFetch::Filled && buffer.outcome != SpoolerFetch::NothingNeeded) {
        *listError = buffer.error != 0 ? buffer.error : kErrorNotEnoughMemory;
    }
    uint32_t count = 0;
    const PortInfo2* records = buffer.Records<PortInfo2>(&count);
    std::vector<ListedPort> ports;
    for (uint32_t i = 0; i < count; ++i) {
        auto text = [](const char16_t* s) { return s != nullptr ? s : u""; };
        ports.push_back({text(records[i].pPortName), text(records[i].pMonitorName)});
    }
    return ports;
}

bool PrintsRawTo(const PortData1& config, const TcpAddress& address) {
    return config.dwProtocol == kTcpProtocolRaw && config.dwPortNumber == address.portNumber &&
           (SameHost(FieldText(config.sztHostAddress), address.host) ||
            SameHost(FieldText(config.sztIPAddress), address.host));
}

// The first port of the Standard TCP/IP monitor among `ports` that prints RAW to
// `address`. The read asks for administration, as the making does: the run is
// elevated, and a monitor may keep a port's configuration from a lesser handle.
std::optional<std::u16string> FindListed(const std::vector<ListedPort>& ports, XcvChannel& xcv,
                                         const TcpAddress& address) {
    for (const ListedPort& port : ports) {
        if (!SameNameIgnoringCase(port.monitor, kTcpMonitorName)) {
            continue;
        }
        ConfigInfoData1 query{};
        query.dwVersion = 1;
        PortData1 config{};
        XcvAnswer answer =
            xcv.Exchange(XcvPortObject(port.name), kServerAccessAdminister, u"GetConfigInfo",
                         &query, sizeof query, &config, sizeof config);
        if (XcvCode(answer) == kErrorSuccess && PrintsRawTo(config, address)) {
            return port.name;
        }
    }
    return std::nullopt;
}

}  // namespace

uint32_t XcvCode(const XcvAnswer& answer) {
    if (!answer.opened || !answer.result) {
        return answer.error != 0 ? answer.error : kErrorUnidentifiedError;
    }
    return answer.status;
}

PortData1 TcpPortData(const TcpAddress& address) {
    PortData1 data{};
    CopyText(data.sztPortName, TcpPortName(address));
    data.dwVersion = 1;
    data.dwProtocol = kTcpProtocolRaw;
    data.cbSize = sizeof(PortData1);
    CopyText(data.sztHostAddress, address.host);
    data.dwPortNumber = address.portNumber;
    data.dwSNMPEnabled = 0;
    return data;
}

std::optional<TcpPortResult> LookUpTcpPort(Spooler& spooler, XcvChannel& xcv,
                                           const TcpAddress& address) {
    uint32_t listError = 0;
    std::vector<ListedPort> ports = ListPorts(spooler, &listError);
    if (std::optional<std::u16string> found = FindListed(ports, xcv, address)) {
        return TcpPortResult{TcpPortOutcome::Reused, *found};
    }
    std::u16string name = TcpPortName(address);
    if (listError != 0) {
        // Without the list, a port of this name might be one set up otherwise.
        return TcpPortResult{TcpPortOutcome::Refused, name, listError};
    }
    for (const ListedPort& port : ports) {
        if (SameNameIgnoringCase(port.name, name)) {
            return TcpPortResult{TcpPortOutcome::NameTaken, port.name};
        }
    }
    return std::nullopt;
}

TcpPortResult MakeOrReuseTcpPort(Spooler& spooler, XcvChannel& xcv, const TcpAddress& address) {
    if (std::optional<TcpPortResult> found = LookUpTcpPort(spooler, xcv, address)) {
        return *found;
    }
    std::u16string name = TcpPortName(address);
    PortData1 data = TcpPortData(address);
    XcvAnswer answer =
        xcv.Exchange(u",XcvMonitor " + std::u16string(kTcpMonitorName), kServerAccessAdminister,
                     u"AddPort", &data, sizeof data, nullptr, 0);
    uint32_t code = XcvCode(answer);
    if (code != kErrorSuccess) {
        return {TcpPortOutcome::Refused, name, code};
    }
    return {TcpPortOutcome::Made, name};
}

void MemoryTcpMonitor::AddConfiguredPort(const PortData1& port) {
    ports_.push_back(port);
    if (spooler_ != nullptr) {
        std::u16string name(FieldText(port.sztPortName));
        spooler_->ports.push_back(
            {name, std::u16string(kTcpMonitorName), std::u16string(kTcpMonitorName)});
    }
}

const PortData1* MemoryTcpMonitor::FindPort(std::u16string_view name) const {
    for (const PortData1& port : ports_) {
        if (SameNameIgnoringCase(FieldText(port.sztPortName), name)) {
            return &port;
        }
    }
    return nullptr;
}

XcvAnswer MemoryTcpMonitor::Exchange(std::u16string_view object, uint32_t access,
                                     std::u16string_view command, const void* input,
                                     uint32_t inputSize, void* output, uint32_t outputSize) {
    exchanges_.push_back({std::u16string(object), access, std::u16string(command)});
    if (auto refusal = refusals.find(std::u16string(command)); refusal != refusals.end()) {
        return refusal->second;
    }
    constexpr std::u16string_view kPortPrefix = u",XcvPort ";
    XcvAnswer answer{true, true};
    if (command == u"AddPort" && object == u",XcvMonitor " + std::u16string(kTcpMonitorName)) {
        PortData1 port{};
        if (inputSize != sizeof port) {
            answer.status = kErrorInvalidParameter;
            return answer;
        }
        std::memcpy(&port, input, sizeof port);
        std::u16string_view name = FieldText(port.sztPortName);
        bool listed =
            spooler_ != nullptr && std::any_of(spooler_->ports.begin(), spooler_->ports.end(),
                                               [&](const MemorySpooler::Port& p) {
                                                   return SameNameIgnoringCase(p.name, name);
                                               });
        if (listed || FindPort(name) != nullptr) {
            answer.status = kErrorAlreadyExists;
            return answer;
        }
        AddConfiguredPort(port);
        return answer;
    }
    if (command == u"GetConfigInfo" && object.starts_with(kPortPrefix)) {
        const PortData1* port = FindPort(object.substr(kPortPrefix.size()));
        ConfigInfoData1 query{};
        if (port == nullptr) {
            return {false, false, 0, kErrorUnknownPort};
        }
        if (inputSize == sizeof query) {
            std::memcpy(&query, input, sizeof query);
        }
        answer.needed = sizeof *port;
        if (query.dwVersion != 1) {
            answer.status = kErrorInvalidParameter;
        } else if (outputSize < sizeof *port) {
            answer.status = kErrorInsufficientBuffer;
        } else {
            std::memcpy(output, port, sizeof *port);
        }
        return answer;
    }
    answer.status = kErrorInvalidParameter;
    return answer;
}

}  // namespace tde
