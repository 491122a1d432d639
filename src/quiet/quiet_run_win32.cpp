#include "quiet/quiet_run.h"

#include "quiet/command_line.h"
#include "quiet/unattended.h"
#include "archive/archive.h"
#include "install/driver.h"
#include "log/log.h"
#include "install/staging_win32.h"
#include "log/log_file_win32.h"
#include "ports/ports.h"
#include "ports/usb_ports.h"
#include "spooler/spooler.h"
#include "system/system.h"
#include "text/text.h"

#include <memory>
#include <string>
#include <vector>

namespace tde {

namespace {

constexpr wchar_t kProgramTitle[] = L"TarnDovEzuvar";

std::u16string U16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}
std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::string Ansi(std::u16string_view text) {
    const std::wstring wide = Wide(text);
    const int length = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out.data(), needed, nullptr, nullptr);
    return out;
}

std::u16string FullPath(std::u16string_view path) {
    const std::wstring wide = Wide(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return std::u16string(path);
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    full.resize(length < needed ? length : 0);
    return full.empty() ? std::u16string(path) : U16(full);
}

// Where the run's lines go: the file of /log, kept, or the per-run log, which is
// kept only when the run fails.
class RunLog {
  public:
    // `append`: the file keeps what it holds, for runs that end before any work.
    RunLog(QuietConsole& console, std::u16string_view logPath, bool append = false)
        : console_(console) {
        if (logPath.empty()) {
            return;
        }
        const std::u16string requested = FullPath(logPath);
        // Opened once, by the name given; every line goes through that handle.
        std::string ansi = Ansi(requested);
        const RequestedLogOpen opened = ansi.empty()
                                            ? RequestedLogOpen::Failed
                                            : OpenRequestedLogFile(Wide(requested), ansi, append);
        switch (opened) {
            case RequestedLogOpen::Opened:
                requested_ = requested;
                path_ = std::move(ansi);
                return;
            case RequestedLogOpen::Link:
                FallBack(u"The log path " + requested + u" is a link and is not used");
                return;
            case RequestedLogOpen::Elsewhere:
                FallBack(u"The log path " + requested +
                         u" leads elsewhere (a link in its folders) and is not used");
                return;
            case RequestedLogOpen::Failed:
                break;
        }
        FallBack(u"The log file " + requested + u" cannot be written");
    }

    bool Requested() const { return !requested_.empty(); }

    // A line of the run: to its log and to standard error alike.
    void Report(std::u16string_view line) {
        Write(line);
        console_.Err(line);
    }

    // The result line; the per-run log is kept when the run failed or stands in
    // for a /log file. Answers the exit code.
    int Finish(const RunFacts& facts, const RunVerdict& verdict) {
        Report(ResultLine(facts, verdict));
        if (verdict.exitCode != kExitSuccess || fellBack_) {
            KeepForFailure();
        }
        return static_cast<int>(verdict.exitCode);
    }

    void Write(std::u16string_view line) {
        const std::string& path = Requested() ? path_ : GetLogFilePath();
        const std::wstring wide = Wide(line);
        LogFormattedWide(path, L"%s", wide.c_str());
    }

    // After a failed run without /log: keep the per-run log and say where it is.
    void KeepForFailure() {
        if (Requested()) {
            return;
        }
        const std::string& path = GetLogFilePath();
        if (path.empty()) {
            return;
        }
        KeepLogFileAtExit();
        const int needed =
            MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                            needed);
        console_.Err(u"The log is kept at " + U16(wide));
    }

  private:
    // The run still gets a log: the per-run one, kept.
    void FallBack(std::u16string_view why) {
        fellBack_ = true;
        Report(std::u16string(why) + u"; the run logs to the per-run log instead.");
    }

    QuietConsole& console_;
    std::u16string requested_;
    std::string path_;
    bool fellBack_ = false;
};

// The workflow's log lines go to the run's log.
class QuietInstallLog final : public InstallLog {
  public:
    explicit QuietInstallLog(RunLog& log) : log_(log) {}
    void Write(std::u16string_view line) override { log_.Write(line); }

  private:
    RunLog& log_;
};

