// The printer probe over Winsock. ws2_32.dll is not imported: the program
// starts without it (the image check allows five DLLs), loads it only when a
// network printer is named, and then only from the system folder, like the
// spooler's library.
#include "ports/reachability.h"

#include "base/win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

namespace tde {

namespace {

// Winsock's functions, from the system folder; started while this lives.
class Winsock {
  public:
    Winsock() : module_(static_cast<HMODULE>(LoadSystemLibrary(L"ws2_32.dll"))) {
        Get(startup, "WSAStartup");
        Get(cleanup, "WSACleanup");
        Get(lastError, "WSAGetLastError");
        Get(getAddrInfo, "GetAddrInfoW");
        Get(freeAddrInfo, "FreeAddrInfoW");
        Get(openSocket, "socket");
        Get(closeSocket, "closesocket");
        Get(control, "ioctlsocket");
        Get(connectTo, "connect");
        Get(waitFor, "select");
        Get(getOption, "getsockopt");
        WSADATA data;
        started_ = resolved_ && startup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Winsock() {
        if (started_) {
            cleanup();
        }
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    bool started() const { return started_; }

    decltype(&::WSAStartup) startup = nullptr;
    decltype(&::WSACleanup) cleanup = nullptr;
    decltype(&::WSAGetLastError) lastError = nullptr;
    decltype(&::GetAddrInfoW) getAddrInfo = nullptr;
    decltype(&::FreeAddrInfoW) freeAddrInfo = nullptr;
    decltype(&::socket) openSocket = nullptr;
    decltype(&::closesocket) closeSocket = nullptr;
    decltype(&::ioctlsocket) control = nullptr;
    decltype(&::connect) connectTo = nullptr;
    decltype(&::select) waitFor = nullptr;
    decltype(&::getsockopt) getOption = nullptr;

  private:
    template <typename Fn>
    void Get(Fn& fn, const char* name) {
        fn = SystemFunction<Fn>(module_, name);
        resolved_ = resolved_ && fn != nullptr;
    }

    HMODULE module_;
    bool resolved_ = true;
    bool started_ = false;
};

struct ProbeJob {
    std::wstring host;
    std::wstring portNumber;
    DWORD start = 0;
    DWORD limit = 0;
    ProbeResult result;

    DWORD Left() const {
        DWORD spent = GetTickCount() - start;
        return spent < limit ? limit - spent : 0;
    }
};

// One connection attempt to one address, waiting at most what is left.
ProbeResult Connect(Winsock& ws, const ADDRINFOW& address, const ProbeJob& job) {
    SOCKET s = ws.openSocket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) {
        return {ProbeOutcome::Refused, static_cast<uint32_t>(ws.lastError())};
    }
    ProbeResult result{ProbeOutcome::Refused};
    u_long nonBlocking = 1;
    if (ws.control(s, FIONBIO, &nonBlocking) != 0) {
        result.error = static_cast<uint32_t>(ws.lastError());
    } else if (ws.connectTo(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
        result.outcome = ProbeOutcome::Answered;
    } else if (int error = ws.lastError(); error != WSAEWOULDBLOCK) {
        result.error = static_cast<uint32_t>(error);
    } else {
        // A made connection shows as writable, a failed one in the exception set.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        DWORD left = job.Left();
        timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
        int ready = ws.waitFor(0, nullptr, &writable, &failed, &wait);
        if (ready == 0) {
            result.outcome = ProbeOutcome::TimedOut;
        } else if (ready > 0 && writable.fd_count > 0) {
            result.outcome = ProbeOutcome::Answered;
        } else {
            int code = 0;
            int size = sizeof code;
            ws.getOption(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size);
            result.error = static_cast<uint32_t>(ready < 0 ? ws.lastError() : code);
        }
    }
    ws.closeSocket(s);
    return result;
}

ProbeResult Run(const ProbeJob& job) {
    Winsock ws;
    if (!ws.started()) {
        return {ProbeOutcome::Refused, static_cast<uint32_t>(GetLastError())};
    }
    ADDRINFOW hints{};
    hints.ai_flags = AI_NUMERICSERV;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* list = nullptr;
    if (int error = ws.getAddrInfo(job.host.c_str(), job.portNumber.c_str(), &hints, &list)) {
        return {ProbeOutcome::UnknownName, static_cast<uint32_t>(error)};
    }
    ProbeResult result{ProbeOutcome::UnknownName, WSAHOST_NOT_FOUND};
    for (const ADDRINFOW* address = list; address != nullptr; address = address->ai_next) {
        if (job.Left() == 0) {
            result = {ProbeOutcome::TimedOut};
            break;
        }
        result = Connect(ws, *address, job);
        if (result.outcome != ProbeOutcome::Refused) {
            break;
        }
    }
    ws.freeAddrInfo(list);
    return result;
}

DWORD WINAPI ProbeThread(void* parameter) {
    std::shared_ptr<ProbeJob> job(std::move(*static_cast<std::shared_ptr<ProbeJob>*>(parameter)));
    delete static_cast<std::shared_ptr<ProbeJob>*>(parameter);
    job->result = Run(*job);
    return 0;
}

class Win32PrinterProbe final : public PrinterProbe {
  public:
    ProbeResult Probe(const TcpAddress& address, uint32_t timeLimitMs) override {
        auto job = std::make_shared<ProbeJob>();
        job->host.assign(address.host.begin(), address.host.end());
        job->portNumber = std::to_wstring(address.portNumber);
        job->start = GetTickCount();
        job->limit = timeLimitMs;
        auto* handOver = new std::shared_ptr<ProbeJob>(job);
        HANDLE thread = CreateThread(nullptr, 0, ProbeThread, handOver, 0, nullptr);
        if (thread == nullptr) {
            delete handOver;
            return {ProbeOutcome::Refused, static_cast<uint32_t>(GetLastError())};
        }
        // A resolution still running at the limit is left to finish on its own.
        DWORD waited = WaitForSingleObject(thread, timeLimitMs);
        CloseHandle(thread);
        return waited == WAIT_OBJECT_0 ? job->result : ProbeResult{ProbeOutcome::TimedOut};
    }
};

}  // namespace

std::unique_ptr<PrinterProbe> CreateWin32PrinterProbe() {
    return std::make_unique<Win32PrinterProbe>();
}

}  // namespace tde
