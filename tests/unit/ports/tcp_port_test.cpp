// Network printer addresses and port names, and the Standard TCP/IP port made
// or reused over the in-memory monitor.
#include "ports/tcp_port.h"
#include "spooler/memory_spooler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace tde {
namespace {

TEST(TcpAddressTest, ParsesTheCommandLineFormAndNamesThePort) {
    const std::u16string host48 = std::u16string(44, u'a') + u".com";
    struct Case {
        std::u16string value, host;
        uint32_t portNumber;
        std::u16string portName;
    };
    const Case addresses[] = {
        {u"tcp:192.168.1.60", u"192.168.1.60", 9100, u"IP_192.168.1.60"},
        {u"TCP:192.168.1.60:9101", u"192.168.1.60", 9101, u"IP_192.168.1.60_9101"},
        {u"tcp:Till-1.shop:1", u"Till-1.shop", 1, u"IP_Till-1.shop_1"},
        {u"tcp:[::1]", u"::1", 9100, u"IP_::1"},
        {u"tcp:[FE80::1:2]:65535", u"FE80::1:2", 65535, u"IP_FE80::1:2_65535"},
        {u"tcp:[1:2:3:4:5:6:10.0.0.1]:09100", u"1:2:3:4:5:6:10.0.0.1", 9100,
         u"IP_1:2:3:4:5:6:10.0.0.1"},
        {u"tcp:" + host48 + u":65535", host48, 65535, u"IP_" + host48 + u"_65535"},
    };
    for (const Case& c : addresses) {
        ParsedTcpArgument parsed = ParseTcpPortArgument(c.value);
        ASSERT_EQ(parsed.kind, TcpArgument::Address) << parsed.address.host.size();
        EXPECT_EQ(parsed.address, (TcpAddress{c.host, c.portNumber}));
        EXPECT_EQ(TcpPortName(parsed.address), c.portName);
        EXPECT_LE(c.portName.size(), kMaxPortNameChars);
    }
    const std::u16string tooLong = u"tcp:a" + host48;
    // clang-format off
    const char16_t* malformed[] = {tooLong.c_str(),
        u"tcp:", u"tcp:h:0", u"tcp:h:65536", u"tcp:h:", u"tcp:h:+91", u"tcp::9100", u"tcp:::1",
        u"tcp:[::1", u"tcp:[::1]9100", u"tcp:[]", u"tcp:[10.0.0.1]", u"tcp:[1:2:3:4:5:6:7:8:9]",
        u"tcp:[1:2:3:4:5:6:7]", u"tcp:[1::2::3]", u"tcp:[12345::]", u"tcp:[1:]", u"tcp:[::1%4]",
        u"tcp:10.0.0.256", u"tcp:10.0.01.6", u"tcp:10.0.1", u"tcp:-till", u"tcp:till-",
        u"tcp:a..b", u"tcp:till_1", u"tcp:till 1", u"tcp:t\u00e9l"};
    // clang-format on
    for (std::u16string_view value : malformed) {
        EXPECT_EQ(ParseTcpPortArgument(value).kind, TcpArgument::Malformed)
            << std::string(value.begin(), value.end());
    }
    for (std::u16string_view value : {u"IP_192.168.1.60", u"tcp", u"LPT1:"}) {
        EXPECT_EQ(ParseTcpPortArgument(value).kind, TcpArgument::NotTcp);
    }
}

TEST(TcpAddressTest, TheDialogTakesHostAndNumberWithoutPrefix) {
    EXPECT_EQ(ParseDialogAddress(u" \t192.168.1.60:9101 "), (TcpAddress{u"192.168.1.60", 9101}));
    EXPECT_EQ(ParseDialogAddress(u"[::1]"), (TcpAddress{u"::1", 9100}));
    EXPECT_EQ(ParseDialogAddress(u"tcp:10.0.0.1"), std::nullopt);
    EXPECT_EQ(ParseDialogAddress(u"  "), std::nullopt);
}

TEST(TcpAddressTest, SameHostComparesIpv6ByValueAndNamesIgnoringCase) {
    EXPECT_TRUE(SameHost(u"::1", u"0:0:0:0:0:0:0:1"));
    EXPECT_TRUE(SameHost(u"::ffff:10.0.0.1", u"::FFFF:a00:1"));
    EXPECT_TRUE(SameHost(u"Till.Shop", u"till.shop"));
    EXPECT_FALSE(SameHost(u"10.0.0.1", u"10.0.0.10"));
    EXPECT_FALSE(SameHost(u"::1", u"::2"));
}

PortData1 HandMade(std::u16string_view name, std::u16string_view host, uint32_t protocol,
                   uint32_t portNumber) {
    PortData1 port = TcpPortData({std::u16string(host), portNumber});
    std::u16string_view(name).copy(port.sztPortName, 63);
    port.sztPortName[name.size()] = u'\0';
    port.dwProtocol = protocol;
    return port;
}

struct Machine {
    MemorySpooler spooler;
    MemoryTcpMonitor monitor{&spooler};
    Machine() { spooler.ports = {{u"COM1:"}, {u"LPT1:"}}; }
    size_t AddPorts() const {
        return std::count_if(monitor.Exchanges().begin(), monitor.Exchanges().end(),
                             [](const auto& e) { return e.command == u"AddPort"; });
    }
};

TEST(TcpPortTest, MakesARawPortWithoutSnmpThenReusesIt) {
    Machine m;
    TcpAddress address{u"192.168.1.60", 9100};
    TcpPortResult made = MakeOrReuseTcpPort(m.spooler, m.monitor, address);
    EXPECT_EQ(made.outcome, TcpPortOutcome::Made);
    EXPECT_EQ(made.portName, u"IP_192.168.1.60");
    ASSERT_EQ(m.monitor.Exchanges().size(), 1u) << "no Local Port is asked for its configuration";
    EXPECT_EQ(m.monitor.Exchanges()[0].object, u",XcvMonitor Standard TCP/IP Port");
    EXPECT_EQ(m.monitor.Exchanges()[0].access, kServerAccessAdminister);
    const PortData1* port = m.monitor.FindPort(u"IP_192.168.1.60");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(FieldText(port->sztHostAddress), u"192.168.1.60");
    // Version, RAW, size, number, SNMP off.
    EXPECT_EQ(std::tuple(port->dwVersion, port->dwProtocol, port->cbSize, port->dwPortNumber,
                         port->dwSNMPEnabled),
              std::tuple(1u, kTcpProtocolRaw, 964u, 9100u, 0u));
    EXPECT_EQ(m.spooler.ports.back().monitor, kTcpMonitorName);

    TcpPortResult again = MakeOrReuseTcpPort(m.spooler, m.monitor, address);
    EXPECT_EQ(again.outcome, TcpPortOutcome::Reused);
    EXPECT_EQ(again.portName, u"IP_192.168.1.60");
    EXPECT_EQ(m.AddPorts(), 1u);
    EXPECT_EQ(m.monitor.Exchanges().back().object, u",XcvPort IP_192.168.1.60");
    EXPECT_EQ(m.monitor.Exchanges().back().access, kServerAccessAdminister);
}

TEST(TcpPortTest, ReusesAHandMadePortOnlyWhenItPrintsRawToTheSameHostAndNumber) {
    struct Case {
        const char* what;
        PortData1 till;
        TcpPortOutcome outcome;
        std::u16string port;
    };
    PortData1 byIpAddress = HandMade(u"Till", u"", kTcpProtocolRaw, 9100);
    std::u16string_view(u"10.0.0.5").copy(byIpAddress.sztIPAddress, 15);
    const Case cases[] = {
        {"same", HandMade(u"Till", u"10.0.0.5", kTcpProtocolRaw, 9100), TcpPortOutcome::Reused,
         u"Till"},
        {"address field", byIpAddress, TcpPortOutcome::Reused, u"Till"},
        {"LPR", HandMade(u"Till", u"10.0.0.5", kTcpProtocolLpr, 9100), TcpPortOutcome::Made,
         u"IP_10.0.0.5"},
        {"number", HandMade(u"Till", u"10.0.0.5", kTcpProtocolRaw, 9101), TcpPortOutcome::Made,
         u"IP_10.0.0.5"},
        {"host", HandMade(u"Till", u"10.0.0.6", kTcpProtocolRaw, 9100), TcpPortOutcome::Made,
         u"IP_10.0.0.5"},
        {"our name, LPR", HandMade(u"ip_10.0.0.5", u"10.0.0.5", kTcpProtocolLpr, 9100),
         TcpPortOutcome::NameTaken, u"ip_10.0.0.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Machine m;
        m.monitor.AddConfiguredPort(c.till);
        TcpPortResult result = MakeOrReuseTcpPort(m.spooler, m.monitor, {u"10.0.0.5", 9100});
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.portName, c.port);
        EXPECT_EQ(m.AddPorts(), c.outcome == TcpPortOutcome::Made ? 1u : 0u);
    }
}

TEST(TcpPortTest, ARefusalCarriesWindowsCodeEvenWhenTheCallSucceeded) {
    struct Case {
        std::u16string command;
        XcvAnswer answer;
        TcpPortOutcome outcome;
        uint32_t error;
    };
    const Case cases[] = {
        {u"AddPort", {false, false, 0, 5}, TcpPortOutcome::Refused, 5},  // the open
        {u"AddPort", {true, false, 0, 1804}, TcpPortOutcome::Refused, 1804},
        {u"AddPort", {true, true, 13}, TcpPortOutcome::Refused, 13},
        {u"AddPort", {true, false, 0, 0}, TcpPortOutcome::Refused, kErrorUnidentifiedError},
        // An unreadable configuration is passed over: the port is not reused.
        {u"GetConfigInfo", {true, true, 5}, TcpPortOutcome::Made, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(XcvCode(c.answer));
        Machine m;
        // A port that would be reused, for the GetConfigInfo case.
        m.monitor.AddConfiguredPort(
            HandMade(u"Till", u"10.0.0.5", kTcpProtocolRaw, c.command == u"AddPort" ? 1 : 9100));
        m.monitor.refusals[c.command] = c.answer;
        TcpPortResult result = MakeOrReuseTcpPort(m.spooler, m.monitor, {u"10.0.0.5", 9100});
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.error, c.error);
    }
    Machine m;
    m.spooler.FailCall(SpoolerOp::EnumPortsW, 1722);
    TcpPortResult result = MakeOrReuseTcpPort(m.spooler, m.monitor, {u"10.0.0.5", 9100});
    EXPECT_EQ(result.outcome, TcpPortOutcome::Refused);
    EXPECT_EQ(result.error, 1722u);
    EXPECT_EQ(m.AddPorts(), 0u) << "without the list no port is made";
}

}  // namespace
}  // namespace tde
