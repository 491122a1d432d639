// The install button: the dialog's state into a request, and one run over the
// machine's spooler, service manager, shell and file system.
#include "app/main_dialog.h"

#include "install/installer_lock.h"
#include "app/resource_ids.h"
#include "install/workflow.h"
#include "install/workflow_win32.h"
#include "spooler/spooler.h"
#include "system/system.h"
#include "text/text.h"

namespace tde {

void CTarnDovEzuvarDlg::RunInstallation() {
    // The lock quiet runs take, held for the length of this run. Only a run that
    // holds it stops this one; a lock that cannot be had for another reason (a
    // name a user squatted where private namespaces are missing) does not keep
    // an administrator from installing.
    Win32InstallerLock lock;
    if (TakeInstallerLock(lock) == LockState::HeldElsewhere) {
        const TextTable& texts = GetTextTable();
        const std::u16string text = texts.GetText(textkey::kInstallerBusy);
        const std::u16string caption = texts.GetText(textkey::kDlgTitle);
        MessageBoxW(window_, reinterpret_cast<const wchar_t*>(text.c_str()),
                    reinterpret_cast<const wchar_t*>(caption.c_str()), MB_OK | MB_ICONINFORMATION);
        return;
    }
    const int selected =
        static_cast<int>(SendDlgItemMessageW(window_, IDC_MODEL, CB_GETCURSEL, 0, 0));
    wchar_t port[256] = {};
    GetDlgItemTextW(window_, IDC_PORT, port, 256);
    const UINT check = IsDlgButtonChecked(window_, IDC_DEFAULT_PRINTER);
    InstallRequest request =
        MakeInstallRequest(catalogue, selected, std::u16string(port, port + wcslen(port)), check);

    Win32Machine machine;
    Win32Shell shell;
    Win32InstallLog log;
    Win32InstallerUi ui(window_, IDC_INSTALL, GetTextTable());
    InstallPlatform platform = machine.Platform(shell, GetTextTable(), log, ui);
    RunInstallationWorkflow(platform, installedLists_, std::move(request));
}

}  // namespace tde
