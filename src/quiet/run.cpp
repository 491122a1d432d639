#include "quiet/run.h"
#include "quiet/waiting_jobs.h"

#include "base/collation.h"
#include "ports/ports.h"
#include "ports/usb_ports.h"

namespace tde {

namespace {

// The workflow's log lines go to the run's log.
class QuietInstallLog final : public InstallLog {
  public:
    explicit QuietInstallLog(QuietHost& host) : host_(host) {}
    void Write(std::u16string_view line) override { host_.Write(line); }

  private:
    QuietHost& host_;
};

class Run {
  public:
    Run(QuietPlatform& platform, const ModelCatalogue& catalogue)
        : p_(platform), catalogue_(catalogue), services_(p_.services, p_.spooler, Reporter()) {}

    uint32_t Execute(std::u16string_view arguments) {
        const ParsedCommandLine parsed = ParseCommandLine(arguments, catalogue_.modelNames);
        if (parsed.valid && parsed.line.mode == RunMode::Usage) {
            // No window, ever: under SYSTEM nobody could close it.
            if (p_.host.HasOutput()) {
                p_.host.Out(UsageText(catalogue_.modelNames));
            }
            return kExitSuccess;
        }
        if (!parsed.valid) {
            facts_.commandLineValid = false;
            p_.host.OpenLog(u"", false);
            Report(parsed.error);
            Report(u"TarnDovEzuvar.exe /? shows the usage.");
            return Finish();
        }
        line_ = parsed.line;
        facts_.mode = line_.mode;
        facts_.model = catalogue_.modelNames[line_.model].displayName;
        facts_.makeDefault = line_.makeDefault;
        facts_.runsAsLocalSystem = p_.host.RunsAsLocalSystem();
        if (Installs() && line_.makeDefault && facts_.runsAsLocalSystem) {
            p_.host.OpenLog(line_.logPath, /*append=*/true);
            return Finish();
        }
        // A check changes nothing, so it needs no lock and may run beside an installation.
        if (line_.mode != RunMode::Check) {
            const LockState lock = TakeInstallerLock(p_.lock);
            if (lock != LockState::Taken) {
                return LockNotTaken(lock);
            }
        }
        p_.host.OpenLog(line_.logPath, false);
        texts_ = &p_.host.Texts();
        return Finish(Work());
    }

  private:
    bool Installs() const { return line_.mode == RunMode::Install; }
    void Report(std::u16string_view text) { p_.host.Report(text); }
    RunReporter Reporter() {
        return [this](std::u16string_view text) { Report(text); };
    }

    // The result line; answers the exit code.
    uint32_t Finish(bool lookAtSpooler = false) {
        if (lookAtSpooler) {
            LookAtSpooler();
        }
        if (services_.Refused()) {
            facts_.jobsUnread = !services_.Found().listRead;
            for (const SpoolerEntry& queue : services_.Found().queues) {
                facts_.jobsWaiting.push_back(queue.printerName);
            }
        }
        const RunVerdict verdict = DecideExitCode(facts_);
        Report(ResultLine(facts_, verdict));
        p_.host.CloseLog(verdict.exitCode != kExitSuccess);
        return verdict.exitCode;
    }

    uint32_t LockNotTaken(LockState lock) {
        facts_.lockTaken = false;
        facts_.lockRefused = lock != LockState::HeldElsewhere;
        // The /log file may be the log of the run that holds the lock: appended
        // to, never emptied.
        p_.host.OpenLog(line_.logPath, /*append=*/true);
        // Access denied means someone made an object of the lock's name; that is
        // no installation running, and fleet tools must not wait for it.
        Report(lock == LockState::HeldElsewhere
                   ? u"Another installation is running: the installer's lock is held."
               : lock == LockState::AccessDenied
                   ? u"The installer's lock cannot be opened: access is denied to an object "
                     u"of its name that this run did not make."
                   : u"The installer's lock cannot be taken.");
        return Finish();
    }

    // The run's work; true when the end state decides the exit code.
    bool Work() {
        request_ = MakeInstallRequest(catalogue_, static_cast<int>(line_.model), line_.port,
                                      line_.makeDefault ? 1 : 0);
        // A mark an earlier run left ends here: a package whose install fails before
        // it marks anything, and a removed model, have nothing to roll back.
        if (Installs() || line_.mode == RunMode::Uninstall) {
            p_.marks.Clear(facts_.model);
        }
        if (line_.mode == RunMode::Rollback) {
            facts_.rollbackMarked = RollBackInstall(
                p_.marks, facts_.model,
                [this] {
                    facts_.checksPassed = Check(CheckScope::Removal);
                    if (facts_.checksPassed) {
                        Uninstall();
                    }
                },
                Reporter());
            return true;
        }
        // The USB detection asks no spooler, so it comes first.
        if (Installs() && line_.portAuto && !FindUsbPort()) {
            return false;
        }
        // The check starts a stopped spooler, so it comes before anything the
        // spooler is asked; a removal checks only what would make it fail.
        facts_.checksPassed = Check(line_.mode == RunMode::Check       ? CheckScope::Report
                                    : line_.mode == RunMode::Uninstall ? CheckScope::Removal
                                                                       : CheckScope::Install);
        if (line_.mode == RunMode::Check) {
            ReportInstalledState(p_.spooler, facts_.model, Reporter());
            return false;
        }
        if (!facts_.checksPassed) {
            return false;
        }
        if (line_.mode == RunMode::Uninstall) {
            Uninstall();
            return true;
        }
        if (!line_.portAuto && !FindListedPort()) {
            return false;
        }
        request_.model.portName = facts_.port;
        Install();
        return true;
    }

