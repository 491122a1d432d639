// The Standard TCP/IP port made and reused through the real spooler, with a
// monitor of our own registered under that name, and the printer probe
// against listeners on 127.0.0.1.
#include "ports/reachability.h"
#include "ports/tcp_port.h"
#include "support/spooler_fixtures_win32.h"
#include "tcp_monitor_path.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tde {
namespace {

constexpr wchar_t kMonitorKey[] =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port";

// The test monitor copied to the system folder (syswow64 for this 32-bit
// program) and registered, logging to a file; removed with its ports at the end.
class TcpPortWin32Test : public testing::Test {
  protected:
    void SetUp() override {
        wchar_t folder[MAX_PATH] = {};
        GetSystemDirectoryW(folder, MAX_PATH);
        dll_ = std::wstring(folder) + L"\\tdetcpmon.dll";
        log_ = folder_.path() + L"\\xcv.log";
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMonitorKey);
        ASSERT_TRUE(CopyFileW(test::FromUnixPath(TDE_TEST_TCP_MONITOR).c_str(), dll_.c_str(), 0));
        ASSERT_FALSE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMonitorKey, L"Driver", REG_SZ,
                                     L"tdetcpmon.dll", sizeof L"tdetcpmon.dll"));
        ASSERT_FALSE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMonitorKey, L"Log", REG_SZ, log_.c_str(),
                                     (log_.size() + 1) * sizeof(wchar_t)));
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMonitorKey);
        DeleteFileW(dll_.c_str());
    }

    // Every Xcv call so far, as "command|access|object".
    std::vector<std::wstring> Calls() const {
        std::ifstream file(std::filesystem::path(log_), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        std::vector<std::wstring> lines;
        for (size_t at = 0, end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1) {
            lines.push_back(text.substr(at, end - at));
        }
        return lines;
    }
    // The record a port is kept with; a port made by hand when `data` is given.
    static PortData1 Stored(const wchar_t* name, const PortData1* data = nullptr) {
        PortData1 stored{};
        DWORD size = sizeof stored;
        std::wstring key = std::wstring(kMonitorKey) + L"\\Ports\\" + name;
        if (data != nullptr) {
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"PortData", REG_BINARY, data,
                            sizeof *data);
        }
        RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"PortData", RRF_RT_REG_BINARY, nullptr,
                     &stored, &size);
        return stored;
    }

    std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
    std::unique_ptr<XcvChannel> xcv = CreateWin32XcvChannel(*spooler);

  private:
    test::TemporaryFolder folder_;
    std::wstring dll_;
    std::wstring log_;
};

TEST_F(TcpPortWin32Test, MakesTheRawPortAQueueTakesAndASecondRunReuses) {
    TcpPortResult made = MakeOrReuseTcpPort(*spooler, *xcv, {u"127.0.0.1", 9100});
    ASSERT_EQ(made.outcome, TcpPortOutcome::Made) << made.error;
    EXPECT_EQ(made.portName, u"IP_127.0.0.1");
    std::vector<std::wstring> ports = test::ListedPorts();
    EXPECT_NE(std::find(ports.begin(), ports.end(), L"IP_127.0.0.1"), ports.end());
    // The record arrives whole (its fields are checked in the portable tests).
    PortData1 stored = Stored(L"IP_127.0.0.1");
    PortData1 sent = TcpPortData({u"127.0.0.1", 9100});
    EXPECT_EQ(std::memcmp(&stored, &sent, sizeof sent), 0);
    std::vector<std::wstring> calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].substr(0, 10), L"AddPort|1|") << "SERVER_ACCESS_ADMINISTER";

    test::TestDriver driver{L"TDE TCP Test Printer", L"tdewtdrv"};
    std::string why;
    ASSERT_TRUE(driver.Install(&why)) << why;
    test::QueueCleanup queue{L"TDE TCP Test Printer"};
    ASSERT_TRUE(test::AddLocalQueue(*spooler, u"TDE TCP Test Printer", u"IP_127.0.0.1",
                                    u"TDE TCP Test Printer", &why))
        << why;

    TcpPortResult again = MakeOrReuseTcpPort(*spooler, *xcv, {u"127.0.0.1", 9100});
    EXPECT_EQ(again.outcome, TcpPortOutcome::Reused);
    EXPECT_EQ(again.portName, u"IP_127.0.0.1");
    calls = Calls();
    ASSERT_EQ(calls.size(), 2u) << "no second AddPort";
    EXPECT_EQ(calls[1], L"GetConfigInfo|1|IP_127.0.0.1");
}

