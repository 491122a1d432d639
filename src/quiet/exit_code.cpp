#include "quiet/exit_code.h"

#include "base/collation.h"
#include "spooler/spooler.h"
#include "text/text.h"

namespace tde {

namespace {

std::u16string Joined(const std::vector<std::u16string>& names) {
    std::u16string text;
    for (const std::u16string& name : names) {
        text += (text.empty() ? u"" : u", ") + name;
    }
    return text.empty() ? std::u16string(u"none") : text;
}

}  // namespace

RunVerdict DecideExitCode(const RunFacts& facts) {
    const bool install = facts.mode == RunMode::Install;
    if (!facts.commandLineValid) {
        return {kExitInvalidCommandLine, u"invalid command line"};
    }
    if (install && facts.makeDefault && facts.runsAsLocalSystem) {
        return {kExitInvalidCommandLine,
                u"/default does not go with a run as LocalSystem: the default printer belongs "
                u"to each user. Leave /default out here and set it in each user's session, "
                u"e.g. rundll32 printui.dll,PrintUIEntry /y /n \"" +
                    facts.model + u"\""};
    }
    if (facts.lockRefused) {
        return {kExitInstallFailure, u"the installer's lock cannot be taken"};
    }
    if (!facts.lockTaken) {
        return {kExitAnotherInstallRunning, u"another installation is running"};
    }
    // A check with /port says whether an install with it would go ahead.
    const bool ports = install || facts.mode == RunMode::Check;
    if (ports && !facts.portRefusal.empty()) {
        return {kExitInstallFailure, facts.portRefusal};
    }
    if (ports && !facts.portListed) {
        return {kExitInstallFailure, u"the spooler does not list the port " + facts.requestedPort +
                                         u"; it lists " + Joined(facts.spoolerPorts)};
    }
    if (install && facts.portAuto && facts.usbPorts.empty()) {
        return {kExitInstallFailure, u"no USB printer was found"};
    }
    if (install && facts.portAuto && facts.usbPorts.size() > 1) {
        return {kExitInstallFailure, u"more than one USB printer is connected (" +
                                         Joined(facts.usbPorts) + u"); name one with /port"};
    }
    if (!facts.checksPassed) {
        return {kExitInstallFailure, u"the check before the run found a problem"};
    }
    if (facts.mode == RunMode::Check) {
        if (!facts.end.listsRead && !facts.spoolerStopped) {
            return {kExitInstallFailure,
                    u"what is installed is unknown: the spooler's lists cannot be read (error " +
                        DecimalText(facts.end.readError) + u")"};
        }
        return {kExitSuccess, {}};
    }
    const bool removal = facts.mode == RunMode::Uninstall || facts.mode == RunMode::Rollback;
    if (facts.mode == RunMode::Rollback && !facts.rollbackMarked) {
        return {kExitSuccess, {}};  // nothing of the model was this install's to remove
    }
    if (!facts.jobsWaiting.empty()) {
        return {kExitInstallFailure, u"jobs are waiting on " + Joined(facts.jobsWaiting) +
                                         u"; try again when they have printed"};
    }
    if (facts.jobsUnread) {
        return {kExitInstallFailure,
                u"the spooler's printers cannot be read to look for waiting jobs"};
    }
    const EndState& end = facts.end;
    if (!end.listsRead) {
        return {kExitInstallFailure,
                u"the spooler's lists cannot be read (error " + DecimalText(end.readError) + u")"};
    }
    if (removal) {
        if (end.driverInstalled) {
            return {kExitInstallFailure, u"the driver is still installed"};
        }
        if (end.queuesOnDriver > 0) {
            return {kExitInstallFailure, u"a printer still uses the driver"};
        }
        return {kExitSuccess, {}};
    }
    if (!facts.workflowSucceeded) {
        return {kExitInstallFailure,
                facts.refused.empty() ? std::u16string(u"the installation failed") : facts.refused};
    }
    if (!end.driverInstalled) {
        return {kExitInstallFailure, u"the driver is not installed"};
    }
    if (!end.driverFilesWhole) {
        return {kExitInstallFailure,
                u"the driver's files are not this package's: " + end.driverFilesProblem};
    }
    if (!end.queueExists) {
        return {kExitInstallFailure, u"the printer does not exist"};
    }
    if (!SameNameIgnoringCase(end.queueDriver, facts.model)) {
        return {kExitInstallFailure, u"the printer uses the driver \"" + end.queueDriver + u"\""};
    }
    if (!SameNameIgnoringCase(end.queuePort, facts.port)) {
        return {kExitInstallFailure, u"the printer is on port " + end.queuePort};
    }
    if (facts.makeDefault && !end.queueIsDefault) {
        return {kExitInstallFailure, u"the printer is not the default printer"};
    }
    return {kExitSuccess, {}};
}

bool InstalledAndWhole(const RunFacts& facts) {
    RunFacts check = facts;
    check.mode = RunMode::Install;
    check.makeDefault = false;
    check.workflowSucceeded = true;
    return DecideExitCode(check).exitCode == kExitSuccess;
}

std::u16string ResultLine(const RunFacts& facts, const RunVerdict& verdict) {
    std::u16string line = facts.model.empty() ? std::u16string(u"Printer") : facts.model;
    const bool ok = verdict.exitCode == kExitSuccess;
    if (facts.mode == RunMode::Check) {
        line += ok ? u": an installation would go ahead" : u": an installation would not go ahead";
    } else if (facts.mode == RunMode::Rollback && !facts.rollbackMarked) {
        line += u": not created by the package's install, nothing to roll back";
    } else if (facts.mode == RunMode::Uninstall || facts.mode == RunMode::Rollback) {
        line += !ok                     ? u" not removed"
                : facts.nothingToRemove ? u": nothing to remove"
                                        : u" removed";
    } else {
        line += ok ? u" installed on " + facts.port : std::u16string(u" not installed");
        if (ok && facts.makeDefault) {
            line += u" as the default printer";
        }
    }
    if (!ok) {
        line += u": " + verdict.reason;
    }
    line += u". Exit code " + DecimalText(verdict.exitCode) + u".";
    return line;
}

}  // namespace tde
