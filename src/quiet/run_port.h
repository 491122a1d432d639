// The port of a quiet install or check: this model's USB printer for "auto", a
// network printer's Standard TCP/IP port for "tcp:", or a port the spooler
// lists. Portable, over the run's platform.
#pragma once

#include "quiet/run.h"

namespace tde {

// Finds the port `line` asks for (a tcp: port is made only when `make`, and its
// printer asked whether it answers). The facts learn the port, or why there is
// none; true when there is one.
bool ResolveRunPort(QuietPlatform& platform, const CommandLine& line, bool make, RunFacts& facts,
                    const RunReporter& report);

// Whether the network printer at `address` answers: a line either way, a warning
// when it does not, never a failure, as fleets install before the printer arrives.
void ReportPrinterAnswer(PrinterProbe& probe, const TcpAddress& address, const RunReporter& report);

}  // namespace tde