// What the spooler holds for the model at the end of a run, the default printer included.
EndState LookAtSpooler(Spooler& spooler, std::u16string_view model) {
    EndState end = ReadEndState(spooler, model);
    if (end.queueExists) {
        // Resolved at run time from the system folder, like every spooler function, so
        // the exe imports nothing of winspool.drv.
        using GetDefaultPrinterFn = BOOL(WINAPI*)(LPWSTR, LPDWORD);
        auto module = static_cast<HMODULE>(LoadSystemLibrary(L"winspool.drv"));
        auto getDefault = module ? reinterpret_cast<GetDefaultPrinterFn>(reinterpret_cast<void*>(
                                       GetProcAddress(module, "GetDefaultPrinterW")))
                                 : nullptr;
        wchar_t name[512] = {};
        DWORD size = 512;
        end.queueIsDefault =
            getDefault && getDefault(name, &size) && SameNameIgnoringCase(U16(name), model);
    }
    return end;
}

// The same language as the dialog would choose, for the tips and system messages.
void LoadTexts(HINSTANCE instance) {
    CUiResources::SetModuleInstance(instance);
    if (RegisterEmbeddedArchive()) {
        GetTextTable().LoadResourceIndex(kResourceIndexFile);
    }
    const LanguageChoice language =
        ChooseLanguage(GetUserDefaultUILanguage(), GetSystemDefaultUILanguage());
    GetTextTable().LoadLanguageFile(language.file);
    if (language.messageLanguageId == kLanguageChinesePrc) {
        SetMessageLanguageId(language.messageLanguageId);
    }
}

void ReleaseTexts() {
    DestroyTextTable();
    ReleaseResources();
}

}  // namespace

