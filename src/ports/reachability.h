// Does a network printer answer? Its HOST is resolved and one TCP connection
// opened to its port number, resolution and connection together within a time
// limit. No answer is worth a warning only: fleets install before the printer
// arrives.
#pragma once

#include "ports/tcp_address.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tde {

inline constexpr uint32_t kProbeTimeLimitMs = 2000;

enum class ProbeOutcome {
    Answered,     // a connection was made (and closed again)
    Refused,      // every address refused or failed the connection
    TimedOut,     // no answer within the time limit
    UnknownName,  // the HOST could not be resolved
};

struct ProbeResult {
    ProbeOutcome outcome = ProbeOutcome::TimedOut;
    uint32_t error = 0;  // the Winsock code of a refusal or a failed resolution
};

class PrinterProbe {
  public:
    virtual ~PrinterProbe() = default;
    virtual ProbeResult Probe(const TcpAddress& address, uint32_t timeLimitMs) = 0;
};

// Answers what it is told and remembers whom it was asked about.
class ScriptedProbe final : public PrinterProbe {
  public:
    ProbeResult answer{ProbeOutcome::Answered};
    std::vector<TcpAddress> asked;

    ProbeResult Probe(const TcpAddress& address, uint32_t) override {
        asked.push_back(address);
        return answer;
    }
};

#ifdef _WIN32
// Winsock, loaded from the system folder when first needed. The work runs on a
// thread of its own that is left behind when the time is up, because name
// resolution cannot be cut short.
std::unique_ptr<PrinterProbe> CreateWin32PrinterProbe();
#endif

}  // namespace tde
