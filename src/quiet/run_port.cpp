#include "quiet/run_port.h"

#include "ports/ports.h"
#include "ports/usb_ports.h"

namespace tde {

namespace {

// "192.168.1.60:9100", "[::1]:9100".
std::u16string AddressText(const TcpAddress& address) {
    const bool v6 = address.host.find(u':') != std::u16string::npos;
    return (v6 ? u"[" + address.host + u"]" : address.host) + u":" +
           DecimalText(address.portNumber);
}

bool FindUsbPort(QuietPlatform& p, RunFacts& facts, const RunReporter& report) {
    facts.portAuto = true;
    std::vector<QueueOnPort> queues;
    uint32_t error = 0;
    if (!ReadQueuePorts(p.spooler, queues, &error)) {
        facts.portRefusal =
            u"/port auto cannot tell whose USB printer is whose: the spooler's "
            u"printers cannot be read (error " +
            DecimalText(error) + u")";
        return false;
    }
    const AutoPortChoice choice = ChooseAutoPort(DetectUsbPrinters(p.devices), queues, facts.model);
    for (const std::u16string& line : choice.lines) {
        report(line);
    }
    if (!choice.port) {
        facts.portRefusal = choice.refusal;
        return false;
    }
    facts.port = *choice.port;
    facts.usbPorts = {facts.port};
    report(u"/port auto: the USB printer's port is " + facts.port);
    return true;
}

// A Standard TCP/IP port printing RAW to the address, whatever its name, or one
// made for it.
bool FindTcpPort(QuietPlatform& p, const TcpAddress& tcp, bool make, RunFacts& facts,
                 const RunReporter& report) {
    const std::u16string address = AddressText(tcp);
    const std::optional<TcpPortResult> port =
        make ? MakeOrReuseTcpPort(p.spooler, p.xcv, tcp) : LookUpTcpPort(p.spooler, p.xcv, tcp);
    if (!port) {
        report(u"No Standard TCP/IP port prints RAW to " + address + u"; an install would make " +
               TcpPortName(tcp));
    } else {
        switch (port->outcome) {
            case TcpPortOutcome::Reused:
                report(u"The Standard TCP/IP port " + port->portName + u" prints RAW to " +
                       address);
                break;
            case TcpPortOutcome::Made:
                report(u"The Standard TCP/IP port " + port->portName + u" was made for " + address);
                break;
            case TcpPortOutcome::NameTaken:
                facts.portRefusal = u"the port " + port->portName +
                                    u" exists and does not print RAW to " + address +
                                    u"; remove it, or name the port with /port";
                return false;
            case TcpPortOutcome::Refused:
                facts.portRefusal = u"the Standard TCP/IP port " + port->portName +
                                    u" cannot be made: Windows answered error " +
                                    DecimalText(port->error);
                return false;
        }
        facts.port = port->portName;
    }
    ReportPrinterAnswer(p.probe, tcp, report);
    return true;
}

bool FindListedPort(QuietPlatform& p, const CommandLine& line, RunFacts& facts,
                    const RunReporter& report) {
    facts.spoolerPorts = ReadPortNames(p.spooler);
    facts.port = FindPort(line.port, facts.spoolerPorts);
    if (facts.port.empty()) {
        facts.portListed = false;
        facts.requestedPort = line.port;
        return false;
    }
    if (line.mode == RunMode::Check) {
        report(u"The spooler lists the port " + facts.port);
    }
    return true;
}

}  // namespace

bool ResolveRunPort(QuietPlatform& platform, const CommandLine& line, bool make, RunFacts& facts,
                    const RunReporter& report) {
    if (line.portAuto) {
        return FindUsbPort(platform, facts, report);
    }
    if (line.portTcp) {
        return FindTcpPort(platform, line.tcp, make, facts, report);
    }
    return FindListedPort(platform, line, facts, report);
}

void ReportPrinterAnswer(PrinterProbe& probe, const TcpAddress& address,
                         const RunReporter& report) {
    const ProbeResult answer = probe.Probe(address, kProbeTimeLimitMs);
    std::u16string why;
    switch (answer.outcome) {
        case ProbeOutcome::Answered:
            report(u"The printer at " + AddressText(address) + u" answers");
            return;
        case ProbeOutcome::Refused:
            why = u"the connection was refused, error " + DecimalText(answer.error);
            break;
        case ProbeOutcome::TimedOut:
            why = u"no answer within " + DecimalText(kProbeTimeLimitMs / 1000) + u" seconds";
            break;
        case ProbeOutcome::UnknownName:
            why = u"the name cannot be resolved, error " + DecimalText(answer.error);
            break;
    }
    report(u"Warning: the printer at " + AddressText(address) + u" does not answer (" + why +
           u"); the port serves it once it is connected");
}

}  // namespace tde
