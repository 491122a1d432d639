// The installation run's UI and log on Windows: the dialog's install button and
// message boxes, and the process's log file.
#pragma once

#include "install/workflow.h"

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

}  // namespace tde
