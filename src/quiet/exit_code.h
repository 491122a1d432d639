// Which exit code a finished quiet run earns, from the facts the run gathered
// and the end state it found, and the one line it ends with. Portable, so every
// rule here is tested natively; the Win32 side only gathers the facts.
#pragma once

#include "quiet/command_line.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tde {

// Exit codes, in msiexec's convention, so deployment tools read them as they
// read any package's.
inline constexpr uint32_t kExitSuccess = 0;
inline constexpr uint32_t kExitInstallFailure = 1603;
inline constexpr uint32_t kExitAnotherInstallRunning = 1618;
inline constexpr uint32_t kExitInvalidCommandLine = 1639;

// What the end of a quiet run found in the spooler for the model.
struct EndState {
    bool listsRead = true;              // both enumerations succeeded
    uint32_t readError = 0;             // the last error of the one that failed
    bool driverFilesWhole = false;      // the driver's files are this package's (size, CRC-32)
    std::u16string driverFilesProblem;  // which file is missing or differs
    bool driverInstalled = false;       // a driver of the model's name (letter case ignored)
    bool queueExists = false;           // a queue of the model's name
    std::u16string queuePort;           // that queue's port
    std::u16string queueDriver;         // that queue's driver
    bool queueIsDefault = false;        // that queue is the default printer
    size_t queuesOnDriver = 0;          // queues of any name on the model's driver
};

// Everything the exit code depends on, in the order the run learns it.
struct RunFacts {
    bool commandLineValid = true;    // parsed
    bool runsAsLocalSystem = false;  // then /default has no user to give a default to
    bool lockTaken = true;           // no other quiet run holds the installer's lock
    bool lockRefused = false;        // the lock could not be created or opened at all
    // The requested port and the ports the spooler lists, when it lists no such port.
    bool portListed = true;
    std::u16string requestedPort;
    std::vector<std::u16string> spoolerPorts;
    bool portAuto = false;                 // "/port auto"
    std::vector<std::u16string> usbPorts;  // what its detection found
    std::u16string portRefusal;  // why the port cannot be had (auto, tcp:), naming each port
    bool spoolerStopped =
        false;  // /check: the spooler's service is stopped, which an install starts
    bool workflowSucceeded = true;  // the installation reached its success path (or was not needed)
    std::u16string refused;         // when it did not: the step Windows refused, with its code
    bool checksPassed = true;       // the check before the run found nothing blocking
    RunMode mode = RunMode::Install;
    std::u16string model;  // display name: driver and queue name
    std::u16string port;   // the port the queue must be on
    bool makeDefault = false;
    // A removal found neither the driver nor a queue on it.
    bool nothingToRemove = false;
    // Local queues whose jobs kept the run from deleting a queue or restarting the
    // spooler (1603); a restart is also refused when the jobs cannot be read.
    std::vector<std::u16string> jobsWaiting;
    bool jobsUnread = false;
    bool rollbackMarked = true;  // /rollback: an install marked the model as created by it
    EndState end;                // looked at after the run, never assumed
};

struct RunVerdict {
    uint32_t exitCode = kExitInstallFailure;
    std::u16string reason;  // what was found wrong; empty for success
};

// 1639 only for what the command line itself gets wrong (/default as
// LocalSystem among it), then 1618 when another run holds the lock; 1603 for
// every state of the machine: a lock that cannot be had, a port the spooler does
// not list, no USB printer or more than one for "/port auto", a network
// printer's port that cannot be had, unreadable spooler lists, a check before
// the run that blocked it, an installation that failed. /check: the same for its
// port, and an installed state it cannot read, unless the spooler is only
// stopped; 0 otherwise. Otherwise 0 only when the end
// state proves the work done: after an install the driver with this package's
// files, the queue on the requested port and the model's driver, and the
// default printer when asked for; after an uninstall no driver and no queue of
// the model's driver.
RunVerdict DecideExitCode(const RunFacts& facts);

// The end check of an install without its default printer: the model is
// installed, whole and on the port, so a quiet install has nothing to do.
bool InstalledAndWhole(const RunFacts& facts);

// The one line a quiet run ends with, e.g. "A4 Printer installed on USB001.
// Exit code 0." or "A4 Printer not installed: ... Exit code 1603."
std::u16string ResultLine(const RunFacts& facts, const RunVerdict& verdict);

}  // namespace tde
