#include "quiet/command_line.h"

#include "base/collation.h"

#include <optional>

namespace tde {

namespace {

// Names of switches, models, ports and drivers: the same name, letter case ignored.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    return SameNameIgnoringCase(a, b);
}

enum class Switch {
    Quiet,
    Model,
    Port,
    Default,
    Log,
    Uninstall,
    Repair,
    NoRestart,
    Usage,
    Check,
    Rollback
};

struct SwitchName {
    std::u16string_view name;
    Switch which;
    bool takesValue;
};

constexpr SwitchName kSwitches[] = {
    {u"quiet", Switch::Quiet, false},
    {u"model", Switch::Model, true},
    {u"port", Switch::Port, true},
    {u"default", Switch::Default, false},
    {u"log", Switch::Log, true},
    {u"uninstall", Switch::Uninstall, false},
    {u"repair", Switch::Repair, false},
    {u"norestart", Switch::NoRestart, false},
    {u"?", Switch::Usage, false},
    {u"check", Switch::Check, false},
    {u"rollback", Switch::Rollback, false},
};

struct SwitchToken {
    std::u16string_view name;                  // without the leading "/" or "-", case kept
    std::optional<std::u16string_view> value;  // after ":" or "=", when there
};

// A token that starts with "/" or "-" is a switch; its value may be attached.
std::optional<SwitchToken> AsSwitch(std::u16string_view token) {
    if (token.size() < 2 || (token[0] != u'/' && token[0] != u'-')) {
        return std::nullopt;
    }
    std::u16string_view body = token.substr(1);
    const size_t split = body.find_first_of(u":=");
    if (split == std::u16string_view::npos) {
        return SwitchToken{body, std::nullopt};
    }
    return SwitchToken{body.substr(0, split), body.substr(split + 1)};
}

const SwitchName* FindSwitch(std::u16string_view name) {
    for (const SwitchName& s : kSwitches) {
        if (EqualsIgnoreCase(s.name, name)) {
            return &s;
        }
    }
    return nullptr;
}

ParsedCommandLine Invalid(std::u16string error) {
    ParsedCommandLine result;
    result.valid = false;
    result.error = std::move(error);
    return result;
}

std::u16string ModelList(const std::vector<ModelName>& models) {
    std::u16string list;
    for (size_t i = 0; i < models.size(); ++i) {
        list += (i == 0 ? u"\"" : u", \"") + models[i].displayName + u"\"";
    }
    return list;
}

}  // namespace

