// One quiet run, from its command line to its exit code. It stays whole: each
// step of the Run class adds to the one set of facts that the exit code is
// judged from at the end. The port is resolved in run_port.cpp, and waiting
// jobs are read in waiting_jobs.cpp.
#include "quiet/run.h"
#include "quiet/waiting_jobs.h"

#include "base/collation.h"
#include "install/staging.h"
#include "quiet/run_port.h"

namespace tde {

namespace {

// The folder of a /log file, made where it is missing (each missing folder with
// the staging folders' security: only Administrators and SYSTEM may write) and
// judged as the staging folder is: what others can change, they could swap for
// a link while SYSTEM writes. Empty when the log may go there; else why not.
std::u16string PrepareLogFolder(StagingFiles& files, std::u16string_view fullPath) {
    const size_t slash = fullPath.find_last_of(u"\\/");
    if (slash == std::u16string_view::npos) {
        return {};  // no folder to judge: the open itself fails
    }
    std::u16string folder(fullPath.substr(0, slash));
    if (!folder.empty() && folder.back() == u':') {
        folder += u'\\';  // the drive's root, not its current folder
    }
    FolderTrust trust = files.CheckFolder(folder);
    if (trust == FolderTrust::Absent) {
        if (CreateDirectoryPath(files, files.ToNarrow(folder)) != 1) {
            return u"The log folder " + folder + u" cannot be made (error " +
                   DecimalText(files.LastError()) + u")";
        }
        trust = files.CheckFolder(folder);  // one slipped in meanwhile is caught here
    }
    if (trust == FolderTrust::Trusted) {
        return {};
    }
    return u"The log folder " + folder + u" is refused: " +
           std::u16string(trust == FolderTrust::Absent ? u"it cannot be found after it was made"
                                                       : FolderTrustReason(trust));
}

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
            // A /log that can be read off the line gets this run's lines too.
            OpenLog(LogPathOf(arguments), /*append=*/true);
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
            OpenLog(line_.logPath, /*append=*/true);
            return Finish();
        }
        // A check changes nothing, so it needs no lock and may run beside an installation.
        if (line_.mode != RunMode::Check) {
            const LockState lock = TakeInstallerLock(p_.lock);
            if (lock != LockState::Taken) {
                return LockNotTaken(lock);
            }
        }
        OpenLog(line_.logPath, false);
        texts_ = &p_.host.Texts();
        return Finish(Work());
    }

  private:
    bool Installs() const { return line_.mode == RunMode::Install; }
    bool HasPort() const { return line_.portAuto || !line_.port.empty(); }

    void OpenLog(std::u16string_view path, bool append) {
        const std::u16string why =
            path.empty() ? std::u16string() : PrepareLogFolder(p_.files, p_.host.FullPath(path));
        if (why.empty()) {
            p_.host.OpenLog(path, append);
        } else {
            p_.host.RefuseLog(why);
        }
    }
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
        OpenLog(line_.logPath, /*append=*/true);
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
        // The check starts a stopped spooler, so it comes before anything the
        // spooler is asked; a removal checks only what would make it fail.
        facts_.checksPassed = Check(line_.mode == RunMode::Check       ? CheckScope::Report
                                    : line_.mode == RunMode::Uninstall ? CheckScope::Removal
                                                                       : CheckScope::Install);
        if (line_.mode == RunMode::Check) {
            facts_.end = ReportInstalledState(p_.spooler, facts_.model, Reporter());
            // Over a spooler that cannot be read, only whether the printer answers.
            if (HasPort() && facts_.end.listsRead) {
                ResolveRunPort(p_, line_, /*make=*/false, facts_, Reporter());
            } else if (line_.portTcp) {
                ReportPrinterAnswer(p_.probe, line_.tcp, Reporter());
            }
            return false;
        }
        if (!facts_.checksPassed) {
            return false;
        }
        if (line_.mode == RunMode::Uninstall) {
            Uninstall();
            return true;
        }
        if (!ResolveRunPort(p_, line_, /*make=*/true, facts_, Reporter())) {
            return false;
        }
        request_.model.portName = facts_.port;
        Install();
        return true;
    }

    bool Check(CheckScope scope) {
        CheckPlatform check{p_.spooler, p_.services, p_.clock, p_.shell, p_.facts, p_.checks};
        return ReportChecks(check, *texts_, request_, scope, Reporter(), &facts_.spoolerStopped);
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

    // A queue deleted with jobs stays until they have printed. Jobs on the queues this run may
    // delete: every queue on the model's driver, or for /repair over an updated driver only the
    // model's own.
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

void MemoryQuietHost::RefuseLog(std::u16string_view why) {
    logPath = u"";
    logRefused = why;
    Report(std::u16string(why) + u"; the run logs to the per-run log instead.");
}

std::u16string MemoryQuietHost::FullPath(std::u16string_view path) {
    const bool full = path.size() > 1 && (path[1] == u':' || path[0] == u'\\');
    return full ? std::u16string(path) : u"C:\\Users\\setup\\" + std::u16string(path);
}

void MemoryQuietHost::Report(std::u16string_view line) {
    reported.emplace_back(line);
    log.emplace_back(line);
}

}  // namespace tde
