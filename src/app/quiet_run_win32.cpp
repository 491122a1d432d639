#include "app/quiet_run.h"

#include "app/command_line.h"
#include "app/unattended.h"
#include "archive/archive.h"
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

// True when something at path is a link of any kind: a reparse point, or a file
// with other names. Decided on the name itself, never on a link's target.
bool IsLinkAt(const std::wstring& path) {
    HANDLE file = CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool linked =
        GetFileInformationByHandle(file, &info) &&
        ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1);
    CloseHandle(file);
    return linked;
}

// Where the run's lines go: the file of /log, kept, or the per-run log, which is
// kept only when the run fails.
class RunLog {
  public:
    RunLog(QuietConsole& console, std::u16string_view logPath) : console_(console) {
        if (logPath.empty()) {
            return;
        }
        requested_ = FullPath(logPath);
        const std::wstring wide = Wide(requested_);
        if (IsLinkAt(wide)) {
            console_.Err(u"The log path " + requested_ +
                         u" is a link and is not used; the run goes on without that log.");
            return;
        }
        std::string ansi = Ansi(requested_);
        if (ansi.empty() || !CreateLogFile(ansi)) {
            console_.Err(u"The log file " + requested_ +
                         u" cannot be written; the run goes on without that log.");
            return;
        }
        path_ = std::move(ansi);
    }

    bool Requested() const { return !requested_.empty(); }

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
    QuietConsole& console_;
    std::u16string requested_;
    std::string path_;  // empty when the /log file was refused: nothing is written
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
            getDefault && getDefault(name, &size) && CompareNamesIgnoreCase(U16(name), model) == 0;
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
    RunFacts facts;
    if (parsed.valid && parsed.line.mode == RunMode::Usage) {
        const std::u16string usage = UsageText(catalogue.modelNames);
        if (console.HasOutput()) {
            console.Out(usage);
        } else {
            MessageBoxW(nullptr, Wide(usage).c_str(), kProgramTitle, MB_ICONINFORMATION | MB_OK);
        }
        return kExitSuccess;
    }
    if (!parsed.valid) {
        facts.commandLineValid = false;
        console.Err(parsed.error);
        console.Err(u"TarnDovEzuvar.exe /? shows the usage.");
        const RunVerdict verdict = DecideExitCode(facts);
        console.Err(ResultLine(facts, verdict));
        return static_cast<int>(verdict.exitCode);
    }
    const CommandLine& line = parsed.line;
    facts.mode = line.mode;
    facts.model = catalogue.modelNames[line.model].displayName;
    facts.makeDefault = line.makeDefault;

    std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
    if (line.mode == RunMode::Install && !line.portAuto) {
        facts.port = FindPort(line.port, ReadPortNames(*spooler));
        if (facts.port.empty()) {
            facts.commandLineValid = false;
            console.Err(u"Unknown port: " + line.port + u"; the spooler does not list it.");
            const RunVerdict verdict = DecideExitCode(facts);
            console.Err(ResultLine(facts, verdict));
            return static_cast<int>(verdict.exitCode);
        }
    }

    // A check changes nothing, so it needs no lock and may run beside an installation.
    HANDLE lock = nullptr;
    const LockState lockState =
        line.mode == RunMode::Check ? LockState::Taken : TakeInstallerLock(&lock);
    if (lockState != LockState::Taken) {
        facts.lockTaken = lockState != LockState::HeldElsewhere;
        console.Err(lockState == LockState::HeldElsewhere
                        ? u"Another installation is running: the installer's lock is held."
                        : u"The installer's lock cannot be taken.");
        RunVerdict verdict = DecideExitCode(facts);
        if (lockState == LockState::Failed) {
            verdict = {kExitInstallFailure, u"the installer's lock cannot be taken"};
        }
        console.Err(ResultLine(facts, verdict));
        return static_cast<int>(verdict.exitCode);
    }

    RunLog log(console, line.logPath);
    LoadTexts(instance);
    // Lines of the run go to its log and to standard error alike.
    const RunReporter report = [&](std::u16string_view text) {
        log.Write(text);
        console.Err(text);
    };
    if (line.mode == RunMode::Install && line.portAuto) {
        const UsbPortList found = DetectUsbPrinterPorts(*CreateWin32DeviceSetup());
        if (found.empty()) {
            facts.portFound = false;
            report(u"/port auto: no USB printer was found");
        } else {
            facts.port = found.front();
            report(u"/port auto: the USB printer's port is " + facts.port);
        }
    }
    std::unique_ptr<ServiceControl> services = CreateWin32ServiceControl();
    std::unique_ptr<Clock> clock = CreateWin32Clock();
    std::unique_ptr<PreflightQueries> checks = CreateWin32PreflightQueries();
    Win32SystemFacts systemFacts;
    QuietShell shell(report);
    const InstallRequest request = MakeInstallRequest(catalogue, static_cast<int>(line.model),
                                                      facts.port, line.makeDefault ? 1 : 0);
    CheckPlatform check{*spooler, *services, *clock, shell, systemFacts, *checks};
    if (line.mode == RunMode::Check) {
        facts.checksPassed =
            ReportChecks(check, GetTextTable(), request, CheckScope::Report, report);
        ReportInstalledState(*spooler, facts.model, report);
    }
    if (line.mode == RunMode::Install && facts.portFound) {
        QuietUi ui(report);
        QuietInstallLog installLog(log);
        Win32SystemMessages messages;
        Win32StagingFiles files;
        InstallPlatform platform{*spooler, *services,      shell,      files, systemFacts, *clock,
                                 messages, GetTextTable(), installLog, ui,    *checks};
        facts.checksPassed =
            InstallQuietly(platform, request, report) != InstallOutcome::ChecksFailed;
    }
    if (line.mode == RunMode::Uninstall) {
        // Only what would make a removal fail: fleets remove from damaged machines too.
        facts.checksPassed =
            ReportChecks(check, GetTextTable(), request, CheckScope::Removal, report);
        if (facts.checksPassed) {
            UninstallModel(*spooler, *services, *clock,
                           ReportsVistaOrLater(systemFacts.QueryReportedVersion()), facts.model,
                           report);
        }
    }
    if (line.mode != RunMode::Check) {
        facts.end = LookAtSpooler(*spooler, facts.model);
    }
    const RunVerdict verdict = DecideExitCode(facts);
    const std::u16string result = ResultLine(facts, verdict);
    report(result);
    if (verdict.exitCode != kExitSuccess) {
        log.KeepForFailure();
    }
    ReleaseTexts();
    if (lock != nullptr) {
        CloseHandle(lock);
    }
    return static_cast<int>(verdict.exitCode);
}

}  // namespace tde
