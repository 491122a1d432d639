// Unattended installs and removals: what the program does when it is started
// with arguments. Without arguments it is the dialog program and none of this runs.
#pragma once

#include "install/installer_lock.h"
#include "quiet/unattended.h"
#include "install/shell.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace tde {

// Standard output and error of the process: the handles it was started with, or
// else the console of the parent process when it has one.
class QuietConsole {
  public:
    QuietConsole();
    ~QuietConsole();
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;

    bool HasOutput() const { return out_ != nullptr; }
    bool HasError() const { return err_ != nullptr; }
    // One line, ended with CR LF; text for a console goes as UTF-16, text for a
    // file or pipe in the ANSI code page.
    void Out(std::u16string_view text) { Write(out_, text); }
    void Err(std::u16string_view text) { Write(err_, text); }

  private:
    static void Write(HANDLE handle, std::u16string_view text);
    HANDLE out_ = nullptr;
    HANDLE err_ = nullptr;
    HANDLE console_ = INVALID_HANDLE_VALUE;  // CONOUT$ of an attached console
};

// A fleet must not hang on certutil for ever.
inline constexpr DWORD kQuietProgramWaitMs = 2 * 60 * 1000;

// Starts programs for a run without a window: the printer properties window is
// never opened, and a program is waited for at most waitMs, then the run goes on.
class QuietShell final : public Shell {
  public:
    explicit QuietShell(RunReporter report, DWORD waitMs = kQuietProgramWaitMs)
        : report_(std::move(report)), waitMs_(waitMs) {}
    std::u16string SystemFolder() override { return shell_.SystemFolder(); }
    std::u16string ProgramFilesFolder() override { return shell_.ProgramFilesFolder(); }
    bool Execute(const ShellRequest&) override { return false; }
    bool ExecuteAndWait(const ShellRequest& request) override;

  private:
    RunReporter report_;
    DWORD waitMs_;
    Win32Shell shell_;
};

// Intune and Configuration Manager run installs as SYSTEM, whose default
// printer is no user's: true for a process of LocalSystem.
bool RunsAsLocalSystem();

// HKLM\Software\ZNW\DovEzuvar\Created\<model>, in the registry view of this
// 32-bit program. The keys it creates let only Administrators and SYSTEM write.
class RegistryCreationMarks final : public CreationMarks {
  public:
    bool Set(std::u16string_view model) override;
    bool IsSet(std::u16string_view model) override;
    bool Clear(std::u16string_view model) override;
};

// Files read from disk without following a link; items as the program's own
// registered archive records them.
class Win32Fingerprints final : public FingerprintSource {
  public:
    std::optional<FileFingerprint> OfFile(std::u16string_view path) override;
    std::optional<FileFingerprint> OfItem(std::u16string_view archivePath) override;
};

// Runs the command line (the part after the program name, not blank) and
// answers the process's exit code.
int RunCommandLine(HINSTANCE instance, const wchar_t* arguments);

}  // namespace tde