    bool Check(CheckScope scope) {
        CheckPlatform check{p_.spooler, p_.services, p_.clock, p_.shell, p_.facts, p_.checks};
        return ReportChecks(check, *texts_, request_, scope, Reporter());
    }

    void Uninstall() {
        const Removal removal =
            UninstallModel(p_.spooler, services_, p_.clock, ReportsVistaOrLater(p_.facts),
                           facts_.model, Reporter());
        if (!removal.listsRead) {
            Report(u"The spooler's lists cannot be read: nothing was removed.");
        }
        facts_.nothingToRemove = removal.listsRead && !removal.found;
        facts_.jobsWaiting = removal.jobsWaiting;
    }

    // Removing an earlier installation deletes every queue on the model's driver,
    // and a queue deleted with jobs stays until they have printed.
    // Jobs on the queues this run may delete: every queue on the model's driver,
    // or for /repair over an updated driver only the model's own.
    bool JobsInTheWay(bool modelQueueOnly = false) {
        const WaitingJobs jobs = QueuesHoldingJobs(p_.spooler);
        facts_.jobsUnread = !jobs.listRead;
        facts_.jobsWaiting = JobsOnDriver(jobs, facts_.model, /*ignoreCase=*/false);
        if (modelQueueOnly) {
            std::erase_if(facts_.jobsWaiting, [this](const std::u16string& name) {
                return !SameNameIgnoringCase(name, request_.model.queueName);
            });
        }
        return facts_.jobsUnread || !facts_.jobsWaiting.empty();
    }

    bool FindUsbPort() {
        facts_.portAuto = true;
        facts_.usbPorts = DetectUsbPrinterPorts(p_.devices);
        if (facts_.usbPorts.size() != 1) {
            return false;
        }
        facts_.port = facts_.usbPorts.front();
        Report(u"/port auto: the USB printer's port is " + facts_.port);
        return true;
    }

    bool FindListedPort() {
        facts_.spoolerPorts = ReadPortNames(p_.spooler);
        facts_.port = FindPort(line_.port, facts_.spoolerPorts);
        if (facts_.port.empty()) {
            facts_.portListed = false;
            facts_.requestedPort = line_.port;
            return false;
        }
        return true;
    }

    void Install() {
        LookAtSpooler();
        // Only /repair and a fresh install delete queues: jobs matter to those alone.
        if (line_.repair && JobsInTheWay(/*modelQueueOnly=*/true)) {
            return;
        }
        if (!MarkCreation(p_.marks, facts_.model, facts_.end.queueExists, Reporter())) {
            facts_.workflowSucceeded = false;
            return;
        }
        if (!line_.repair && InstalledAndWhole(facts_)) {
            // A logon script runs this at every logon: the printer and its jobs stay.
            Report(facts_.model + u" is already installed on " + facts_.port +
                   u" with this package's files; nothing is changed (/repair makes its printer "
                   u"anew).");
            if (line_.makeDefault && !facts_.end.queueIsDefault) {
                p_.spooler.SetDefaultPrinterW(request_.model.queueName.c_str());
            }
            return;
        }
        if (facts_.end.driverInstalled) {
            InstallInPlace();
            return;
        }
        InstallAfresh();
    }

    InstallPlatform Platform() {
        return {p_.spooler,  services_, p_.shell, p_.files, p_.facts, p_.clock,
                p_.messages, *texts_,   log_,     ui_,      p_.checks};
    }

    // The workflow, which first removes every queue on the model's driver and the driver.
    void InstallAfresh() {
        if (JobsInTheWay()) {
            return;
        }
        InstallPlatform platform = Platform();
        const InstallOutcome outcome = InstallQuietly(platform, request_, Reporter());
        facts_.workflowSucceeded =
            outcome == InstallOutcome::QueueCreated || outcome == InstallOutcome::QueueReported;
    }

    void Refused(std::u16string what, uint32_t error) {
        facts_.workflowSucceeded = false;
        facts_.refused = std::move(what) + u" (error " + DecimalText(error) + u")";
    }

