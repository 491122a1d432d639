// The Standard TCP/IP port made and reused through the real spooler, with a
// monitor of our own registered under that name, and the printer probe
// against listeners on 127.0.0.1.
#include "ports/reachability.h"
#include "ports/tcp_port.h"
#include "spooler_fixtures_win32.h"
#include "tcp_monitor_path.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <vector>

namespace tde {
namespace {

constexpr wchar_t kMonitorKey[] =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port";

// The test monitor copied to the system folder (syswow64 for this 32-bit
// program) and registered; removed with its ports at the end.
class TcpMonitor {
  public:
    TcpMonitor() {
        wchar_t folder[MAX_PATH] = {};
        GetSystemDirectoryW(folder, MAX_PATH);
        dll_ = std::wstring(folder) + L"\\tdetcpmon.dll";
        log_ = folder_.path() + L"\\xcv.log";
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMonitorKey);
        installed_ =
            CopyFileW(test::FromUnixPath(TDE_TEST_TCP_MONITOR).c_str(), dll_.c_str(), FALSE) &&
            !RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMonitorKey, L"Driver", REG_SZ, L"tdetcpmon.dll",
                             sizeof L"tdetcpmon.dll") &&
            !RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMonitorKey, L"Log", REG_SZ, log_.c_str(),
                             (log_.size() + 1) * sizeof(wchar_t));
    }
    ~TcpMonitor() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMonitorKey);
        DeleteFileW(dll_.c_str());
    }
    bool installed() const { return installed_; }

    // Every Xcv call so far, as "command|access|object".
    std::vector<std::wstring> Calls() const {
        std::vector<std::wstring> lines;
        HANDLE file = CreateFileW(log_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return lines;
        }
        std::wstring text(32768, L'\0');
        DWORD read = 0;
        ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read,
                 nullptr);
        CloseHandle(file);
        text.resize(read / sizeof(wchar_t));
        for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos;
             start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }
    // A port as another tool would have left it.
    static bool AddByHand(const wchar_t* name, const PortData1& data) {
        std::wstring key = std::wstring(kMonitorKey) + L"\\Ports\\" + name;
        return !RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"PortData", REG_BINARY, &data,
                                sizeof data);
    }
    static PortData1 Stored(const wchar_t* name) {
        PortData1 data{};
        DWORD size = sizeof data;
        std::wstring key = std::wstring(kMonitorKey) + L"\\Ports\\" + name;
        RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"PortData", RRF_RT_REG_BINARY, nullptr,
                     &data, &size);
        return data;
    }

  private:
    test::TemporaryFolder folder_;
    std::wstring dll_;
    std::wstring log_;
    bool installed_ = false;
};

// Calls that begin with `start`.
size_t Count(const std::vector<std::wstring>& lines, const std::wstring& start) {
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(),
        [&](const std::wstring& l) { return l.compare(0, start.size(), start) == 0; }));
}

TEST(TcpPortWin32Test, MakesTheRawPortAQueueTakesAndASecondRunReuses) {
    TcpMonitor monitor;
    ASSERT_TRUE(monitor.installed());
    std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
    std::unique_ptr<XcvChannel> xcv = CreateWin32XcvChannel(*spooler);

    TcpPortResult made = MakeOrReuseTcpPort(*spooler, *xcv, {u"127.0.0.1", 9100});
    ASSERT_EQ(made.outcome, TcpPortOutcome::Made) << made.error;
    EXPECT_EQ(made.portName, u"IP_127.0.0.1");
    std::vector<std::wstring> ports = test::ListedPorts();
    EXPECT_NE(std::find(ports.begin(), ports.end(), L"IP_127.0.0.1"), ports.end());
    PortData1 stored = TcpMonitor::Stored(L"IP_127.0.0.1");
    EXPECT_EQ(FieldText(stored.sztPortName, 64), u"IP_127.0.0.1");
    EXPECT_EQ(FieldText(stored.sztHostAddress, 49), u"127.0.0.1");
    EXPECT_EQ(stored.dwVersion, 1u);
    EXPECT_EQ(stored.dwProtocol, kTcpProtocolRaw);
    EXPECT_EQ(stored.cbSize, 964u);
    EXPECT_EQ(stored.dwPortNumber, 9100u);
    EXPECT_EQ(stored.dwSNMPEnabled, 0u);
    ASSERT_EQ(monitor.Calls().size(), 1u);
    EXPECT_EQ(Count(monitor.Calls(), L"AddPort|1|"), 1u) << "SERVER_ACCESS_ADMINISTER";

    test::TestDriver driver{L"TDE TCP Test Printer", L"tdewtdrv"};
    std::string why;
    ASSERT_TRUE(driver.Install(&why)) << why;
    test::QueueCleanup queue{L"TDE TCP Test Printer"};
    PrinterInfo2 record = {};
    record.pPrinterName = u"TDE TCP Test Printer";
    record.pPortName = u"IP_127.0.0.1";
    record.pDriverName = u"TDE TCP Test Printer";
    record.pPrintProcessor = u"WinPrint";
    record.pDatatype = u"RAW";
    record.Attributes = kPrinterAttributeLocal;
    PrinterHandle printer = spooler->AddPrinterW(record);
    ASSERT_NE(printer, nullptr) << spooler->LastError();
    spooler->ClosePrinter(printer);

    TcpPortResult again = MakeOrReuseTcpPort(*spooler, *xcv, {u"127.0.0.1", 9100});
    EXPECT_EQ(again.outcome, TcpPortOutcome::Reused);
    EXPECT_EQ(again.portName, u"IP_127.0.0.1");
    std::vector<std::wstring> calls = monitor.Calls();
    EXPECT_EQ(Count(calls, L"AddPort|"), 1u);
    EXPECT_EQ(Count(calls, L"GetConfigInfo|1|IP_127.0.0.1"), 1u);
}

