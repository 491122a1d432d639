// Standard TCP/IP ports: finding a port that already prints RAW to a network
// printer, or making one, through the Xcv interface of the "Standard TCP/IP
// Port" monitor. The exchanges sit behind one interface, with a monitor in
// memory for tests and (on Windows) one over winspool.drv; what to make of
// their answers is decided here.
#pragma once

#include "ports/tcp_address.h"
#include "base/collation.h"
#include "base/errors.h"
#include "spooler/memory_spooler.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

inline constexpr std::u16string_view kTcpMonitorName = u"Standard TCP/IP Port";
inline constexpr uint32_t kServerAccessAdminister = 0x1;
inline constexpr uint32_t kTcpProtocolRaw = 1;
inline constexpr uint32_t kTcpProtocolLpr = 2;

// PORT_DATA_1 and CONFIG_INFO_DATA_1 of the monitor's Xcv interface, as
// Microsoft documents them (mingw has no tcpxcv.h).
struct PortData1 {
    char16_t sztPortName[64];
    uint32_t dwVersion;
    uint32_t dwProtocol;
    uint32_t cbSize;
    uint32_t dwReserved;
    char16_t sztHostAddress[49];
    char16_t sztSNMPCommunity[33];
    uint32_t dwDoubleSpool;
    char16_t sztQueue[33];
    char16_t sztIPAddress[16];
    uint8_t Reserved[540];
    uint32_t dwPortNumber;
    uint32_t dwSNMPEnabled;
    uint32_t dwSNMPDevIndex;
};
static_assert(sizeof(PortData1) == 964);

struct ConfigInfoData1 {
    uint8_t Reserved[128];
    uint32_t dwVersion;
};
static_assert(sizeof(ConfigInfoData1) == 132);

// One exchange: OpenPrinterW on the Xcv object, XcvDataW, ClosePrinter. The
// call can succeed while the monitor refuses, so both answers are kept.
struct XcvAnswer {
    bool opened = false;
    bool result = false;  // XcvDataW's return value
    uint32_t status = 0;  // the monitor's answer, when the call succeeded
    uint32_t error = 0;   // the last error after a failed open or call
    uint32_t needed = 0;  // output bytes the monitor asked for
};

// Windows' code for an exchange: 0 when the monitor did what it was asked;
// kErrorUnidentifiedError for a failure that left no code.
uint32_t XcvCode(const XcvAnswer& answer);

class XcvChannel {
  public:
    virtual ~XcvChannel() = default;
    // Opens `object` (",XcvMonitor NAME" or ",XcvPort NAME") asking for
    // `access` only, hands `command` and the buffers to XcvDataW, closes it.
    virtual XcvAnswer Exchange(std::u16string_view object, uint32_t access,
                               std::u16string_view command, const void* input, uint32_t inputSize,
                               void* output, uint32_t outputSize) = 0;
};

// The record AddPort gets for `address`: version 1, RAW, the port's name,
// host and number, SNMP off.
PortData1 TcpPortData(const TcpAddress& address);

// A text field of a record, up to its first NUL or its end.
template <size_t N>
std::u16string_view FieldText(const char16_t (&field)[N]) {
    return std::u16string_view(field, std::find(field, field + N, u'\0') - field);
}

enum class TcpPortOutcome {
    Reused,     // a port printing RAW to the same host and number
    Made,       // a new port of TcpPortName(address)
    NameTaken,  // a port of that name exists, set up otherwise
    Refused,    // the spooler or the monitor refused, with Windows' code
};

struct TcpPortResult {
    TcpPortOutcome outcome = TcpPortOutcome::Refused;
    std::u16string portName;  // reused, made, in the way, or refused
    uint32_t error = 0;       // when Refused
};

// What MakeOrReuseTcpPort would find, making nothing: Reused (the first port of
// the Standard TCP/IP monitor, in the spooler's order, whose configuration
// (GetConfigInfo) prints RAW to the same host and port number, whatever its
// name; a port whose configuration cannot be read is passed over), NameTaken, or
// Refused (the port list unreadable); nothing when it would make the port.
std::optional<TcpPortResult> LookUpTcpPort(Spooler& spooler, XcvChannel& xcv,
                                           const TcpAddress& address);

// Reuses such a port, or makes one through ",XcvMonitor Standard TCP/IP Port"
// with SERVER_ACCESS_ADMINISTER.
TcpPortResult MakeOrReuseTcpPort(Spooler& spooler, XcvChannel& xcv, const TcpAddress& address);

// A Standard TCP/IP monitor in memory. It keeps the configurations it is given,
// lists them in the spooler's ports when one is attached, answers AddPort and
// GetConfigInfo as the real one does, and logs every exchange.
class MemoryTcpMonitor final : public XcvChannel {
  public:
    struct Exchanged {
        std::u16string object;
        uint32_t access;
        std::u16string command;
    };

    explicit MemoryTcpMonitor(MemorySpooler* spooler = nullptr) : spooler_(spooler) {}

    // Adds a port as if made by hand, listed in the attached spooler too.
    void AddConfiguredPort(const PortData1& port);
    // The stored configuration of a port, or null.
    const PortData1* FindPort(std::u16string_view name) const;
    const std::vector<Exchanged>& Exchanges() const { return exchanges_; }

    // Commands answered with this and nothing done (an open that fails, a call
    // that fails, a monitor that refuses).
    std::map<std::u16string, XcvAnswer> refusals;

    XcvAnswer Exchange(std::u16string_view object, uint32_t access, std::u16string_view command,
                       const void* input, uint32_t inputSize, void* output,
                       uint32_t outputSize) override;

  private:
    MemorySpooler* spooler_;
    std::vector<PortData1> ports_;
    std::vector<Exchanged> exchanges_;
};

#ifdef _WIN32
// The monitors of this machine: OpenPrinterW and ClosePrinter through
// `spooler`, XcvDataW from winspool.drv, loaded from the system folder.
std::unique_ptr<XcvChannel> CreateWin32XcvChannel(Spooler& spooler);
#endif

}  // namespace tde