int RunCommandLine(HINSTANCE instance, const wchar_t* arguments) {
    QuietConsole console;
    ModelCatalogue catalogue;
    BuildModelCatalogue(catalogue);
    const ParsedCommandLine parsed = ParseCommandLine(
        std::u16string_view(reinterpret_cast<const char16_t*>(arguments)), catalogue.modelNames);
    if (parsed.valid && parsed.line.mode == RunMode::Usage) {
        // No window, ever: under SYSTEM nobody could close it.
        if (console.HasOutput()) {
            console.Out(UsageText(catalogue.modelNames));
        }
        return kExitSuccess;
    }
    RunFacts facts;
    if (!parsed.valid) {
        facts.commandLineValid = false;
        RunLog log(console, u"");
        log.Report(parsed.error);
        log.Report(u"TarnDovEzuvar.exe /? shows the usage.");
        return log.Finish(facts, DecideExitCode(facts));
    }
    const CommandLine& line = parsed.line;
    facts.mode = line.mode;
    facts.model = catalogue.modelNames[line.model].displayName;
    facts.makeDefault = line.makeDefault;
    facts.runsAsLocalSystem = RunsAsLocalSystem();
    if (line.mode == RunMode::Install && line.makeDefault && facts.runsAsLocalSystem) {
        RunLog log(console, line.logPath, /*append=*/true);
        return log.Finish(facts, DecideExitCode(facts));
    }

    // A check changes nothing, so it needs no lock and may run beside an installation.
    Win32InstallerLock lock;  // held until the run returns
    const LockState lockState =
        line.mode == RunMode::Check ? LockState::Taken : TakeInstallerLock(lock);
    if (lockState != LockState::Taken) {
        facts.lockTaken = false;
        facts.lockRefused = lockState != LockState::HeldElsewhere;
        // The /log file may be the log of the run that holds the lock: appended
        // to, never emptied.
        RunLog log(console, line.logPath, /*append=*/true);
        // Access denied means someone made an object of the lock's name; that is
        // no installation running, and fleet tools must not wait for it.
        log.Report(lockState == LockState::HeldElsewhere
                       ? u"Another installation is running: the installer's lock is held."
                   : lockState == LockState::AccessDenied
                       ? u"The installer's lock cannot be opened: access is denied to an object "
                         u"of its name that this run did not make."
                       : u"The installer's lock cannot be taken.");
        return log.Finish(facts, DecideExitCode(facts));
    }

    RunLog log(console, line.logPath);
    LoadTexts(instance);
    const RunReporter report = [&](std::u16string_view text) { log.Report(text); };
    auto finish = [&](const RunVerdict& verdict) {
        const int code = log.Finish(facts, verdict);
        ReleaseTexts();
        return code;
    };

    // A mark an earlier run left ends here: a package whose install fails before
    // it marks anything, and a removed model, have nothing to roll back.
    RegistryCreationMarks marks;
    if (line.mode == RunMode::Install || line.mode == RunMode::Uninstall) {
        marks.Clear(facts.model);
    }
    std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
    if (line.mode == RunMode::Install && !line.portAuto) {
        facts.spoolerPorts = ReadPortNames(*spooler);
        facts.port = FindPort(line.port, facts.spoolerPorts);
        if (facts.port.empty()) {
            facts.portListed = false;
            facts.requestedPort = line.port;
            return finish(DecideExitCode(facts));
        }
    }
    if (line.mode == RunMode::Install && line.portAuto) {
        facts.portAuto = true;
        facts.usbPorts = DetectUsbPrinterPorts(*CreateWin32DeviceSetup());
        if (facts.usbPorts.size() != 1) {
            return finish(DecideExitCode(facts));
        }
        facts.port = facts.usbPorts.front();
        report(u"/port auto: the USB printer's port is " + facts.port);
    }

    std::unique_ptr<ServiceControl> services = CreateWin32ServiceControl();
    std::unique_ptr<Clock> clock = CreateWin32Clock();
    std::unique_ptr<PreflightQueries> checks = CreateWin32PreflightQueries();
    Win32SystemFacts systemFacts;
    QuietShell shell(report);
    const InstallRequest request = MakeInstallRequest(catalogue, static_cast<int>(line.model),
                                                      facts.port, line.makeDefault ? 1 : 0);
    CheckPlatform check{*spooler, *services, *clock, shell, systemFacts, *checks};
    const std::vector<std::u16string> driverItems = DriverDirectoryItems(
        request.model, request.dataFile, DetectInstallArchitecture(systemFacts));
    Win32Fingerprints fingerprints;
    auto lookAtSpooler = [&] {
        facts.end = LookAtSpooler(*spooler, facts.model);
        if (line.mode == RunMode::Install && facts.end.driverInstalled) {
            facts.end.driverFilesProblem =
                CompareDriverFiles(*spooler, fingerprints, facts.model, driverItems);
            facts.end.driverFilesWhole = facts.end.driverFilesProblem.empty();
        }
    };

    if (line.mode == RunMode::Rollback) {
        facts.rollbackMarked = RollBackInstall(
            marks, facts.model,
            [&] {
                facts.checksPassed =
                    ReportChecks(check, GetTextTable(), request, CheckScope::Removal, report);
                if (facts.checksPassed &&
                    !UninstallModel(*spooler, *services, *clock,
                                    ReportsVistaOrLater(systemFacts.QueryReportedVersion()),
                                    facts.model, report)) {
                    report(u"The spooler's lists cannot be read: nothing was removed.");
                }
            },
            report);
        lookAtSpooler();
        return finish(DecideExitCode(facts));
    }
    if (line.mode == RunMode::Check) {
        facts.checksPassed =
            ReportChecks(check, GetTextTable(), request, CheckScope::Report, report);
        ReportInstalledState(*spooler, facts.model, report);
        return finish(DecideExitCode(facts));
    }
    if (line.mode == RunMode::Install) {
        facts.checksPassed =
            ReportChecks(check, GetTextTable(), request, CheckScope::Install, report);
        if (!facts.checksPassed) {
            return finish(DecideExitCode(facts));
        }
        lookAtSpooler();
        if (!MarkCreation(marks, facts.model, facts.end.queueExists, report)) {
            facts.workflowSucceeded = false;
            return finish(DecideExitCode(facts));
        }
        if (!line.repair && InstalledAndWhole(facts)) {
            // A logon script runs this at every logon: the printer and its jobs stay.
            report(facts.model + u" is already installed on " + facts.port +
                   u" with this package's files; nothing is changed (/repair installs afresh).");
            if (line.makeDefault && !facts.end.queueIsDefault) {
                spooler->SetDefaultPrinterW(request.model.queueName.c_str());
            }
        } else {
            QuietUi ui(report);
            QuietInstallLog installLog(log);
            Win32SystemMessages messages;
            Win32StagingFiles files;
            InstallPlatform platform{*spooler,    *services, shell,    files,
                                     systemFacts, *clock,    messages, GetTextTable(),
                                     installLog,  ui,        *checks};
            const InstallOutcome outcome = InstallQuietly(platform, request, report);
            facts.workflowSucceeded =
                outcome == InstallOutcome::QueueCreated || outcome == InstallOutcome::QueueReported;
        }
    }
    if (line.mode == RunMode::Uninstall) {
        // Only what would make a removal fail: fleets remove from damaged machines too.
        facts.checksPassed =
            ReportChecks(check, GetTextTable(), request, CheckScope::Removal, report);
        if (!facts.checksPassed) {
            return finish(DecideExitCode(facts));
        }
        if (!UninstallModel(*spooler, *services, *clock,
                            ReportsVistaOrLater(systemFacts.QueryReportedVersion()), facts.model,
                            report)) {
            report(u"The spooler's lists cannot be read: nothing was removed.");
        }
    }
    lookAtSpooler();
    return finish(DecideExitCode(facts));
}

}  // namespace tde
