// The command line of unattended installs, removals and checks: splitting, the
// switches and the usage text. Portable, so every rule is tested natively.
#pragma once

#include "install/model.h"
#include "ports/tcp_address.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

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
    Rollback,   // "/rollback": the package's rollback; removes only what an install marked
};

// The port value that asks for this model's USB printer among those connected.
inline constexpr std::u16string_view kAutoPort = u"auto";

struct CommandLine {
    RunMode mode = RunMode::Dialog;
    size_t model = 0;     // index into the catalogue's lists
    std::u16string port;  // as given; empty when portAuto
    bool portAuto = false;
    bool portTcp = false;  // "tcp:HOST[:PORTNUMBER]": a Standard TCP/IP port, made or reused
    TcpAddress tcp;
    bool makeDefault = false;
    bool repair = false;     // install even when the model is installed and whole
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

// The value of the line's one /log switch, even when the line is invalid
// otherwise; empty when there is none, or more than one.
std::u16string LogPathOf(std::u16string_view arguments);

// The spooler's spelling of `port` when it is one of `portNames` (letter case
// ignored); empty when it is not.
std::u16string FindPort(std::u16string_view port, const std::vector<std::u16string>& portNames);

// The text of "/?", with the catalogue's models listed.
std::u16string UsageText(const std::vector<ModelName>& models);

}  // namespace tde
