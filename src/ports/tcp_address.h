// The address of a network printer as people write it, and the name its
// Standard TCP/IP port gets.
//
// Two spellings: the command line's "tcp:HOST" or "tcp:HOST:PORTNUMBER", and the
// network-printer dialog's "HOST" or "HOST:PORTNUMBER". HOST is a dotted IPv4
// address (four decimal parts 0-255, no leading zeros, which some readers take
// as octal), an IPv6 address in brackets, or a DNS name (labels of letters,
// digits and inner hyphens joined by dots, not all digits). Without brackets
// the HOST is what the monitor stores, at most 48 characters. PORTNUMBER is
// 1-65535 in decimal; without it the printer listens on 9100, the RAW port.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tde {

inline constexpr uint32_t kRawPrinterPort = 9100;
// The characters of PORT_DATA_1's host and port-name fields, without the NUL.
inline constexpr size_t kMaxHostChars = 48;
inline constexpr size_t kMaxPortNameChars = 63;

struct TcpAddress {
    std::u16string host;  // as given, an IPv6 address without its brackets
    uint32_t portNumber = kRawPrinterPort;
    bool operator==(const TcpAddress&) const = default;
};

enum class TcpArgument {
    NotTcp,     // no "tcp:" in front (letter case ignored): an ordinary port name
    Malformed,  // "tcp:" followed by anything but a HOST and an optional PORTNUMBER
    Address,
};

struct ParsedTcpArgument {
    TcpArgument kind = TcpArgument::NotTcp;
    TcpAddress address;  // when kind is Address
};

// A command line's port value.
ParsedTcpArgument ParseTcpPortArgument(std::u16string_view value);

// What someone typed into the network-printer dialog; spaces around it are dropped.
std::optional<TcpAddress> ParseDialogAddress(std::u16string_view text);

// The eight groups of an IPv6 address written without brackets, or none.
std::optional<std::array<uint16_t, 8>> ParseIpv6(std::u16string_view text);

// Whether two HOSTs name the same printer: IPv6 addresses by value, anything
// else by its text, letter case ignored.
bool SameHost(std::u16string_view a, std::u16string_view b);

// The port's name, as Windows names the ports it makes: "IP_" and the HOST for
// port number 9100; for any other number "IP_", the HOST, "_" and the number
// ("IP_192.168.1.60_9101"), so two printers behind one address get two ports.
std::u16string TcpPortName(const TcpAddress& address);

}  // namespace tde
