// The quiet mode: what the program does when started with arguments, for
// fleets (Intune, Configuration Manager, Group Policy, logon scripts). It reads
// the command line, installs, removes or checks a model without any window,
// proves the end state and answers one exit code that means one thing:
//   command_line.h  the switches and the usage text;
//   exit_code.h     the exit code a run earns and the line it ends with;
//   unattended.h    removal, the end check (driver files included) over the
//                   spooler interface, the quiet UI of a run;
//   run.h           the run itself over its platform, from arguments to exit code;
//   run_port.h      the port of an install or check: auto, tcp: or a listed one;
//   quiet_run.h     the platform on Windows: console, log, RunCommandLine.
// The dialog program includes this to hand over; nothing here includes the dialog.
#pragma once

#include "quiet/command_line.h"
#include "quiet/exit_code.h"
#include "quiet/run.h"
#include "quiet/unattended.h"

#ifdef _WIN32
#include "quiet/quiet_run.h"
#endif