std::vector<std::u16string> SplitCommandArguments(std::u16string_view text) {
    std::vector<std::u16string> arguments;
    std::u16string current;
    bool inArgument = false;
    bool quoted = false;
    size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if ((c == u' ' || c == u'\t') && !quoted) {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == u'\\') {
            size_t backslashes = 0;
            while (i < text.size() && text[i] == u'\\') {
                ++backslashes;
                ++i;
            }
            if (i < text.size() && text[i] == u'"') {
                current.append(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    current += u'"';
                    ++i;
                }
                // An even count leaves the quote to toggle quoting below.
            } else {
                current.append(backslashes, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == u'"') {
                current += u'"';
                i += 2;
                continue;
            }
            quoted = !quoted;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

ParsedCommandLine ParseCommandLine(std::u16string_view arguments,
                                   const std::vector<ModelName>& models) {
    const std::vector<std::u16string> tokens = SplitCommandArguments(arguments);
    ParsedCommandLine result;
    if (tokens.empty()) {
        return result;  // the dialog
    }
    for (const std::u16string& token : tokens) {
        std::optional<SwitchToken> s = AsSwitch(token);
        if (s && !s->value && EqualsIgnoreCase(s->name, u"?")) {
            result.line.mode = RunMode::Usage;
            return result;
        }
    }

    bool seen[std::size(kSwitches)] = {};
    bool check = false;
    bool rollback = false;
    std::optional<std::u16string> model;
    std::optional<std::u16string> port;
    for (size_t i = 0; i < tokens.size(); ++i) {
        std::optional<SwitchToken> token = AsSwitch(tokens[i]);
        if (!token) {
            return Invalid(u"Unexpected argument: " + tokens[i]);
        }
        const SwitchName* known = FindSwitch(token->name);
        if (known == nullptr) {
            return Invalid(u"Unknown switch: " + tokens[i]);
        }
        const std::u16string shown = u"/" + std::u16string(known->name);
        const size_t index = static_cast<size_t>(known - kSwitches);
        if (seen[index]) {
            return Invalid(shown + u" is given twice");
        }
        seen[index] = true;

        std::u16string value;
        if (known->takesValue) {
            if (token->value) {
                value = *token->value;
            } else if (i + 1 < tokens.size()) {
                // A following switch is not taken for a value: "/model /port X".
                std::optional<SwitchToken> next = AsSwitch(tokens[i + 1]);
                if (!next || FindSwitch(next->name) == nullptr) {
                    value = tokens[++i];
                }
            }
            if (value.empty()) {
                return Invalid(u"Missing value for " + shown);
            }
        } else if (token->value) {
            return Invalid(shown + u" takes no value: " + tokens[i]);
        }

        switch (known->which) {
            case Switch::Quiet:
                if (result.line.mode != RunMode::Uninstall) {
                    result.line.mode = RunMode::Install;
                }
                break;
            case Switch::Uninstall:
                result.line.mode = RunMode::Uninstall;
                break;
            case Switch::Model:
                model = value;
                break;
            case Switch::Port:
                port = value;
                break;
            case Switch::Default:
                result.line.makeDefault = true;
                break;
            case Switch::Log:
                result.line.logPath = value;
                break;
            case Switch::Repair:
                result.line.repair = true;
                break;
            case Switch::NoRestart:
                break;  // nothing this program does needs a restart
            case Switch::Usage:
                break;  // handled before the loop
            case Switch::Check:
                check = true;
                break;
            case Switch::Rollback:
                rollback = true;
                break;
        }
    }
    if (rollback) {
        if (check || result.line.mode == RunMode::Uninstall || port || result.line.makeDefault ||
            result.line.repair) {
            return Invalid(
                u"/check, /uninstall, /port, /default and /repair do not go with "
                u"/rollback");
        }
        result.line.mode = RunMode::Rollback;
    }
    if (check) {
        if (result.line.mode == RunMode::Uninstall || result.line.makeDefault) {
            return Invalid(u"/uninstall and /default do not go with /check");
        }
        result.line.mode = RunMode::Check;
    }

    if (result.line.mode == RunMode::Dialog) {
        return Invalid(u"Either /quiet or /uninstall is required with other switches");
    }
    if (!model) {
        return Invalid(u"/model is required");
    }
    bool matched = false;
    for (size_t m = 0; m < models.size(); ++m) {
        if (EqualsIgnoreCase(models[m].displayName, *model)) {
            result.line.model = m;
            matched = true;
            break;
        }
    }
    if (!matched) {
        return Invalid(u"Unknown model: \"" + *model + u"\"; the models are " + ModelList(models));
    }
    if (result.line.mode == RunMode::Rollback) {
        return result;
    }
    if (result.line.mode == RunMode::Uninstall) {
        if (port || result.line.makeDefault || result.line.repair) {
            return Invalid(u"/port, /default and /repair do not go with /uninstall");
        }
        return result;
    }
    if (!port) {
        if (result.line.mode == RunMode::Check) {
            return result;
        }
        return Invalid(u"/port is required to install");
    }
    if (EqualsIgnoreCase(*port, kAutoPort)) {
        result.line.portAuto = true;
        return result;
    }
    const ParsedTcpArgument tcp = ParseTcpPortArgument(*port);
    if (tcp.kind == TcpArgument::Malformed) {
        return Invalid(u"Malformed network printer: /port " + *port +
                       u"; give tcp:HOST or tcp:HOST:PORTNUMBER, HOST an IPv4 address, an IPv6 "
                       u"address in brackets or a DNS name of at most 48 characters, PORTNUMBER "
                       u"1-65535");
    }
    result.line.portTcp = tcp.kind == TcpArgument::Address;
    result.line.tcp = tcp.address;
    result.line.port = *port;
    return result;
}

std::u16string LogPathOf(std::u16string_view arguments) {
    const std::vector<std::u16string> tokens = SplitCommandArguments(arguments);
    std::optional<std::u16string> path;
    for (size_t i = 0; i < tokens.size(); ++i) {
        std::optional<SwitchToken> token = AsSwitch(tokens[i]);
        if (!token || !EqualsIgnoreCase(token->name, u"log")) {
            continue;
        }
        if (path) {
            return {};  // which one the run meant cannot be told
        }
        std::optional<SwitchToken> next =
            i + 1 < tokens.size() ? AsSwitch(tokens[i + 1]) : std::nullopt;
        path = token->value ? std::u16string(*token->value)
               : i + 1 < tokens.size() && (!next || FindSwitch(next->name) == nullptr)
                   ? tokens[++i]
                   : std::u16string();
    }
    return path.value_or(std::u16string());
}

std::u16string FindPort(std::u16string_view port, const std::vector<std::u16string>& portNames) {
    for (const std::u16string& name : portNames) {
        if (EqualsIgnoreCase(name, port)) {
            return name;
        }
    }
    return {};
}

std::u16string UsageText(const std::vector<ModelName>& models) {
    std::u16string text =
        u"Usage:\n"
        u"  TarnDovEzuvar.exe\n"
        u"      opens the installer window.\n"
        u"  TarnDovEzuvar.exe /quiet /model NAME /port PORT [/default] [/repair] [/log PATH]\n"
        u"      installs a printer without any window; when it is installed and whole\n"
        u"      already, changes nothing (but the default with /default).\n"
        u"  TarnDovEzuvar.exe /uninstall /model NAME [/log PATH]\n"
        u"      removes the model's printers and its driver, without any window; ports\n"
        u"      stay, as Windows leaves them.\n"
        u"  TarnDovEzuvar.exe /check /model NAME [/port PORT] [/log PATH]\n"
        u"      says whether an installation would go ahead, what is installed and,\n"
        u"      with /port, whether that port is there or would be made; changes nothing.\n"
        u"  TarnDovEzuvar.exe /rollback /model NAME [/log PATH]\n"
        u"      the packages' rollback: removes the model as /uninstall does, but only\n"
        u"      when a quiet install marked it as created by itself; clears the mark.\n"
        u"\n"
        u"  /model NAME  one of ";
    text += ModelList(models);
    text +=
        u"\n"
        u"  /port PORT   a port the spooler lists (USB001, COM1:, IP_10.0.0.5, ...);\n"
        u"               tcp:HOST or tcp:HOST:PORTNUMBER for a network printer, whose\n"
        u"               Standard TCP/IP port is reused or made (IP_HOST for 9100, the\n"
        u"               default, else IP_HOST_PORTNUMBER); or auto for this model's USB\n"
        u"               printer: the one connected USB printer whose device names ZNW or\n"
        u"               whose port carries no other driver's printer\n"
        u"  /default     makes the printer the default printer of the user who runs\n"
        u"               this; refused when run as LocalSystem, which has no user\n"
        u"  /repair      updates the driver and makes the printer named after the\n"
        u"               model anew; printers of other names on the driver stay\n"
        u"  /log PATH    writes the run's log to PATH and keeps it; a missing folder is\n"
        u"               made for administrators only, one others may write is refused\n"
        u"  /norestart   accepted and ignored: nothing here needs a restart, and the\n"
        u"               exit code is never 3010\n"
        u"  /?           shows this text\n"
        u"\n"
        u"Switches start with / or - and ignore letter case; a value follows after a\n"
        u"blank, \":\" or \"=\", e.g. /model:\"A4 Printer\".\n"
        u"\n"
        u"Exit codes: 0 done and checked, 1603 failed (see the log), 1618 another run\n"
        u"holds the installer's lock, 1639 invalid command line. /check: 0 when an\n"
        u"installation would go ahead, 1603 when it would not.\n";
    return text;
}

}  // namespace tde