    // Over an installed driver of the model's name: a newer package, another port
    // or a queue renamed by the shop keep every queue on the driver with all its
    // settings, and the default printer. Only /repair deletes, and only the
    // queue of the model's name.
    void InstallInPlace() {
        const EndState before = facts_.end;
        const std::u16string& queue = request_.model.queueName;
        if (!before.driverFilesWhole || line_.repair) {
            if (!before.driverFilesWhole) {
                Report(u"The driver \"" + facts_.model + u"\" is installed with other files (" +
                       before.driverFilesProblem + u"); it is updated in place.");
            }
            InstallPlatform platform = Platform();
            uint32_t refusal = 0;
            const InstallOutcome outcome = UpdateInstalledDriver(platform, request_, refusal);
            if (outcome == InstallOutcome::DriverNotUpdated && line_.repair) {
                RepairAfresh(refusal);
                return;
            }
            if (outcome != InstallOutcome::DriverUpdated) {
                facts_.workflowSucceeded = false;
                if (refusal != 0) {
                    Refused(u"Windows refused to update the driver; nothing else was changed",
                            refusal);
                }
                return;
            }
        }
        if (line_.repair || !before.queueExists) {
            if (before.queueExists) {
                Report(u"/repair deletes the printer \"" + queue +
                       u"\" and makes it anew; printers of other names stay as they are.");
                DeletePrinterQueues(p_.spooler, p_.clock, {queue});
            }
            const QueueCreation created = CreatePrinterQueue(p_.spooler, p_.shell, request_.model);
            if (!created.created) {
                Refused(u"Windows refused to create the printer", created.error);
            }
            return;
        }
        if (!SameNameIgnoringCase(before.queuePort, facts_.port)) {
            Report(u"The printer \"" + queue + u"\" moves from port " + before.queuePort + u" to " +
                   facts_.port + u"; its other settings stay.");
            if (const uint32_t error = SetPrinterPort(p_.spooler, queue, facts_.port)) {
                Refused(u"Windows refused to move the printer to port " + facts_.port, error);
                return;
            }
        }
        if (line_.makeDefault && !before.queueIsDefault) {
            p_.spooler.SetDefaultPrinterW(queue.c_str());
        }
    }

    // /repair over a driver Windows would not update: the model's queue and the
    // driver go and the workflow installs afresh, unless other queues use the
    // driver, which then stays and the run fails.
    void RepairAfresh(uint32_t refusal) {
        std::vector<SpoolerEntry> printers;
        EnumInstalledPrinters(p_.spooler, ReportsVistaOrLater(p_.facts), printers);
        std::u16string others;
        for (const std::u16string& name : QueuesOnDriver(printers, facts_.model)) {
            if (!SameNameIgnoringCase(name, request_.model.queueName)) {
                others += (others.empty() ? u"\"" : u", \"") + name + u"\"";
            }
        }
        if (!others.empty()) {
            Refused(
                u"Windows refused to update the driver, which stays since other printers "
                u"use it (" +
                    others + u"); nothing else was changed",
                refusal);
            return;
        }
        Report(u"Windows refused to update the driver (error " + DecimalText(refusal) +
               u"); /repair deletes the printer \"" + request_.model.queueName +
               u"\" and the driver and installs afresh.");
        InstallAfresh();
    }

    // What the spooler holds for the model, its default printer and, after an
    // install, the driver's files.
    void LookAtSpooler() {
        facts_.end = ReadEndState(p_.spooler, facts_.model);
        facts_.end.queueIsDefault =
            facts_.end.queueExists &&
            SameNameIgnoringCase(DefaultPrinterName(p_.spooler), facts_.model);
        if (Installs() && facts_.end.driverInstalled) {
            facts_.end.driverFilesProblem =
                CompareDriverFiles(p_.spooler, p_.fingerprints, facts_.model,
                                   DriverDirectoryItems(request_.model, request_.dataFile,
                                                        DetectInstallArchitecture(p_.facts)));
            facts_.end.driverFilesWhole = facts_.end.driverFilesProblem.empty();
        }
    }

    QuietPlatform& p_;
    const ModelCatalogue& catalogue_;
    CommandLine line_;
    RunFacts facts_;
    InstallRequest request_;
    const TextTable* texts_ = nullptr;
    JobsGuardedServices services_;  // no spooler restart while jobs wait
    QuietUi ui_{[this](std::u16string_view text) { Report(text); }};
    QuietInstallLog log_{p_.host};
};

}  // namespace

uint32_t RunQuietly(QuietPlatform& platform, const ModelCatalogue& catalogue,
                    std::u16string_view arguments) {
    return Run(platform, catalogue).Execute(arguments);
}

void MemoryQuietHost::OpenLog(std::u16string_view path, bool append) {
    logPath = std::u16string(path);
    appended = append;
}

void MemoryQuietHost::Report(std::u16string_view line) {
    reported.emplace_back(line);
    log.emplace_back(line);
}

}  // namespace tde
