// The installation run on Windows: the machine it works on, one assembly for
// the dialog and the quiet run; the dialog's install button and message boxes,
// and the process's log file.
#pragma once

#include "install/staging_win32.h"
#include "install/workflow.h"

#include <memory>

namespace tde {

// Message boxes owned by the dialog, captioned with the text of "tip.dlgtitle";
// the install button is the dialog's control buttonId.
class Win32InstallerUi final : public InstallerUi {
  public:
    Win32InstallerUi(WindowHandle dialog, int buttonId, const TextTable& texts)
        : dialog_(dialog), buttonId_(buttonId), texts_(texts) {}
    WindowHandle Owner() override { return dialog_; }
    void EnableInstallButton(bool enable) override;
    void ShowTip(std::u16string_view text) override;

  private:
    WindowHandle dialog_;
    int buttonId_;
    const TextTable& texts_;
};

// Each line as one entry of the process's log file; a finished text is never
// used as a format.
class Win32InstallLog final : public InstallLog {
  public:
    void Write(std::u16string_view line) override;
    // Kept after the program's normal exit, which would delete it.
    void Keep() override;
};

// This machine's spooler, service manager, files, facts, clock, messages and
// checks; the caller adds how it starts programs, its texts, log and UI.
struct Win32Machine {
    Win32Machine();
    InstallPlatform Platform(Shell& shell, const TextTable& texts, InstallLog& log,
                             InstallerUi& ui);

    std::unique_ptr<Spooler> spooler;
    std::unique_ptr<ServiceControl> services;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<PreflightQueries> checks;
    Win32StagingFiles files;
    Win32SystemFacts facts;
    Win32SystemMessages messages;
};

}  // namespace tde
