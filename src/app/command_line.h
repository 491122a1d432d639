// The command line of unattended installs and removals: splitting, the
// switches, the usage text, and which exit code a finished run earns. Portable,
// so every rule here is tested natively; the Win32 side only gathers the facts.
#pragma once

#include "app/catalogue.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// Exit codes, in msiexec's convention, so deployment tools read them as they
// read any package's.
inline constexpr uint32_t kExitSuccess = 0;
inline constexpr uint32_t kExitInstallFailure = 1603;
inline constexpr uint32_t kExitAnotherInstallRunning = 1618;
inline constexpr uint32_t kExitInvalidCommandLine = 1639;

// Splits the arguments part of a command line the way CommandLineToArgvW does
// for everything after the program name: blanks and tabs separate arguments
// outside quotes; 2n backslashes before a quote give n backslashes and the quote
// toggles quoting, 2n+1 give n and a literal quote; "" inside quotes is a quote.
std::vector<std::u16string> SplitCommandArguments(std::u16string_view text);

enum class RunMode {
    Dialog,     // no arguments: the installer window, as without this feature
    Usage,      // "/?"
    Install,    // "/quiet"
    Uninstall,  // "/uninstall", always quiet
    Check,      // "/check": only the checks before an installation; changes nothing
};

// The port value that asks for the first USB printer the detection finds.
inline constexpr std::u16string_view kAutoPort = u"auto";

struct CommandLine {
    RunMode mode = RunMode::Dialog;
    size_t model = 0;     // index into the catalogue's lists
    std::u16string port;  // as given; empty when portAuto
    bool portAuto = false;
    bool makeDefault = false;
    std::u16string logPath;  // empty: the per-run log in the temporary folder
};

struct ParsedCommandLine {
    bool valid = true;
    CommandLine line;
    std::u16string error;  // one line saying what is wrong, when not valid
};

// Reads the arguments part of the command line. Switches start with "/" or "-"
// and ignore letter case; a value follows as the next argument or after ":" or
// "=" in the same one. The model is matched against `models`' display names
// without letter case. Usage wins over everything else on the line.
ParsedCommandLine ParseCommandLine(std::u16string_view arguments,
                                   const std::vector<ModelName>& models);

// The spooler's spelling of `port` when it is one of `portNames` (letter case
// ignored); empty when it is not.
std::u16string FindPort(std::u16string_view port, const std::vector<std::u16string>& portNames);

// The text of "/?", with the catalogue's models listed.
std::u16string UsageText(const std::vector<ModelName>& models);

// What the end of a quiet run found in the spooler for the model.
struct EndState {
    bool driverInstalled = false;  // a driver of the model's name (letter case ignored)
    bool queueExists = false;      // a queue of the model's name
    std::u16string queuePort;      // that queue's port
    std::u16string queueDriver;    // that queue's driver
    bool queueIsDefault = false;   // that queue is the default printer
    size_t queuesOnDriver = 0;     // queues of any name on the model's driver
};

// Everything the exit code depends on, in the order the run learns it.
struct RunFacts {
    bool commandLineValid = true;  // parsed, and the port is one the spooler lists
    bool lockTaken = true;         // no other quiet run holds the installer's lock
    bool portFound = true;         // "/port auto" found a USB printer
    bool checksPassed = true;      // the check before the run found nothing blocking
    RunMode mode = RunMode::Install;
    std::u16string model;  // display name: driver and queue name
    std::u16string port;   // the port the queue must be on
    bool makeDefault = false;
    EndState end;  // looked at after the run, never assumed
};

struct RunVerdict {
    uint32_t exitCode = kExitInstallFailure;
    std::u16string reason;  // what was found wrong; empty for success
};

// 1639 for an invalid command line, then 1618 when the lock is held, then 1603
// when no USB port was found or the check before the run blocked it (/check: 0
// otherwise); otherwise 0 only when the end state proves the
// work done: after an install the driver, the queue on the requested port and
// the model's driver, and the default printer when asked for; after an
// uninstall no driver and no queue of the model's driver.
RunVerdict DecideExitCode(const RunFacts& facts);

// The one line a quiet run ends with, e.g. "A4 Printer installed on USB001.
// Exit code 0." or "A4 Printer not installed: ... Exit code 1603."
std::u16string ResultLine(const RunFacts& facts, const RunVerdict& verdict);

}  // namespace tde