TEST(TcpPortWin32Test, APortMadeByHandToTheSameHostIsReusedWhateverItsName) {
    TcpMonitor monitor;
    ASSERT_TRUE(monitor.installed());
    PortData1 till = TcpPortData({u"127.0.0.2", 9100});
    std::u16string_view(u"Till").copy(till.sztPortName, 4);
    till.sztPortName[4] = u'\0';
    ASSERT_TRUE(TcpMonitor::AddByHand(L"Till", till));
    std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
    std::unique_ptr<XcvChannel> xcv = CreateWin32XcvChannel(*spooler);

    TcpPortResult result = MakeOrReuseTcpPort(*spooler, *xcv, {u"127.0.0.2", 9100});
    EXPECT_EQ(result.outcome, TcpPortOutcome::Reused);
    EXPECT_EQ(result.portName, u"Till");
    EXPECT_EQ(monitor.Calls(), std::vector<std::wstring>{L"GetConfigInfo|1|Till"});
}

// A listening socket on 127.0.0.1 and a free port number.
class Listener {
  public:
    explicit Listener(int backlog) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        bind(socket_, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        if (backlog >= 0) {
            listen(socket_, backlog);
        }
    }
    ~Listener() {
        for (SOCKET s : clients_) {
            closesocket(s);
        }
        closesocket(socket_);
        WSACleanup();
    }
    uint32_t port() const { return port_; }
    // Connects until an attempt gets no answer: the accept queue is full.
    bool Fill() {
        for (int i = 0; i < 16; ++i) {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            ioctlsocket(s, FIONBIO, &nonBlocking);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<u_short>(port_));
            connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
            clients_.push_back(s);
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
    SOCKET socket_;
    uint32_t port_ = 0;
    std::vector<SOCKET> clients_;
};

TEST(PrinterProbeWin32Test, AnswersRefusalsAndTimeOutsOnLoopback) {
    std::unique_ptr<PrinterProbe> probe = CreateWin32PrinterProbe();
    Listener answering(5);
    EXPECT_EQ(probe->Probe({u"127.0.0.1", answering.port()}, kProbeTimeLimitMs).outcome,
              ProbeOutcome::Answered);

    Listener closed(-1);  // bound, never listening
    ProbeResult refused = probe->Probe({u"127.0.0.1", closed.port()}, kProbeTimeLimitMs);
    EXPECT_EQ(refused.outcome, ProbeOutcome::Refused);
    EXPECT_EQ(refused.error, static_cast<uint32_t>(WSAECONNREFUSED));

    Listener full(0);
    ASSERT_TRUE(full.Fill());
    DWORD start = GetTickCount();
    EXPECT_EQ(probe->Probe({u"127.0.0.1", full.port()}, kProbeTimeLimitMs).outcome,
              ProbeOutcome::TimedOut);
    DWORD spent = GetTickCount() - start;
    EXPECT_GE(spent, kProbeTimeLimitMs - 100);
    EXPECT_LT(spent, kProbeTimeLimitMs + 1000);
}

}  // namespace
}  // namespace tde