TEST_F(TcpPortWin32Test, APortMadeByHandToTheSameHostIsReusedWhateverItsName) {
    PortData1 till = TcpPortData({u"127.0.0.2", 9100});
    std::u16string_view(u"Till").copy(till.sztPortName, 4);
    till.sztPortName[4] = u'\0';
    Stored(L"Till", &till);
    TcpPortResult result = MakeOrReuseTcpPort(*spooler, *xcv, {u"127.0.0.2", 9100});
    EXPECT_EQ(result.outcome, TcpPortOutcome::Reused);
    EXPECT_EQ(result.portName, u"Till");
    EXPECT_EQ(Calls(), std::vector<std::wstring>{L"GetConfigInfo|1|Till"});
}

// Sockets on 127.0.0.1, closed at the end.
class Loopback {
  public:
    Loopback() { WSAStartup(MAKEWORD(2, 2), &data_); }
    ~Loopback() {
        for (SOCKET s : sockets_) {
            closesocket(s);
        }
        WSACleanup();
    }
    // A socket bound to a port number of its own, listening unless `backlog` is negative.
    uint32_t Bind(int backlog) {
        SOCKET s = Open();
        sockaddr_in address = To(0);
        int size = sizeof address;
        bind(s, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
        if (backlog >= 0) {
            listen(s, backlog);
        }
        return ntohs(address.sin_port);
    }
    // Connects until an attempt stays unanswered: the accept queue is full.
    bool Fill(uint32_t port) {
        for (int i = 0; i < 16; ++i) {
            SOCKET s = Open();
            u_long nonBlocking = 1;
            ioctlsocket(s, FIONBIO, &nonBlocking);
            sockaddr_in address = To(port);
            connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(s, &writable);
            timeval wait{0, 300000};
            if (select(0, nullptr, &writable, nullptr, &wait) == 0) {
                return true;
            }
        }
        return false;
    }

  private:
    SOCKET Open() { return sockets_.emplace_back(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }
    static sockaddr_in To(uint32_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(port));
        return address;
    }
    WSADATA data_;
    std::vector<SOCKET> sockets_;
};

TEST(PrinterProbeWin32Test, AnswersRefusalsAndTimeOutsOnLoopback) {
    std::unique_ptr<PrinterProbe> probe = CreateWin32PrinterProbe();
    Loopback loopback;
    uint32_t answering = loopback.Bind(5);
    EXPECT_EQ(probe->Probe({u"127.0.0.1", answering}, kProbeTimeLimitMs).outcome,
              ProbeOutcome::Answered);

    ProbeResult refused = probe->Probe({u"127.0.0.1", loopback.Bind(-1)}, kProbeTimeLimitMs);
    EXPECT_EQ(refused.outcome, ProbeOutcome::Refused);
    EXPECT_EQ(refused.error, static_cast<uint32_t>(WSAECONNREFUSED));

    uint32_t full = loopback.Bind(0);
    ASSERT_TRUE(loopback.Fill(full));
    DWORD start = GetTickCount();
    EXPECT_EQ(probe->Probe({u"127.0.0.1", full}, kProbeTimeLimitMs).outcome,
              ProbeOutcome::TimedOut);
    DWORD spent = GetTickCount() - start;
    EXPECT_GE(spent, kProbeTimeLimitMs - 100);
    EXPECT_LT(spent, kProbeTimeLimitMs + 1000);
}

}  // namespace
}  // namespace tde
