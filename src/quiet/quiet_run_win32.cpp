#include "quiet/quiet_run.h"

#include "base/win32.h"
#include "install/catalogue.h"
#include "archive/archive.h"
#include "install/workflow_win32.h"
#include "log/log.h"
#include "log/log_file_win32.h"
#include "ports/device_setup.h"
#include "ports/reachability.h"
#include "ports/tcp_port.h"
#include "quiet/run.h"
#include "text/text.h"

#include <memory>
#include <string>

namespace tde {

namespace {

std::u16string FullPath(std::u16string_view path) {
    const std::wstring wide = Wide(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return std::u16string(path);
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    full.resize(length < needed ? length : 0);
    return full.empty() ? std::u16string(path) : FromWide(full);
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

// The process's side of a quiet run: its console, its log (the file of /log,
// kept, or the per-run log, kept only when the run fails) and its texts.
class Win32QuietHost final : public QuietHost {
  public:
    explicit Win32QuietHost(HINSTANCE instance) : instance_(instance) {}
    ~Win32QuietHost() override {
        if (textsLoaded_) {
            ReleaseTexts();
        }
    }
    Win32QuietHost(const Win32QuietHost&) = delete;
    Win32QuietHost& operator=(const Win32QuietHost&) = delete;

    bool HasOutput() override { return console_.HasOutput(); }
    void Out(std::u16string_view text) override { console_.Out(text); }

    void OpenLog(std::u16string_view logPath, bool append) override {
        if (logPath.empty()) {
            return;
        }
        const std::u16string requested = FullPath(logPath);
        // Opened once, by the name given; every line goes through that handle.
        std::string ansi = ToAnsi(requested);
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

    void RefuseLog(std::u16string_view why) override { FallBack(why); }

    std::u16string FullPath(std::u16string_view path) override { return tde::FullPath(path); }

    void Report(std::u16string_view line) override {
        Write(line);
        console_.Err(line);
    }

    void Write(std::u16string_view line) override {
        const std::string& path = Requested() ? path_ : GetLogFilePath();
        const std::wstring wide = Wide(line);
        LogFormattedWide(path, L"%s", wide.c_str());
    }

    // The per-run log is kept when the run failed or stands in for a /log file.
    void CloseLog(bool failed) override {
        if (!failed && !fellBack_) {
            return;
        }
        if (Requested()) {
            return;
        }
        const std::string& path = GetLogFilePath();
        if (path.empty()) {
            return;
        }
        KeepLogFileAtExit();
        console_.Err(u"The log is kept at " + FromAnsi(path));
    }

    bool RunsAsLocalSystem() override { return tde::RunsAsLocalSystem(); }

    const TextTable& Texts() override {
        if (!textsLoaded_) {
            LoadTexts(instance_);
            textsLoaded_ = true;
        }
        return GetTextTable();
    }

  private:
    bool Requested() const { return !requested_.empty(); }

    // The run still gets a log: the per-run one, kept.
    void FallBack(std::u16string_view why) {
        fellBack_ = true;
        Report(std::u16string(why) + u"; the run logs to the per-run log instead.");
    }

    HINSTANCE instance_;
    QuietConsole console_;
    std::u16string requested_;
    std::string path_;
    bool fellBack_ = false;
    bool textsLoaded_ = false;
};

}  // namespace

int RunCommandLine(HINSTANCE instance, const wchar_t* arguments) {
    ModelCatalogue catalogue;
    BuildModelCatalogue(catalogue);
    Win32QuietHost host(instance);
    Win32Machine machine;
    Win32InstallerLock lock;  // held until the run returns
    std::unique_ptr<DeviceSetup> devices = CreateWin32DeviceSetup();
    Win32Fingerprints fingerprints;
    RegistryCreationMarks marks;
    QuietShell shell([&](std::u16string_view line) { host.Report(line); });
    std::unique_ptr<XcvChannel> xcv = CreateWin32XcvChannel(*machine.spooler);
    std::unique_ptr<PrinterProbe> probe = CreateWin32PrinterProbe();  // Winsock at its first use
    QuietPlatform platform{host,
                           lock,
                           *devices,
                           fingerprints,
                           marks,
                           *machine.spooler,
                           *machine.services,
                           shell,
                           machine.files,
                           machine.facts,
                           *machine.clock,
                           machine.messages,
                           *machine.checks,
                           *xcv,
                           *probe};
    return static_cast<int>(RunQuietly(
        platform, catalogue, std::u16string_view(reinterpret_cast<const char16_t*>(arguments))));
}

}  // namespace tde
